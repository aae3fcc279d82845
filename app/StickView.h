// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A panel for checking a controller: each stick as a square with its position, the trace
// of the last seconds and the travel reached; per channel the lowest, highest and resting
// value, with a reset; and the link's counts since the switch went on.

#include "app/LinkQuality.h"
#include "app/StickTravel.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <deque>

class QLabel;
namespace zub3 {
struct PollResult;
}

class StickView : public QWidget {
    Q_OBJECT

public:
    explicit StickView(QWidget* parent = nullptr);

    // Takes every poll: the answered ones move the sticks, all of them count for the link.
    void Add(const zub3::PollResult& poll);
    // The switch went on: the link's counts start again; the sticks' travel does not.
    void RestartLink();
    // Forgets the sticks' travel, resting values and trace.
    void ResetTravel();
    const StickTravel& Travel() const { return travel_; }
    const LinkQuality& Link() const { return link_; }
    // Shows the values now; otherwise ten times a second while the panel is on screen.
    void Refresh();
    QString Text(int channel, int column) const;
    QString LinkText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class Pad;
    struct TracePoint {
        StickTravel::Clock::time_point t;
        std::array<zub3::Byte, 4> channels;
    };

    StickTravel travel_;
    LinkQuality link_;
    std::deque<TracePoint> trace_;
    std::array<Pad*, 2> pads_{};
    std::array<std::array<QLabel*, 4>, 4> cells_{};  // per channel: now, min, max, rest
    QLabel* linkText_;
    QTimer refresh_;
};
