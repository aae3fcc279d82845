// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How clean the link to the receiver is since the switch went on: polls per second, replies
// accepted, replies rejected by the reason the poll's checks gave, and polls that brought
// no byte at all.

#include "core/Protocol.h"

#include <QString>

#include <array>
#include <chrono>
#include <deque>

namespace zub3 {
struct PollResult;
}

class LinkQuality {
public:
    using Clock = std::chrono::steady_clock;

    void Restart();
    void Add(const zub3::PollResult& poll);

    int Polls() const { return polls_; }
    int Count(zub3::PollFault fault) const { return byFault_[static_cast<std::size_t>(fault)]; }
    // A reply came but was refused: short, with a wrong header or a bad checksum.
    int Rejected() const;
    // The polls sent in the second before now.
    int PollsPerSecond(Clock::time_point now) const;
    // For people, a line each: the polls and their rate, the replies accepted, those
    // rejected and the polls missed, with their share of the polls.
    QString Describe(Clock::time_point now) const;

private:
    int polls_ = 0;
    std::array<int, 5> byFault_{};
    std::deque<Clock::time_point> lastSecond_;
};
