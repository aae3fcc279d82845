// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ChartWindow.h"

#include "app/SaveDialog.h"
#include "core/Records.h"
#include "toolkit/Dialogs.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLaneRowHeight = 12;
// Qt Charts takes about 2.5 ms of a core to redraw four series of a thousand points; ten
// times a second keeps the chart within 1.6 times the window's own cost at the 5 ms
// interval and still moves on by a hundredth of the span each time.
constexpr std::chrono::milliseconds kShortestRefresh{100};
constexpr std::array<int, 4> kSpanSeconds = {5, 10, 30, 60};

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

}  // namespace

// Which buttons were held when: one row per button, filled where it was held, on the same
// time scale as the plot area above it.
class ChartWindow::ButtonLane : public QWidget {
public:
    explicit ButtonLane(ChartWindow& owner) : QWidget(&owner), owner_(owner)
    {
        setFixedHeight(static_cast<int>(zub3::kButtons.size()) * kLaneRowHeight + 4);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        const QRectF area = owner_.chart_->plotArea();
        const double spanS = std::chrono::duration<double>(owner_.span_).count();
        auto x = [&](double s) { return area.left() + (s + spanS) / spanS * area.width(); };
        const auto& samples = owner_.samples_;
        for (std::size_t row = 0; row < zub3::kButtons.size(); ++row) {
            const int top = 2 + static_cast<int>(row) * kLaneRowHeight;
            const auto& button = zub3::kButtons[row];
            p.setPen(Qt::black);
            p.drawText(QRectF(0, top, area.left() - 4, kLaneRowHeight),
                       Qt::AlignRight | Qt::AlignVCenter, QString::fromUtf8(button.symbol.data(),
                                                       static_cast<int>(button.symbol.size())));
            p.setPen(QColor(0xE0, 0xE0, 0xE0));
            p.drawLine(QPointF(area.left(), top + kLaneRowHeight - 0.5),
                       QPointF(area.right(), top + kLaneRowHeight - 0.5));
            // Runs of polls that found it held, each to the poll that found it released.
            for (std::size_t i = 0; i < samples.size();) {
                if (!(samples[i].data.buttons & button.bit)) {
                    ++i;
                    continue;
                }
                const std::size_t start = i;
                while (i < samples.size() && (samples[i].data.buttons & button.bit))
                    ++i;
                const double x1 = x(owner_.secondsBeforeNewest(samples[start]));
                const double x2 = i < samples.size() ? x(owner_.secondsBeforeNewest(samples[i]))
                                                     : x(0) + 1;
                p.fillRect(QRectF(x1, top + 1, std::max(1.0, x2 - x1), kLaneRowHeight - 3),
                           QColor(0x20, 0x60, 0xC0));
            }
        }
    }

private:
    ChartWindow& owner_;
};

ChartWindow::ChartWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("ZUB-3 Manager グラフ"));
    chart_ = new QChart;
    chart_->setMargins({4, 4, 4, 4});
    timeAxis_ = new QValueAxis;
    timeAxis_->setTitleText(tr("時間 [秒]"));
    timeAxis_->setLabelFormat(QStringLiteral("%.0f"));
    auto* valueAxis = new QValueAxis;
    valueAxis->setRange(0, 255);
    valueAxis->setLabelFormat(QStringLiteral("%.0f"));
    valueAxis->setTickCount(6);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis, Qt::AlignLeft);
    for (std::size_t c = 0; c < series_.size(); ++c) {
        series_[c] = new QLineSeries;
        series_[c]->setName(QStringLiteral("PA%1").arg(c + 1));
        chart_->addSeries(series_[c]);
        series_[c]->attachAxis(timeAxis_);
        series_[c]->attachAxis(valueAxis);
    }
    auto* view = new QChartView(chart_);
    view->setMinimumSize(560, 300);
    view->viewport()->setMouseTracking(true);
    view->viewport()->installEventFilter(this);

    lane_ = new ButtonLane(*this);
    plots_ = new QWidget(this);
    auto* plotsLayout = new QVBoxLayout(plots_);
    plotsLayout->setContentsMargins(0, 0, 0, 0);
    plotsLayout->setSpacing(0);
    plotsLayout->addWidget(view, 1);
    plotsLayout->addWidget(lane_);

    readout_ = new QLabel(this);
    spanBox_ = new QComboBox(this);
    for (const int s : kSpanSeconds)
        spanBox_->addItem(tr("%1 秒").arg(s), s);
    spanBox_->setCurrentIndex(1);
    connect(spanBox_, &QComboBox::activated, this, [this] {
        SetSpan(std::chrono::seconds(spanBox_->currentData().toInt()));
    });
    auto* png = new QPushButton(tr("画像を保存..."), this);
    connect(png, &QPushButton::clicked, this, &ChartWindow::savePng);
    auto* csv = new QPushButton(tr("CSVを保存..."), this);
    connect(csv, &QPushButton::clicked, this, &ChartWindow::saveCsv);

    auto* controls = new QHBoxLayout;
    controls->addWidget(readout_, 1);
    controls->addWidget(new QLabel(tr("表示範囲"), this));
    controls->addWidget(spanBox_);
    controls->addWidget(png);
    controls->addWidget(csv);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plots_, 1);
    layout->addLayout(controls);

    refresh_.setSingleShot(true);
    connect(&refresh_, &QTimer::timeout, this, &ChartWindow::Refresh);
    Refresh();
}

void ChartWindow::Add(const zub3::PollResult& poll)
{
    if (!poll.data)
        return;
    samples_.push_back({poll.sent, poll.sentWallMs, *poll.data});
    while (poll.sent - samples_.front().t > span_)
        samples_.pop_front();
    scheduleRefresh();
}

void ChartWindow::SetSpan(std::chrono::milliseconds span)
{
    span_ = span;
    while (!samples_.empty() && samples_.back().t - samples_.front().t > span_)
        samples_.pop_front();
    for (int i = 0; i < spanBox_->count(); ++i)
        if (std::chrono::seconds(spanBox_->itemData(i).toInt()) == span_)
            spanBox_->setCurrentIndex(i);
    Refresh();
}

bool ChartWindow::shown() const
{
    return isVisible() && !isMinimized();
}

void ChartWindow::scheduleRefresh()
{
    if (!shown() || refresh_.isActive())
        return;
    // Never more often than the screen shows a frame.
    const QScreen* s = screen();
    const double hz = s && s->refreshRate() > 1 ? s->refreshRate() : 60.0;
    refresh_.start(std::max<int>(static_cast<int>(std::ceil(1000.0 / hz)),
                                 static_cast<int>(kShortestRefresh.count())));
}

double ChartWindow::secondsBeforeNewest(const Sample& s) const
{
    return seconds(s.t - samples_.back().t);
}

void ChartWindow::Refresh()
{
    refresh_.stop();
    const double spanS = std::chrono::duration<double>(span_).count();
    timeAxis_->setRange(-spanS, 0);
    timeAxis_->setTickCount(spanS <= 10 ? static_cast<int>(spanS) + 1 : 7);
    // More polls than the plot has pixel columns draw over one another: each column keeps
    // its lowest and its highest value, in the order they came, so the line looks the same.
    const int columns = std::max(1, static_cast<int>(chart_->plotArea().width()));
    const bool thin = samples_.size() > 2 * static_cast<std::size_t>(columns);
    for (std::size_t c = 0; c < series_.size(); ++c) {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(std::min<std::size_t>(samples_.size(), 2 * columns + 2)));
        int column = -1;
        QPointF low, high;
        auto flush = [&] {
            if (column < 0)
                return;
            points.append(low.x() <= high.x() ? low : high);
            if (low != high)
                points.append(low.x() <= high.x() ? high : low);
        };
        for (const Sample& s : samples_) {
            const QPointF p(secondsBeforeNewest(s), s.data.channels[c]);
            if (!thin) {
                points.append(p);
                continue;
            }
            const int col = static_cast<int>((p.x() + spanS) / spanS * columns);
            if (col != column) {
                flush();
                column = col;
                low = high = p;
            } else if (p.y() < low.y()) {
                low = p;
            } else if (p.y() > high.y()) {
                high = p;
            }
        }
        flush();
        series_[c]->replace(points);
    }
    lane_->update();
}

void ChartWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Refresh();
}

void ChartWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && shown())
        Refresh();
}

bool ChartWindow::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        showReadout(static_cast<QMouseEvent*>(event)->position());
    else if (event->type() == QEvent::Leave)
        readout_->clear();
    return false;
}

void ChartWindow::showReadout(const QPointF& viewPosition)
{
    if (samples_.empty())
        return;
    const double at = chart_->mapToValue(viewPosition).x();
    // The poll nearest in time to the pointer.
    const auto later = std::lower_bound(
        samples_.begin(), samples_.end(), at,
        [this](const Sample& s, double t) { return secondsBeforeNewest(s) < t; });
    auto nearest = later == samples_.end() ? std::prev(later) : later;
    if (later != samples_.begin() && later != samples_.end() &&
        at - secondsBeforeNewest(*std::prev(later)) < secondsBeforeNewest(*later) - at)
        nearest = std::prev(later);
    QStringList held;
    for (const auto& b : zub3::kButtons)
        if (nearest->data.buttons & b.bit)
            held << QString::fromUtf8(b.symbol.data(), static_cast<int>(b.symbol.size()));
    const auto& pa = nearest->data.channels;
    readout_->setText(tr("%1 秒　PA1 %2　PA2 %3　PA3 %4　PA4 %5　押下 %6")
                          .arg(QString::number(secondsBeforeNewest(*nearest), 'f', 3))
                          .arg(pa[0])
                          .arg(pa[1])
                          .arg(pa[2])
                          .arg(pa[3])
                          .arg(held.isEmpty() ? tr("なし") : held.join(QLatin1Char(' '))));
}

std::string ChartWindow::Csv() const
{
    std::string out = zub3::Header(zub3::Format::Csv, false);
    for (const Sample& s : samples_)
        out += zub3::FormatRecord(
            zub3::Format::Csv, false,
            {seconds(s.t - samples_.front().t) * 1000, zub3::WallClock(s.wallMs), s.data, {}, {}});
    return out;
}

QImage ChartWindow::Image()
{
    Refresh();
    return plots_->grab().toImage();
}

void ChartWindow::savePng()
{
    const QString file = AskSaveFile(this, tr("グラフを画像で保存"), QStringLiteral("zub3-chart"),
                                     QStringLiteral("png"), tr("PNG 画像 (*.png)"));
    if (!file.isEmpty() && !Image().save(file, "PNG"))
        ShowWarning(tr("%1 に保存できませんでした").arg(file));
}

void ChartWindow::saveCsv()
{
    const QString file = AskSaveFile(this, tr("グラフの値をCSVで保存"), QStringLiteral("zub3-chart"),
                                     QStringLiteral("csv"), tr("CSV ファイル (*.csv)"));
    if (file.isEmpty())
        return;
    QSaveFile out(file);
    const std::string text = Csv();
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !out.commit())
        ShowWarning(tr("%1 に保存できませんでした: %2").arg(file, out.errorString()));
}
