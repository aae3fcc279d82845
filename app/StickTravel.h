// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How far each analogue channel has travelled and where it rests: the lowest and highest
// value since the last reset, and the median of the last second in which it stood still.
// A stick that cannot reach an end, or does not come back to its centre, shows here.

#include "core/Protocol.h"

#include <array>
#include <chrono>
#include <deque>
#include <optional>

class StickTravel {
public:
    using Clock = std::chrono::steady_clock;
    struct Channel {
        int min = 0, max = 0;
        std::optional<int> rest;  // none until the channel has stood still for a second
    };
    // Within this many counts of one another, the polls of a second are standing still:
    // a released stick jitters by a count or two.
    static constexpr int kStillSpread = 2;

    void Add(Clock::time_point t, const std::array<zub3::Byte, 4>& channels);
    void Reset();
    bool Empty() const { return lastSecond_.empty(); }
    const std::array<Channel, 4>& Channels() const { return channels_; }

private:
    struct Poll {
        Clock::time_point t;
        std::array<zub3::Byte, 4> channels;
    };

    std::deque<Poll> lastSecond_;
    std::array<Channel, 4> channels_{};
};
