// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live chart: PA1 to PA4 over the last seconds, a lane below them showing which buttons
// were held when, and a readout of the poll under the mouse. It keeps what it shows when
// monitoring stops, and saves it as PNG or as CSV.

#include "core/Protocol.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>

class QChart;
class QComboBox;
class QLabel;
class QLineSeries;
class QValueAxis;
namespace zub3 {
struct PollResult;
}

class ChartWindow : public QWidget {
    Q_OBJECT

public:
    struct Sample {
        std::chrono::steady_clock::time_point t;
        std::int64_t wallMs = 0;
        zub3::PollData data;
    };

    explicit ChartWindow(QWidget* parent = nullptr);

    // Takes an answered poll; what is older than the span before the newest is dropped.
    void Add(const zub3::PollResult& poll);
    void SetSpan(std::chrono::milliseconds span);
    std::chrono::milliseconds Span() const { return span_; }
    const std::deque<Sample>& Samples() const { return samples_; }
    QLineSeries* Series(int channel) const { return series_[static_cast<std::size_t>(channel)]; }
    // Shows the samples now; otherwise this happens at most once per screen refresh, and
    // not while the window is hidden or minimised.
    void Refresh();
    // What is shown, as zub3ctl's CSV records, timed from the oldest sample.
    std::string Csv() const;
    QImage Image();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class ButtonLane;

    bool shown() const;
    void scheduleRefresh();
    double secondsBeforeNewest(const Sample& s) const;
    void showReadout(const QPointF& viewPosition);
    void savePng();
    void saveCsv();

    std::deque<Sample> samples_;
    std::chrono::milliseconds span_{10'000};
    QChart* chart_;
    QValueAxis* timeAxis_;
    std::array<QLineSeries*, 4> series_{};
    ButtonLane* lane_;
    QWidget* plots_;  // the chart and the lane: what a PNG shows
    QComboBox* spanBox_;
    QLabel* readout_;
    QTimer refresh_;
};
