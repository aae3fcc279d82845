// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ChartWindow.h"

#include "app/SaveDialog.h"
#include "core/Records.h"
#include "toolkit/Dialogs.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QToolButton>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kLaneRowHeight = 12;
// Ten times a second the plot moves on by a hundredth of the span, and the axes' layout,
// which Qt Charts redoes on each refresh, stays near 1 % of a core.
constexpr std::chrono::milliseconds kShortestRefresh{100};
// A long span moves on a pixel column every few seconds (an hour: about five), and each
// refresh walks every poll in it; the newest values still show within this.
constexpr std::chrono::milliseconds kLongestRefresh{1000};
constexpr std::array<int, 8> kSpanSeconds = {1, 2, 5, 10, 30, 60, 600, 3600};
constexpr double kShortestSpanS = 0.5;
constexpr double kLongestSpanS = 3600;
// The channels' values: the value axis never reaches beyond them, nor spans less than a few.
constexpr double kLowestValue = 0;
constexpr double kHighestValue = 255;
constexpr double kNarrowestValues = 4;
// Longer than the longest interval plus a reply's time-out: polls this far apart were not
// running (the switch was off), and no line joins them.
constexpr double kSilenceS = 1.5;
// Qt Charts' first four series colours, which the lines had when Qt Charts drew them.
const std::array<QColor, 4> kChannelColours = {QColor(0x20, 0x9F, 0xDF), QColor(0x99, 0xCA, 0x53),
                                               QColor(0xF6, 0xA6, 0x25), QColor(0x6D, 0x5F, 0xD5)};
const QColor kHeld(0x20, 0x60, 0xC0);
const QColor kGapShade(0xFF, 0x40, 0x40, 0x40);
const QColor kSelectionShade(0x40, 0x80, 0xFF, 0x30);
const QColor kCursor(0x20, 0x50, 0xC0);
const QColor kMarker(0xC0, 0x60, 0x00);

// A note as one CSV field: quoted when it holds a comma or a quote, on one line.
std::string csvField(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')))
        text = QLatin1Char('"') + text.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text.toStdString();
}

// Grid lines at multiples of a power of two, about five over the range: 32 for 0 to 127,
// as the gauges' quarters.
double valueTicks(double range)
{
    double step = 1;
    while (step * 5 < range)
        step *= 2;
    return step;
}

// Time grid lines at round steps, at least one in eight of the span: a time read off the
// axis is what its label says.
double timeTicks(double span)
{
    static constexpr double steps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800};
    for (const double step : steps)
        if (step * 8 >= span)
            return step;
    return 3600;
}

// low to high moved inside the channels' values, as wide as it was where it fits (and
// not narrower than the narrowest, around its middle).
std::pair<double, double> withinValues(double low, double high)
{
    const double span = std::clamp(high - low, kNarrowestValues, kHighestValue - kLowestValue);
    low = std::clamp((low + high - span) / 2, kLowestValue, kHighestValue - span);
    return {low, low + span};
}

QString symbolOf(const zub3::ButtonName& b)
{
    return QString::fromUtf8(b.symbol.data(), static_cast<int>(b.symbol.size()));
}

}  // namespace

// The plot: the channels' lines over the chart's axes and grid, and the spans where polls
// failed shaded. The lines are drawn here rather than as Qt Charts series, which stroke
// every line into a shape on each change: that cost more than the whole window. They are
// kept in an image of whole pixel columns of time, which moves on with the plot, so that
// each refresh draws only the columns that are new.
class ChartWindow::PlotView : public QChartView {
public:
    PlotView(QChart* chart, const ChartWindow& owner) : QChartView(chart), owner_(owner) {}

protected:
    void drawForeground(QPainter* p, const QRectF&) override
    {
        const QRectF area = owner_.chart_->plotArea();
        if (area.width() < 1 || area.height() < 1)
            return;
        const double pixel = (owner_.shownTo_ - owner_.shownFrom_) / area.width();
        const auto first = static_cast<qint64>(std::floor(owner_.shownFrom_ / pixel));
        updateLines(area, pixel, first);
        p->save();
        // The newest poll, at the right end, is drawn on the plot's edge.
        p->setClipRect(area.adjusted(0, 0, 1, 0));
        const double left = std::round(area.left() + static_cast<double>(first) - owner_.shownFrom_ / pixel);
        p->drawImage(QPointF(left, area.top()), lines_);
        const auto x = [&](double s) { return area.left() + (s - owner_.shownFrom_) / pixel; };
        for (const Gap& g : owner_.gaps_) {
            const double x1 = std::max(area.left(), x(g.from));
            const double x2 = std::min(area.right(), x(g.to));
            if (x2 > x1)
                p->fillRect(QRectF(x1, area.top(), x2 - x1, area.height()), kGapShade);
        }
        // The selection, shaded between its two cursors.
        if (const auto& sel = owner_.selection_) {
            const double x1 = x(sel->first), x2 = x(sel->second);
            p->fillRect(QRectF(x1, area.top(), x2 - x1, area.height()), kSelectionShade);
            p->setPen(QPen(kCursor, 1));
            for (const double at : {x1, x2})
                p->drawLine(QPointF(at, area.top()), QPointF(at, area.bottom()));
        }
        // Markers: a dashed line with the note beside its top.
        const QFontMetrics metrics(p->font());
        for (const Marker& m : owner_.markers_) {
            if (m.at < owner_.shownFrom_ || m.at > owner_.shownTo_)
                continue;
            const double at = std::floor(x(m.at));
            p->setPen(QPen(kMarker, 1, Qt::DashLine));
            p->drawLine(QPointF(at, area.top()), QPointF(at, area.bottom()));
            p->setPen(kMarker);
            p->drawText(QPointF(at + 3, area.top() + metrics.ascent() + 2),
                        metrics.elidedText(m.note, Qt::ElideRight, 160));
        }
        p->restore();
    }

private:
    // What the image's pixels mean; when it changes, the image is drawn anew.
    struct Scale {
        double pixel, height, bottom, top;  // seconds a column, and the value axis
        std::array<bool, 4> shown;
        qreal ratio;
        bool operator==(const Scale&) const = default;
    };

    // Brings the image to columns `first` on (in pixels of time from the session's start).
    void updateLines(const QRectF& area, double pixel, qint64 first)
    {
        const qreal ratio = devicePixelRatioF();
        const int width = static_cast<int>(std::ceil(area.width())) + 2;
        const Scale scale{pixel, area.height(), owner_.valueLow_, owner_.valueHigh_,
                          owner_.channelShown_, ratio};
        const qint64 shift = first - first_;
        const int deviceShift = static_cast<int>(std::lround(static_cast<double>(shift) * ratio));
        qint64 redrawFrom = first;
        if (!lines_.isNull() && scale == scale_ && shift >= 0 && shift < width &&
            std::abs(static_cast<double>(shift) * ratio - deviceShift) < 1e-6) {
            // The columns already drawn move left; from the newest point drawn last time
            // on, a column may have changed (a later poll in it, the line to a new poll).
            for (int y = 0; y < lines_.height(); ++y) {
                uchar* row = lines_.scanLine(y);
                std::memmove(row, row + deviceShift * 4,
                             static_cast<std::size_t>(lines_.width() - deviceShift) * 4);
            }
            redrawFrom = std::max(first, std::min(first + width - shift, newest_) - 1);
        } else {
            lines_ = QImage(QSize(width, static_cast<int>(std::ceil(area.height()))) * ratio,
                            QImage::Format_ARGB32_Premultiplied);
            lines_.setDevicePixelRatio(ratio);
        }
        scale_ = scale;
        first_ = first;
        newest_ = first;
        const QRectF redrawn(static_cast<double>(redrawFrom - first), 0, width, area.height());
        QPainter p(&lines_);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(redrawn, Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setClipRect(redrawn);
        // The ends of the value axis on the plot's first and last rows, where they show.
        const auto at = [&](QPointF v) {
            return QPointF(v.x() / pixel - static_cast<double>(first),
                           (area.height() - 1) * (1 - (v.y() - scale.bottom) / (scale.top - scale.bottom)));
        };
        const double from = static_cast<double>(redrawFrom) * pixel;
        for (std::size_t c = 0; c < owner_.points_.size(); ++c) {
            const auto& points = owner_.points_[c];
            if (!points.isEmpty())
                newest_ = std::max(newest_, static_cast<qint64>(std::floor(points.back().x() / pixel)));
            if (!owner_.channelShown_[c])
                continue;
            // From the point before the first column drawn, so that the line comes in.
            auto begin = std::lower_bound(points.begin(), points.end(), from,
                                          [](QPointF q, double t) { return q.x() < t; });
            if (begin != points.begin())
                --begin;
            drawLine(p, begin, points.end(), at, kChannelColours[c]);
        }
    }

    // A one-pixel line. A step at most a pixel wide is filled as a pixel column, the
    // painter's fastest path: with more polls than pixels, the usual case at short
    // intervals, that is nearly every step, and lines stroked pixel by pixel cost more than
    // the whole window. Longer steps go through the painter's line path.
    template <typename Map>
    static void drawLine(QPainter& p, QList<QPointF>::const_iterator begin,
                         QList<QPointF>::const_iterator end, Map at, const QColor& colour)
    {
        p.setPen(QPen(colour, 1));
        QPolygonF run;
        std::optional<QPointF> previous;
        const auto flush = [&] {
            if (run.size() > 1)
                p.drawPolyline(run);
            run.clear();
        };
        for (auto v = begin; v != end; ++v) {
            if (std::isnan(v->y())) {
                flush();
                previous.reset();
                continue;
            }
            const QPointF q = at(*v);
            if (previous && std::abs(q.x() - previous->x()) <= 1) {
                flush();
                const double top = std::floor(std::min(previous->y(), q.y()));
                const double bottom = std::floor(std::max(previous->y(), q.y()));
                p.fillRect(QRectF(std::floor(q.x()), top, 1, bottom - top + 1), colour);
            } else {
                if (run.isEmpty() && previous)
                    run << *previous;
                run << q;
            }
            previous = q;
        }
        flush();
    }

    QImage lines_;
    Scale scale_{};
    qint64 first_ = 0;   // the image's first column
    qint64 newest_ = 0;  // the column of the newest point drawn
    const ChartWindow& owner_;
};

// Which buttons were held when: one row per button shown, filled where it was held, on the
// same time scale as the plot area above it.
class ChartWindow::ButtonLane : public QWidget {
public:
    explicit ButtonLane(ChartWindow& owner) : QWidget(&owner), owner_(owner) {}

    void Fit()
    {
        const auto rows = std::count(owner_.buttonShown_.begin(), owner_.buttonShown_.end(), true);
        setFixedHeight(static_cast<int>(rows) * kLaneRowHeight + 4);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        const QRectF area = owner_.chart_->plotArea();
        const double span = owner_.shownTo_ - owner_.shownFrom_;
        auto x = [&](double s) {
            return std::clamp(area.left() + (s - owner_.shownFrom_) / span * area.width(),
                              area.left(), area.right() + 1);
        };
        for (const Gap& g : owner_.gaps_)
            p.fillRect(QRectF(x(g.from), 0, x(g.to) - x(g.from), height()), kGapShade);
        int row = 0;
        for (std::size_t b = 0; b < zub3::kButtons.size(); ++b) {
            if (!owner_.buttonShown_[b])
                continue;
            const int top = 2 + row++ * kLaneRowHeight;
            p.setPen(Qt::black);
            p.drawText(QRectF(0, top, area.left() - 4, kLaneRowHeight),
                       Qt::AlignRight | Qt::AlignVCenter, symbolOf(zub3::kButtons[b]));
            p.setPen(QColor(0xE0, 0xE0, 0xE0));
            p.drawLine(QPointF(area.left(), top + kLaneRowHeight - 0.5),
                       QPointF(area.right(), top + kLaneRowHeight - 0.5));
            for (const HeldRun& r : owner_.held_[b]) {
                const double x1 = x(r.from);
                const double x2 = r.toLastPoll ? x(r.to) + 1 : x(r.to);
                p.fillRect(QRectF(x1, top + 1, std::max(1.0, x2 - x1), kLaneRowHeight - 3), kHeld);
            }
        }
    }

private:
    ChartWindow& owner_;
};

ChartWindow::ChartWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("ZUB-3 Manager グラフ"));
    buttonShown_.fill(true);
    channelShown_.fill(true);
    chart_ = new QChart;
    chart_->setMargins({4, 4, 4, 4});
    chart_->legend()->hide();  // the check boxes above name the channels in their colours
    timeAxis_ = new QValueAxis;
    timeAxis_->setTitleText(tr("時間 [秒]"));
    timeAxis_->setTickType(QValueAxis::TicksDynamic);
    timeAxis_->setTickAnchor(0);
    valueAxis_ = new QValueAxis;
    valueAxis_->setLabelFormat(QStringLiteral("%.0f"));
    valueAxis_->setTickType(QValueAxis::TicksDynamic);
    valueAxis_->setTickAnchor(0);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    auto* channels = new QHBoxLayout;
    for (std::size_t c = 0; c < points_.size(); ++c) {
        auto* shown = new QCheckBox(QStringLiteral("PA%1").arg(c + 1), this);
        shown->setChecked(true);
        QPalette palette = shown->palette();
        palette.setColor(QPalette::WindowText, kChannelColours[c]);
        shown->setPalette(palette);
        connect(shown, &QCheckBox::toggled, this, [this, c](bool on) {
            channelShown_[c] = on;
            Refresh();  // the value axis follows the channels shown
        });
        channels->addWidget(shown);
    }
    auto* buttons = new QToolButton(this);
    buttons->setText(tr("ボタン"));
    buttons->setPopupMode(QToolButton::InstantPopup);
    auto* buttonMenu = new QMenu(buttons);
    for (std::size_t b = 0; b < zub3::kButtons.size(); ++b) {
        QAction* a = buttonMenu->addAction(symbolOf(zub3::kButtons[b]));
        a->setCheckable(true);
        a->setChecked(true);
        connect(a, &QAction::toggled, this, [this, b](bool on) {
            buttonShown_[b] = on;
            lane_->Fit();
            lane_->update();
        });
    }
    buttons->setMenu(buttonMenu);
    channels->addWidget(buttons);
    channels->addStretch(1);

    view_ = new PlotView(chart_, *this);
    view_->setMinimumSize(560, 300);
    view_->viewport()->setMouseTracking(true);
    view_->viewport()->installEventFilter(this);

    lane_ = new ButtonLane(*this);
    lane_->Fit();
    plots_ = new QWidget(this);
    auto* plotsLayout = new QVBoxLayout(plots_);
    plotsLayout->setContentsMargins(0, 0, 0, 0);
    plotsLayout->setSpacing(0);
    plotsLayout->addWidget(view_, 1);
    plotsLayout->addWidget(lane_);

    scroll_ = new QScrollBar(Qt::Horizontal, this);
    connect(scroll_, &QScrollBar::valueChanged, this, [this](int ms) {
        if (settingScroll_)
            return;
        following_ = ms >= scroll_->maximum();
        viewEnd_ = ms / 1000.0;
        updatePauseButton();
        Refresh();
    });

    // Long texts are cut rather than widening the window.
    readout_ = new QLabel(this);
    readout_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    readout_->setMinimumHeight(readout_->fontMetrics().height());
    stats_ = new QLabel(this);
    stats_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    stats_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stats_->setToolTip(tr("表示中の範囲、またはグラフの上でドラッグして選んだ範囲の統計です。"
                          "クリックで選択を解除します。"));
    spanBox_ = new QComboBox(this);
    for (const int s : kSpanSeconds)
        spanBox_->addItem(tr("%1 秒").arg(s), s);
    spanBox_->setCurrentIndex(3);
    connect(spanBox_, &QComboBox::activated, this, [this] {
        SetSpan(std::chrono::seconds(spanBox_->currentData().toInt()));
    });
    valueBox_ = new QComboBox(this);
    valueBox_->addItem(tr("全体"), QVariant::fromValue(static_cast<int>(ValueScale::Full)));
    valueBox_->addItem(tr("自動"), QVariant::fromValue(static_cast<int>(ValueScale::Fit)));
    valueBox_->setPlaceholderText(tr("手動"));
    valueBox_->setToolTip(tr("縦軸: 全体は 0〜127（127 を超える値が見えている間は 0〜255）、"
                             "自動は表示中の値に合わせます。Ctrl+ホイールで拡大・縮小、"
                             "Shift+ホイールで上下に移動します。"));
    connect(valueBox_, &QComboBox::activated, this, [this] {
        SetValueScale(static_cast<ValueScale>(valueBox_->currentData().toInt()));
    });
    pause_ = new QPushButton(this);
    connect(pause_, &QPushButton::clicked, this, [this] { SetPaused(!Paused()); });
    // The window's menu holds it beside the main window's entries that open panels.
    auto* markKey = new QAction(tr("マーカーを付ける"), this);
    markKey->setShortcut(Qt::Key_M);
    connect(markKey, &QAction::triggered, this, &ChartWindow::dropMarker);
    addAction(markKey);
    auto* pauseKey = new QAction(tr("一時停止・再開"), this);
    pauseKey->setShortcut(Qt::Key_Space);
    connect(pauseKey, &QAction::triggered, this, [this] { SetPaused(!Paused()); });
    addAction(pauseKey);
    updatePauseButton();
    auto* png = new QPushButton(tr("画像を保存..."), this);
    connect(png, &QPushButton::clicked, this, &ChartWindow::savePng);
    auto* csv = new QPushButton(tr("CSVを保存"), this);
    auto* csvMenu = new QMenu(csv);
    connect(csvMenu->addAction(tr("表示中の範囲...")), &QAction::triggered, this,
            [this] { saveCsv(Extent::Visible); });
    connect(csvMenu->addAction(tr("セッション全体...")), &QAction::triggered, this,
            [this] { saveCsv(Extent::Session); });
    csv->setMenu(csvMenu);

    auto* controls = new QHBoxLayout;
    controls->addWidget(pause_);
    controls->addStretch(1);
    controls->addWidget(new QLabel(tr("縦軸"), this));
    controls->addWidget(valueBox_);
    controls->addWidget(new QLabel(tr("表示範囲"), this));
    controls->addWidget(spanBox_);
    controls->addWidget(png);
    controls->addWidget(csv);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(channels);
    layout->addWidget(plots_, 1);
    layout->addWidget(scroll_);
    layout->addWidget(readout_);
    layout->addWidget(stats_);
    layout->addLayout(controls);

    setContextMenuPolicy(Qt::ActionsContextMenu);
    refresh_.setSingleShot(true);
    connect(&refresh_, &QTimer::timeout, this, &ChartWindow::Refresh);
    Refresh();
}

void ChartWindow::Add(const zub3::PollResult& poll)
{
    if (samples_.empty())
        origin_ = poll.sent;
    samples_.push_back(poll);
    if (samples_.size() > kHistoryPolls)
        samples_.pop_front();
    if (following_)
        scheduleRefresh();
    else if (shown())
        updateScrollBar();
}

void ChartWindow::SetSpan(std::chrono::milliseconds span)
{
    span_ = span;
    const auto preset = std::find_if(kSpanSeconds.begin(), kSpanSeconds.end(),
                                     [&](int s) { return std::chrono::seconds(s) == span; });
    if (preset != kSpanSeconds.end()) {
        spanBox_->setCurrentIndex(static_cast<int>(preset - kSpanSeconds.begin()));
    } else {
        // A span the wheel made: told in the box without becoming one of its choices.
        spanBox_->setCurrentIndex(-1);
        spanBox_->setPlaceholderText(
            tr("%1 秒").arg(QString::number(std::chrono::duration<double>(span).count(), 'g', 3)));
    }
    Refresh();
}

void ChartWindow::SetPaused(bool paused)
{
    if (paused && following_)
        viewEnd_ = shownTo_;
    following_ = !paused;
    updatePauseButton();
    Refresh();
}

void ChartWindow::ScrollTo(double endSeconds)
{
    following_ = false;
    viewEnd_ = endSeconds;
    updatePauseButton();
    Refresh();
}

void ChartWindow::SetValueScale(ValueScale scale)
{
    if (scale == ValueScale::Manual)
        return;
    valueScale_ = scale;
    valueBox_->setCurrentIndex(valueBox_->findData(static_cast<int>(scale)));
    Refresh();
}

void ChartWindow::ZoomValues(double factor, double anchor)
{
    setManualValues(anchor - (anchor - valueLow_) * factor, anchor + (valueHigh_ - anchor) * factor);
}

void ChartWindow::PanValues(double delta)
{
    setManualValues(valueLow_ + delta, valueHigh_ + delta);
}

void ChartWindow::setManualValues(double low, double high)
{
    std::tie(valueLow_, valueHigh_) = withinValues(low, high);
    valueScale_ = ValueScale::Manual;
    valueBox_->setCurrentIndex(-1);
    Refresh();
}

void ChartWindow::Select(double from, double to)
{
    selection_ = std::minmax(from, to);
    Refresh();
}

void ChartWindow::AddMarker(double at, const QString& note)
{
    const auto later = std::upper_bound(markers_.begin(), markers_.end(), at,
                                        [](double t, const Marker& m) { return t < m.at; });
    markers_.insert(later, {at, note});
    if (markers_.size() > kMostMarkers)
        markers_.pop_front();
    Refresh();
}

// At the newest poll while the chart follows; paused, where the pointer is over the plot,
// else at the view's end.
void ChartWindow::dropMarker()
{
    if (samples_.empty())
        return;
    const double at = following_ ? seconds(samples_.back())
                      : pointer_  ? timeAt(pointer_->x())
                                  : shownTo_;
    bool ok = false;
    const QString note = QInputDialog::getText(this, tr("マーカー"), tr("メモ（空でもかまいません）"),
                                               QLineEdit::Normal, {}, &ok);
    if (ok)
        AddMarker(at, note.left(200));
}

void ChartWindow::ClearSelection()
{
    selection_.reset();
    Refresh();
}

std::array<std::optional<ChartWindow::ChannelStats>, 4> ChartWindow::Statistics() const
{
    const auto [from, to] = selection_.value_or(std::pair(shownFrom_, shownTo_));
    std::array<std::optional<ChannelStats>, 4> out;
    std::array<double, 4> sum{}, squares{};
    std::array<zub3::Byte, 4> first{};
    auto [begin, end] = indexRange(from, to);
    for (std::size_t i = begin; i < end; ++i) {
        const Sample& s = samples_[i];
        const double x = seconds(s);
        if (!s.data || x < from || x > to)
            continue;
        for (std::size_t c = 0; c < out.size(); ++c) {
            const double v = s.data->channels[c];
            if (!out[c]) {
                out[c] = ChannelStats{0, v, v, 0, 0, 0};
                first[c] = s.data->channels[c];
            }
            ChannelStats& st = *out[c];
            ++st.polls;
            st.min = std::min(st.min, v);
            st.max = std::max(st.max, v);
            st.change = v - first[c];
            sum[c] += v;
            squares[c] += v * v;
        }
    }
    for (std::size_t c = 0; c < out.size(); ++c) {
        if (!out[c])
            continue;
        const double n = static_cast<double>(out[c]->polls);
        out[c]->mean = sum[c] / n;
        out[c]->deviation = std::sqrt(std::max(0.0, squares[c] / n - out[c]->mean * out[c]->mean));
    }
    return out;
}

QString ChartWindow::StatisticsText() const
{
    return stats_->text();
}

void ChartWindow::showStatistics()
{
    const auto [from, to] = selection_.value_or(std::pair(shownFrom_, shownTo_));
    QStringList lines;
    lines << (selection_ ? tr("選択 %1〜%2 秒（Δ %3 秒）")
                               .arg(QString::number(from, 'f', 3), QString::number(to, 'f', 3),
                                    QString::number(to - from, 'f', 3))
                         : tr("表示中 %1〜%2 秒").arg(QString::number(from, 'f', 1),
                                                     QString::number(to, 'f', 1)));
    const auto stats = Statistics();
    for (std::size_t c = 0; c < stats.size(); ++c) {
        if (!channelShown_[c] || !stats[c])
            continue;
        const ChannelStats& st = *stats[c];
        QString line = tr("PA%1　最小 %2　最大 %3　平均 %4　標準偏差 %5")
                           .arg(c + 1)
                           .arg(st.min)
                           .arg(st.max)
                           .arg(QString::number(st.mean, 'f', 1), QString::number(st.deviation, 'f', 2));
        if (selection_)
            line += tr("　Δ %1").arg(st.change > 0 ? QStringLiteral("+%1").arg(st.change)
                                                   : QString::number(st.change));
        lines << line;
    }
    stats_->setText(lines.join(QLatin1Char('\n')));
}

void ChartWindow::updatePauseButton()
{
    pause_->setText(following_ ? tr("一時停止 (Space)") : tr("再開 (Space)"));
}

bool ChartWindow::shown() const
{
    return isVisible() && !isMinimized();
}

void ChartWindow::scheduleRefresh()
{
    if (!shown() || refresh_.isActive())
        return;
    // Never more often than the screen shows a frame, nor than the plot has a new pixel
    // column to show.
    const QScreen* s = screen();
    const double hz = s && s->refreshRate() > 1 ? s->refreshRate() : 60.0;
    const double columnMs =
        static_cast<double>(span_.count()) / std::max(1.0, chart_->plotArea().width());
    const double wait = std::max({1000.0 / hz, static_cast<double>(kShortestRefresh.count()), columnMs});
    refresh_.start(static_cast<int>(
        std::ceil(std::min(wait, static_cast<double>(kLongestRefresh.count())))));
}

double ChartWindow::seconds(const Sample& s) const
{
    return std::chrono::duration<double>(s.sent - origin_).count();
}

double ChartWindow::valueAt(double y) const
{
    const QRectF area = chart_->plotArea();
    return valueLow_ + (area.bottom() - y) / area.height() * (valueHigh_ - valueLow_);
}

double ChartWindow::timeAt(double x) const
{
    const QRectF area = chart_->plotArea();
    return shownFrom_ + (x - area.left()) / area.width() * (shownTo_ - shownFrom_);
}

std::pair<std::size_t, std::size_t> ChartWindow::indexRange(double from, double to) const
{
    const auto before = [this](const Sample& s, double t) { return seconds(s) < t; };
    const auto after = [this](double t, const Sample& s) { return t < seconds(s); };
    auto first = std::lower_bound(samples_.begin(), samples_.end(), from, before);
    auto last = std::upper_bound(first, samples_.end(), to, after);
    // One poll beyond each edge, so that the lines run to the edges.
    if (first != samples_.begin())
        --first;
    if (last != samples_.end())
        ++last;
    return {static_cast<std::size_t>(first - samples_.begin()),
            static_cast<std::size_t>(last - samples_.begin())};
}

void ChartWindow::updateScrollBar()
{
    const double spanS = std::chrono::duration<double>(span_).count();
    const double oldest = samples_.empty() ? 0 : seconds(samples_.front());
    const double newest = samples_.empty() ? 0 : seconds(samples_.back());
    const int low = static_cast<int>(std::lround((oldest + spanS) * 1000));
    settingScroll_ = true;
    scroll_->setRange(low, std::max(low, static_cast<int>(std::lround(newest * 1000))));
    scroll_->setPageStep(static_cast<int>(span_.count()));
    scroll_->setSingleStep(std::max(1, static_cast<int>(span_.count() / 10)));
    scroll_->setValue(following_ ? scroll_->maximum()
                                 : static_cast<int>(std::lround(shownTo_ * 1000)));
    settingScroll_ = false;
}

void ChartWindow::Refresh()
{
    refresh_.stop();
    const double spanS = std::chrono::duration<double>(span_).count();
    const double oldest = samples_.empty() ? 0 : seconds(samples_.front());
    const double newest = samples_.empty() ? 0 : seconds(samples_.back());
    shownTo_ = std::max(following_ ? newest : std::min(viewEnd_, newest), oldest + spanS);
    shownFrom_ = shownTo_ - spanS;
    timeAxis_->setRange(shownFrom_, shownTo_);
    const double timeStep = timeTicks(spanS);
    timeAxis_->setTickInterval(timeStep);
    timeAxis_->setLabelFormat(timeStep < 1 ? QStringLiteral("%.1f") : QStringLiteral("%.0f"));
    updateScrollBar();

    // More polls than the plot has pixel columns draw over one another: each column keeps
    // its lowest and its highest value, in the order they came, so the line looks the same.
    // Columns are whole pixels of time from the session's start, as the plot's image keeps
    // them, so that a column drawn once stays right as the plot moves on.
    const double width = std::max(1.0, chart_->plotArea().width());
    const double pixel = spanS / width;
    auto [first, last] = indexRange(shownFrom_, shownTo_);
    // The whole column of the poll the line comes in from, thinned as when it was in view.
    const auto columnOf = [&](std::size_t i) { return std::floor(seconds(samples_[i]) / pixel); };
    while (first > 0 && first < last && columnOf(first - 1) == columnOf(first))
        --first;
    for (auto& p : points_) {
        p.clear();
        p.reserve(static_cast<qsizetype>(
            std::min(last - first, 2 * static_cast<std::size_t>(width) + 2) + 16));
    }
    qint64 column = -1;
    std::array<QPointF, 4> low, high;
    // The lowest and highest value in view, for the value axis.
    double seenLow = kHighestValue, seenHigh = kLowestValue;
    const auto flush = [&] {
        if (column >= 0)
            for (std::size_t c = 0; c < points_.size(); ++c) {
                const bool lowFirst = low[c].x() <= high[c].x();
                points_[c].append(lowFirst ? low[c] : high[c]);
                if (low[c] != high[c])
                    points_[c].append(lowFirst ? high[c] : low[c]);
            }
        column = -1;
    };
    // A point that is no number breaks a line.
    const auto breakLines = [&](double x) {
        flush();
        for (auto& p : points_)
            p.append(QPointF(x, std::numeric_limits<double>::quiet_NaN()));
    };
    gaps_.clear();
    // Runs of polls that found a button held, each to the poll that found it released, to
    // a failed poll or to the last poll before the polls stopped: one pass for all buttons.
    std::uint16_t open = 0;
    std::array<double, zub3::kButtons.size()> heldFrom{};
    for (auto& runs : held_)
        runs.clear();
    const auto endRuns = [&](std::uint16_t ending, double at, bool toLastPoll) {
        for (std::size_t b = 0; ending && b < zub3::kButtons.size(); ++b)
            if (ending & zub3::kButtons[b].bit)
                held_[b].push_back({heldFrom[b], at, toLastPoll});
        open &= static_cast<std::uint16_t>(~ending);
    };
    const Sample* previous = nullptr;
    for (std::size_t i = first; i < last; ++i) {
        const Sample& s = samples_[i];
        const double x = seconds(s);
        if (previous && previous->data && (!s.data || x - seconds(*previous) > kSilenceS))
            endRuns(open, s.data ? seconds(*previous) : x, s.data.has_value());
        if (s.data) {
            const std::uint16_t held = s.data->buttons;
            endRuns(open & static_cast<std::uint16_t>(~held), x, false);
            for (std::size_t b = 0; b < zub3::kButtons.size(); ++b)
                if (held & ~open & zub3::kButtons[b].bit)
                    heldFrom[b] = x;
            open |= held;
        }
        if (!s.data) {
            if (!previous || previous->data) {
                breakLines(x);
                gaps_.push_back({previous ? seconds(*previous) : x, x});
            }
            gaps_.back().to = x;
            previous = &s;
            continue;
        }
        if (previous && !previous->data)
            gaps_.back().to = x;
        else if (previous && x - seconds(*previous) > kSilenceS)
            breakLines(x);
        previous = &s;
        const auto col = static_cast<qint64>(std::floor(x / pixel));
        const bool newColumn = col != column;
        if (newColumn) {
            flush();
            column = col;
        }
        if (x >= shownFrom_ && x <= shownTo_)
            for (std::size_t c = 0; c < points_.size(); ++c)
                if (channelShown_[c]) {
                    seenLow = std::min<double>(seenLow, s.data->channels[c]);
                    seenHigh = std::max<double>(seenHigh, s.data->channels[c]);
                }
        for (std::size_t c = 0; c < points_.size(); ++c) {
            const QPointF p(x, s.data->channels[c]);
            if (newColumn)
                low[c] = high[c] = p;
            else if (p.y() < low[c].y())
                low[c] = p;
            else if (p.y() > high[c].y())
                high[c] = p;
        }
    }
    flush();
    if (previous)
        endRuns(open, seconds(*previous), true);
    if (valueScale_ == ValueScale::Full || (valueScale_ == ValueScale::Fit && seenLow > seenHigh)) {
        valueLow_ = kLowestValue;
        valueHigh_ = seenHigh > 127 ? kHighestValue : 127;
    } else if (valueScale_ == ValueScale::Fit) {
        // A little room above and below, so that a line at its end does not run on the frame.
        const double margin = std::max(1.0, (seenHigh - seenLow) / 20);
        std::tie(valueLow_, valueHigh_) = withinValues(seenLow - margin, seenHigh + margin);
    }
    valueAxis_->setRange(valueLow_, valueHigh_);
    valueAxis_->setTickInterval(valueTicks(valueHigh_ - valueLow_));
    view_->viewport()->update();
    lane_->update();
    showReadout();
    showStatistics();
}

void ChartWindow::zoom(double factor, double anchorX)
{
    const double spanS = std::chrono::duration<double>(span_).count();
    const double newSpan = std::clamp(spanS * factor, kShortestSpanS, kLongestSpanS);
    if (!following_) {
        // The time under the pointer stays under it.
        const double at = timeAt(anchorX);
        viewEnd_ = at + (shownTo_ - at) * newSpan / spanS;
    }
    SetSpan(std::chrono::milliseconds(std::lround(newSpan * 1000)));
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
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            dragFrom_ = timeAt(mouse->position().x());
        break;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !dragFrom_)
            break;
        const double to = timeAt(mouse->position().x());
        const double pixel = (shownTo_ - shownFrom_) / std::max(1.0, chart_->plotArea().width());
        // A click, not a drag: the statistics go back to the view.
        if (std::abs(to - *dragFrom_) < 3 * pixel)
            ClearSelection();
        else
            Select(*dragFrom_, to);
        dragFrom_.reset();
        break;
    }
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        pointer_ = mouse->position();
        if (dragFrom_ && (mouse->buttons() & Qt::LeftButton))
            Select(*dragFrom_, timeAt(pointer_->x()));
        showReadout();
        break;
    }
    case QEvent::Leave:
        pointer_.reset();
        readout_->clear();
        break;
    case QEvent::Wheel: {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        // One notch of a wheel is 120; up zooms in. Some systems turn Shift's notches
        // sideways.
        const QPoint delta = wheel->angleDelta();
        const double notches = (delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
        if (wheel->modifiers() & Qt::ControlModifier)
            ZoomValues(std::pow(0.8, notches), valueAt(wheel->position().y()));
        else if (wheel->modifiers() & Qt::ShiftModifier)
            PanValues(notches * (valueHigh_ - valueLow_) / 10);
        else
            zoom(std::pow(0.8, notches), wheel->position().x());
        return true;
    }
    default:
        break;
    }
    return false;
}

QWidget* ChartWindow::Plot() const
{
    return view_->viewport();
}

QString ChartWindow::ReadoutText() const
{
    return readout_->text();
}

// The poll nearest in time to the pointer; kept up to date while the plot moves under it.
void ChartWindow::showReadout()
{
    if (!pointer_ || samples_.empty())
        return;
    const double at = timeAt(pointer_->x());
    const auto later = std::lower_bound(
        samples_.begin(), samples_.end(), at,
        [this](const Sample& s, double t) { return seconds(s) < t; });
    auto nearest = later == samples_.end() ? std::prev(later) : later;
    if (later != samples_.begin() && later != samples_.end() &&
        at - seconds(*std::prev(later)) < seconds(*later) - at)
        nearest = std::prev(later);
    if (!nearest->data) {
        readout_->setText(describeGap(static_cast<std::size_t>(nearest - samples_.begin())));
        return;
    }
    QStringList held;
    for (const auto& b : zub3::kButtons)
        if (nearest->data->buttons & b.bit)
            held << symbolOf(b);
    const auto& pa = nearest->data->channels;
    readout_->setText(tr("%1 秒　PA1 %2　PA2 %3　PA3 %4　PA4 %5　押下 %6")
                          .arg(QString::number(seconds(*nearest), 'f', 3))
                          .arg(pa[0])
                          .arg(pa[1])
                          .arg(pa[2])
                          .arg(pa[3])
                          .arg(held.isEmpty() ? tr("なし") : held.join(QLatin1Char(' '))));
}

// The run of failed polls around one of them, counted by what went wrong.
QString ChartWindow::describeGap(std::size_t failed) const
{
    std::size_t first = failed, last = failed;
    while (first > 0 && !samples_[first - 1].data)
        --first;
    while (last + 1 < samples_.size() && !samples_[last + 1].data)
        ++last;
    std::array<int, 5> count{};
    for (std::size_t i = first; i <= last; ++i)
        ++count[static_cast<std::size_t>(samples_[i].fault)];
    using F = zub3::PollFault;
    const auto n = [&](F f) { return count[static_cast<std::size_t>(f)]; };
    return tr("%1〜%2 秒　受信失敗 %3 回（応答なし %4、短い応答 %5、ヘッダ不一致 %6、"
              "チェックサム不一致 %7）")
        .arg(QString::number(seconds(samples_[first]), 'f', 3),
             QString::number(seconds(samples_[last]), 'f', 3))
        .arg(last - first + 1)
        .arg(n(F::Missed))
        .arg(n(F::Short))
        .arg(n(F::Header))
        .arg(n(F::Checksum));
}

std::string ChartWindow::Csv(Extent extent) const
{
    auto [first, last] = std::pair<std::size_t, std::size_t>{0, samples_.size()};
    if (extent == Extent::Visible) {
        std::tie(first, last) = indexRange(shownFrom_, shownTo_);
        // Only what lies inside the span, not the polls the lines run to.
        while (first < last && seconds(samples_[first]) < shownFrom_)
            ++first;
        while (last > first && seconds(samples_[last - 1]) > shownTo_)
            --last;
    }
    // Each marker goes on the first answered poll at or after it, the last one's on the last.
    std::vector<std::size_t> rows;
    for (std::size_t i = first; i < last; ++i)
        if (samples_[i].data)  // as in zub3ctl's records, a failed poll has no row
            rows.push_back(i);
    std::vector<std::vector<const Marker*>> marked(rows.size());
    bool anyMarker = false;
    if (!rows.empty())
        for (const Marker& m : markers_) {
            if (extent == Extent::Visible && (m.at < shownFrom_ || m.at > shownTo_))
                continue;
            const auto at = std::lower_bound(rows.begin(), rows.end(), m.at, [this](std::size_t i, double t) {
                return seconds(samples_[i]) < t;
            });
            marked[at == rows.end() ? rows.size() - 1 : static_cast<std::size_t>(at - rows.begin())].push_back(&m);
            anyMarker = true;
        }
    std::string out = zub3::Header(zub3::Format::Csv, false);
    if (anyMarker)
        out.insert(out.size() - 1, ",marker");
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const Sample& s = samples_[rows[r]];
        out += zub3::FormatRecord(zub3::Format::Csv, false, zub3::MakeRecord(s, samples_[rows.front()].sent));
        if (!anyMarker)
            continue;
        QStringList notes;
        for (const Marker* m : marked[r])
            notes << m->note;
        out.insert(out.size() - 1, "," + (notes.isEmpty() ? std::string() : csvField(notes.join(QStringLiteral("; ")))));
    }
    return out;
}

QImage ChartWindow::Image()
{
    Refresh();
    return plots_->grab().toImage();
}

void ChartWindow::SetSource(const QString& source)
{
    source_ = source;
}

QString ChartWindow::Caption() const
{
    QStringList parts{QStringLiteral("ZUB-3 Manager")};
    if (!source_.isEmpty())
        parts << source_;
    const auto [first, last] = indexRange(shownFrom_, shownTo_);
    for (std::size_t i = first; i < last; ++i)
        if (seconds(samples_[i]) >= shownFrom_) {
            parts << QString::fromStdString(zub3::WallClock(samples_[i].sentWallMs));
            break;
        }
    parts << tr("表示 %1 秒").arg(QString::number(shownTo_ - shownFrom_, 'g', 4));
    return parts.join(QStringLiteral("　"));
}

QImage ChartWindow::ExportImage()
{
    const QImage plot = Image();
    const qreal ratio = plot.devicePixelRatio();
    const QFontMetrics metrics(font());
    const int band = 2 * metrics.height() + 8;
    QImage out(plot.size() + QSize(0, static_cast<int>(std::ceil(band * ratio))), plot.format());
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::white);
    QPainter p(&out);
    p.setFont(font());
    p.setPen(Qt::black);
    p.drawText(QPointF(4, 2 + metrics.ascent()), Caption());
    // The legend: each channel shown in its colour.
    double x = 4;
    const double y = 4 + metrics.height();
    for (std::size_t c = 0; c < kChannelColours.size(); ++c) {
        if (!channelShown_[c])
            continue;
        p.fillRect(QRectF(x, y + metrics.height() / 2.0 - 2, 16, 4), kChannelColours[c]);
        const QString name = QStringLiteral("PA%1").arg(c + 1);
        p.drawText(QPointF(x + 20, y + metrics.ascent()), name);
        x += 20 + metrics.horizontalAdvance(name) + 12;
    }
    p.drawImage(QPointF(0, band), plot);
    return out;
}

void ChartWindow::savePng()
{
    const QString file = AskSaveFile(this, tr("グラフを画像で保存"), QStringLiteral("zub3-chart"),
                                     QStringLiteral("png"), tr("PNG 画像 (*.png)"));
    if (!file.isEmpty() && !ExportImage().save(file, "PNG"))
        ShowWarning(tr("%1 に保存できませんでした").arg(file));
}

void ChartWindow::saveCsv(Extent extent)
{
    const QString file = AskSaveFile(this, tr("グラフの値をCSVで保存"), QStringLiteral("zub3-chart"),
                                     QStringLiteral("csv"), tr("CSV ファイル (*.csv)"));
    if (file.isEmpty())
        return;
    QSaveFile out(file);
    const std::string text = Csv(extent);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !out.commit())
        ShowWarning(tr("%1 に保存できませんでした: %2").arg(file, out.errorString()));
}
