// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A recording made by "zub3ctl monitor" (csv or jsonl), played back by the virtual receiver:
// the controller's state at each recorded time.

#include "sim/Controller.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace zub3::sim {

class Recording {
public:
    struct Sample {
        double tMs = 0;
        ControllerState state;
    };

    // Reads a csv file (a header line naming at least t_ms, buttons and pa1 to pa4) or a
    // jsonl file (one object per line with those keys). Throws std::runtime_error naming the
    // file, the line and the fault; times must not go backwards. A last row cut short is
    // left out and said in skipped.
    static Recording Load(const std::filesystem::path& file, std::string* skipped = nullptr);
    explicit Recording(std::vector<Sample> samples);

    // The state recorded nearest to time t: a poll a little early or late in the playback
    // still meets the sample it was meant to. Past the end the last state holds, or with
    // loop the recording starts over, one recorded period after its last sample.
    ControllerState At(std::chrono::nanoseconds t, bool loop) const;

    std::size_t Size() const { return samples_.size(); }

private:
    std::vector<Sample> samples_;
    double lengthMs_ = 0;  // from the first sample to where a loop starts over
};

}  // namespace zub3::sim
