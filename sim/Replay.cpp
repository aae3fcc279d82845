// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Replay.h"

#include "core/Records.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace zub3::sim {

Recording Recording::Load(const std::filesystem::path& file, std::string* skipped)
{
    std::vector<Sample> samples;
    for (const RecordedPoll& p : ReadRecords(file, skipped))
        samples.push_back({p.tMs, {p.buttons, p.channels}});
    return Recording(std::move(samples));
}

Recording::Recording(std::vector<Sample> samples) : samples_(std::move(samples))
{
    if (samples_.empty())
        throw std::invalid_argument("a recording needs at least one sample");
    const double span = samples_.back().tMs - samples_.front().tMs;
    const auto gaps = static_cast<double>(samples_.size() - 1);
    lengthMs_ = gaps > 0 ? span + span / gaps : 0;
}

ControllerState Recording::At(std::chrono::nanoseconds t, bool loop) const
{
    double ms = std::chrono::duration<double, std::milli>(t).count() + samples_.front().tMs;
    if (loop && lengthMs_ > 0)
        ms = samples_.front().tMs + std::fmod(ms - samples_.front().tMs, lengthMs_);
    const auto after = std::lower_bound(samples_.begin(), samples_.end(), ms,
                                        [](const Sample& s, double v) { return s.tMs < v; });
    if (after == samples_.begin())
        return after->state;
    if (after == samples_.end())
        return samples_.back().state;
    const auto before = std::prev(after);
    return (ms - before->tMs <= after->tMs - ms ? before : after)->state;
}

}  // namespace zub3::sim
