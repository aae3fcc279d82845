// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StickView.h"

#include "core/Records.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::chrono::seconds kTraceTime{3};
constexpr std::chrono::milliseconds kRefreshEvery{100};
constexpr int kPadSize = 180;
// The gauges' full scale: values above it are shown at the edge, as the gauges do.
constexpr double kFullScale = 127;

}  // namespace

// One stick: x and y are two channels, up is a higher value.
class StickView::Pad : public QWidget {
public:
    Pad(const StickView& owner, int xChannel, int yChannel, QWidget* parent)
        : QWidget(parent), owner_(owner), x_(xChannel), y_(yChannel)
    {
        setFixedSize(kPadSize, kPadSize);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        const double span = kPadSize - 1;
        const auto at = [&](double x, double y) {
            return QPointF(std::min(x, kFullScale) / kFullScale * span,
                           span - std::min(y, kFullScale) / kFullScale * span);
        };
        p.setPen(QColor(0xE0, 0xE0, 0xE0));
        for (int v = 0; v <= 128; v += 32) {
            p.drawLine(at(v, 0), at(v, kFullScale));
            p.drawLine(at(0, v), at(kFullScale, v));
        }
        p.setPen(Qt::black);
        p.drawRect(QRectF(0, 0, span, span));
        const auto& travel = owner_.travel_.Channels();
        if (owner_.travel_.Empty())
            return;
        const auto& cx = travel[static_cast<std::size_t>(x_)];
        const auto& cy = travel[static_cast<std::size_t>(y_)];
        // The travel reached: a stick that cannot reach a corner leaves it outside.
        p.setPen(QPen(QColor(0x20, 0x60, 0xC0), 1, Qt::DashLine));
        p.drawRect(QRectF(at(cx.min, cy.max), at(cx.max, cy.min)));
        // The trace as a dot per poll: where the stick has been shows as well as with lines,
        // and a dot costs the same however far the stick moved between two polls, where a
        // line drawn pixel by pixel across the pad cost more than the rest of the window.
        const QColor traceColour(0x60, 0x90, 0xD8);
        const auto stick = [&](const std::array<zub3::Byte, 4>& channels) {
            return at(channels[static_cast<std::size_t>(x_)], channels[static_cast<std::size_t>(y_)]);
        };
        for (const TracePoint& t : owner_.trace_) {
            const QPointF c = stick(t.channels);
            p.fillRect(QRectF(std::floor(c.x()) - 1, std::floor(c.y()) - 1, 3, 3), traceColour);
        }
        p.setRenderHint(QPainter::Antialiasing);
        if (cx.rest && cy.rest) {
            const QPointF r = at(*cx.rest, *cy.rest);
            p.setPen(QPen(QColor(0x00, 0x90, 0x00), 2));
            p.drawLine(r - QPointF(6, 0), r + QPointF(6, 0));
            p.drawLine(r - QPointF(0, 6), r + QPointF(0, 6));
        }
        if (!owner_.trace_.empty()) {
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::red);
            p.drawEllipse(stick(owner_.trace_.back().channels), 4, 4);
        }
    }

private:
    const StickView& owner_;
    int x_, y_;
};

StickView::StickView(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("ZUB-3 Manager スティックと通信品質"));
    auto* pads = new QHBoxLayout;
    const struct {
        int x, y;
        const char* caption;
    } sticks[] = {
        {1, 0, QT_TR_NOOP("左スティック（横 PA2、縦 PA1）")},
        {2, 3, QT_TR_NOOP("右スティック（横 PA3、縦 PA4）")},
    };
    for (std::size_t i = 0; i < pads_.size(); ++i) {
        auto* column = new QVBoxLayout;
        pads_[i] = new Pad(*this, sticks[i].x, sticks[i].y, this);
        column->addWidget(pads_[i], 0, Qt::AlignHCenter);
        column->addWidget(new QLabel(tr(sticks[i].caption), this), 0, Qt::AlignHCenter);
        pads->addLayout(column);
    }

    auto* table = new QGridLayout;
    const QString headers[] = {tr("現在"), tr("最小"), tr("最大"), tr("中立")};
    for (int col = 0; col < 4; ++col)
        table->addWidget(new QLabel(headers[col], this), 0, col + 1, Qt::AlignRight);
    for (int c = 0; c < 4; ++c) {
        table->addWidget(new QLabel(QStringLiteral("PA%1").arg(c + 1), this), c + 1, 0);
        for (int col = 0; col < 4; ++col) {
            auto* cell = new QLabel(this);
            cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cell->setMinimumWidth(cell->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
            cells_[static_cast<std::size_t>(c)][static_cast<std::size_t>(col)] = cell;
            table->addWidget(cell, c + 1, col + 1);
        }
    }
    auto* reset = new QPushButton(tr("リセット"), this);
    reset->setToolTip(tr("最小・最大・中立と軌跡を消去します"));
    connect(reset, &QPushButton::clicked, this, &StickView::ResetTravel);
    table->addWidget(reset, 5, 3, 1, 2);
    table->setColumnStretch(5, 1);

    auto* link = new QGroupBox(tr("通信品質（スイッチを入れてから）"), this);
    linkText_ = new QLabel(link);
    // Room from the start for the counts of a long run (tens of millions of polls) and any
    // share, so that the panel opens as wide as it will ever need and no counter is cut.
    QString widest = link_.Describe(LinkQuality::Clock::now());
    widest.replace(QRegularExpression(QStringLiteral("\\d+\\.\\d")), QStringLiteral("100.0"));
    widest.replace(QRegularExpression(QStringLiteral("(?<![\\d.])\\d+(?![\\d.])")),
                   QStringLiteral("00000000"));
    int widestLine = 0;
    for (const QString& line : widest.split(QLatin1Char('\n')))
        widestLine = std::max(widestLine, linkText_->fontMetrics().horizontalAdvance(line));
    linkText_->setMinimumWidth(widestLine);
    auto* linkLayout = new QVBoxLayout(link);
    linkLayout->addWidget(linkText_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pads);
    layout->addLayout(table);
    layout->addWidget(link);
    layout->addStretch(1);

    refresh_.setInterval(kRefreshEvery);
    connect(&refresh_, &QTimer::timeout, this, &StickView::Refresh);
    Refresh();
}

void StickView::Add(const zub3::PollResult& poll)
{
    link_.Add(poll);
    if (!poll.data)
        return;
    travel_.Add(poll.sent, poll.data->channels);
    trace_.push_back({poll.sent, poll.data->channels});
    while (poll.sent - trace_.front().t > kTraceTime)
        trace_.pop_front();
}

void StickView::RestartLink()
{
    link_.Restart();
    Refresh();
}

void StickView::ResetTravel()
{
    travel_.Reset();
    trace_.clear();
    Refresh();
}

QString StickView::Text(int channel, int column) const
{
    return cells_[static_cast<std::size_t>(channel)][static_cast<std::size_t>(column)]->text();
}

QString StickView::LinkText() const
{
    return linkText_->text();
}

void StickView::Refresh()
{
    const auto& channels = travel_.Channels();
    for (std::size_t c = 0; c < cells_.size(); ++c) {
        const auto number = [&](std::optional<int> v) {
            return v && !travel_.Empty() ? QString::number(*v) : QStringLiteral("-");
        };
        const std::optional<int> now =
            trace_.empty() ? std::nullopt : std::optional<int>(trace_.back().channels[c]);
        cells_[c][0]->setText(number(now));
        cells_[c][1]->setText(number(channels[c].min));
        cells_[c][2]->setText(number(channels[c].max));
        cells_[c][3]->setText(number(channels[c].rest));
    }
    linkText_->setText(link_.Describe(LinkQuality::Clock::now()));
    for (Pad* pad : pads_)
        pad->update();
}

void StickView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Refresh();
    refresh_.start();
}

void StickView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    refresh_.stop();
}
