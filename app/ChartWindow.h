// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The chart: PA1 to PA4 over time, a lane below them showing which buttons were held when,
// and a readout of the poll under the mouse. It keeps the whole session (up to
// kHistoryPolls polls), follows the newest poll or stays where the user paused or scrolled
// it, zooms in time with the wheel and in value with Ctrl and the wheel (Shift and the
// wheel move the values), breaks its lines where polls failed, gives each channel's
// statistics over the view or a span dragged across the plot, marks moments with a note
// (key M), and saves what it shows as PNG, or the visible span or the whole session as CSV.

#include "core/Records.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

class QChart;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QValueAxis;

class ChartWindow : public QWidget {
    Q_OBJECT

public:
    // Failed polls too: no data, for fault's reason.
    using Sample = zub3::PollResult;
    // An hour of polls at the shortest interval, 5 ms: about 23 MB.
    static constexpr std::size_t kHistoryPolls = 720'000;
    enum class Extent { Visible, Session };
    // How the value axis is chosen: the channels' range (0 to 127, or to 255 while a value
    // above 127 is in view), fitted to the values in view, or as zoomed and moved by hand.
    enum class ValueScale { Full, Fit, Manual };
    // A moment marked by hand, in seconds into the session, with a short note.
    struct Marker {
        double at;
        QString note;
    };
    // Markers kept at most; the oldest go first.
    static constexpr std::size_t kMostMarkers = 1000;
    // A channel over the answered polls of the view or the selection.
    struct ChannelStats {
        std::size_t polls = 0;
        double min = 0, max = 0, mean = 0, deviation = 0;  // the population's deviation
        double change = 0;  // the last poll's value less the first's
    };

    explicit ChartWindow(QWidget* parent = nullptr);

    // Takes every poll, failed ones too, so that their place shows as a gap.
    void Add(const zub3::PollResult& poll);
    void SetSpan(std::chrono::milliseconds span);
    std::chrono::milliseconds Span() const { return span_; }
    // Paused, the view stays where it is while polls go on being kept.
    void SetPaused(bool paused);
    bool Paused() const { return !following_; }
    // Moves the view so that it ends this many seconds into the session, and pauses it.
    void ScrollTo(double endSeconds);
    // Full or Fit; Manual comes with the first zoom or move of the values.
    void SetValueScale(ValueScale scale);
    ValueScale GetValueScale() const { return valueScale_; }
    // Zooms the value axis by factor (below 1: in) keeping anchor where it is, or moves it
    // by delta; within 0 to 255.
    void ZoomValues(double factor, double anchor);
    void PanValues(double delta);
    // The span the statistics are over instead of the view, in seconds into the session, as
    // a drag across the plot selects it; cleared by a click.
    void Select(double from, double to);
    void ClearSelection();
    std::optional<std::pair<double, double>> Selection() const { return selection_; }
    void AddMarker(double at, const QString& note);
    const std::deque<Marker>& Markers() const { return markers_; }
    // Per channel; nullopt where no answered poll lies in the span.
    std::array<std::optional<ChannelStats>, 4> Statistics() const;
    QString StatisticsText() const;
    const std::deque<Sample>& Samples() const { return samples_; }
    // What the plot draws of a channel: seconds into the session and values, a point that
    // is no number where the line breaks.
    const QList<QPointF>& Points(int channel) const { return points_[static_cast<std::size_t>(channel)]; }
    QChart* Chart() const { return chart_; }
    QWidget* Plot() const;
    QValueAxis* TimeAxis() const { return timeAxis_; }
    QValueAxis* ValueAxis() const { return valueAxis_; }
    QString ReadoutText() const;
    // Shows the samples now; otherwise this happens at most once per screen refresh, and
    // not while the window is hidden or minimised.
    void Refresh();
    // As zub3ctl's CSV records, timed from the first poll exported; with markers among the
    // rows exported, a last column "marker" holds each one's note on the first answered poll
    // at or after it.
    std::string Csv(Extent extent) const;
    QImage Image();
    // Where the polls come from ("COM51  ID 5  625000 bit/s"), for what a saved picture
    // says of itself.
    void SetSource(const QString& source);
    // The program, the source, when the view begins (UTC) and its span.
    QString Caption() const;
    // What "save as PNG" writes: the plot under the caption and the channels' colours.
    QImage ExportImage();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class ButtonLane;
    class PlotView;
    struct Gap {
        double from, to;  // seconds into the session
    };
    // A button held from one poll to another; to the last poll before the polls stopped,
    // it is drawn a pixel past it.
    struct HeldRun {
        double from, to;
        bool toLastPoll;
    };

    bool shown() const;
    void scheduleRefresh();
    double seconds(const Sample& s) const;
    // The time shown at this x in the plot.
    double timeAt(double x) const;
    // The samples from the last before `from` to the first after `to`.
    std::pair<std::size_t, std::size_t> indexRange(double from, double to) const;
    void updateScrollBar();
    void zoom(double factor, double anchorX);
    // The value shown at this y in the plot.
    double valueAt(double y) const;
    void setManualValues(double low, double high);
    void showReadout();
    void showStatistics();
    void dropMarker();
    QString describeGap(std::size_t failed) const;
    void updatePauseButton();
    void savePng();
    void saveCsv(Extent extent);

    std::deque<Sample> samples_;
    std::chrono::steady_clock::time_point origin_{};
    std::chrono::milliseconds span_{10'000};
    bool following_ = true;
    double viewEnd_ = 0;                     // while not following
    double shownFrom_ = 0, shownTo_ = 10;    // what Refresh last drew
    ValueScale valueScale_ = ValueScale::Full;
    double valueLow_ = 0, valueHigh_ = 127;  // the value axis as last drawn
    std::vector<Gap> gaps_;                  // in the shown span
    std::array<std::vector<HeldRun>, zub3::kButtons.size()> held_;  // in the shown span
    std::array<bool, zub3::kButtons.size()> buttonShown_{};
    std::array<bool, 4> channelShown_{};
    std::array<QList<QPointF>, 4> points_;
    std::optional<QPointF> pointer_;         // over the plot, in its coordinates
    std::optional<std::pair<double, double>> selection_;  // seconds, from < to
    std::optional<double> dragFrom_;         // where a drag across the plot began
    std::deque<Marker> markers_;             // by time
    QString source_;
    QChart* chart_;
    QValueAxis* timeAxis_;
    QValueAxis* valueAxis_;
    PlotView* view_;
    ButtonLane* lane_;
    QWidget* plots_;  // the chart and the lane: what a PNG shows
    QScrollBar* scroll_;
    QComboBox* spanBox_;
    QComboBox* valueBox_;
    QPushButton* pause_;
    QLabel* readout_;
    QLabel* stats_;
    QTimer refresh_;
    bool settingScroll_ = false;
};
