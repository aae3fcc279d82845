// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StickTravel.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::chrono::seconds kStillTime{1};
// Polls come at an interval plus a reply's time: a second of them starts a little after
// the second before the newest.
constexpr std::chrono::milliseconds kStillCovered{900};

}  // namespace

void StickTravel::Add(Clock::time_point t, const std::array<zub3::Byte, 4>& channels)
{
    const bool first = lastSecond_.empty();
    lastSecond_.push_back({t, channels});
    while (t - lastSecond_.front().t > kStillTime)
        lastSecond_.pop_front();
    const bool secondCovered = t - lastSecond_.front().t >= kStillCovered;
    std::vector<int> values;
    values.reserve(lastSecond_.size());
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        Channel& ch = channels_[c];
        ch.min = first ? channels[c] : std::min<int>(ch.min, channels[c]);
        ch.max = first ? channels[c] : std::max<int>(ch.max, channels[c]);
        if (!secondCovered)
            continue;
        values.clear();
        for (const Poll& p : lastSecond_)
            values.push_back(p.channels[c]);
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        if (*high - *low > kStillSpread)
            continue;
        const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
        std::nth_element(values.begin(), middle, values.end());
        ch.rest = *middle;
    }
}

void StickTravel::Reset()
{
    lastSecond_.clear();
    channels_ = {};
}
