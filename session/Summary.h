// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What zub3ctl monitor shows besides its records: the live view on a terminal and the
// summary of a run.

#include "core/Records.h"

#include <array>
#include <map>
#include <string>
#include <string_view>

namespace zub3::cli {

// The live view on a terminal: the held buttons and a bar per channel, as lines that the
// next view overwrites (it moves the cursor back up over the previous one first).
std::string LiveView(const Record& record, long long polls, long long failures, bool redraw);

// "1 record written", "3 records written": how many records and what became of them.
std::string RecordCount(long long count, std::string_view what);

// Figures of a run, for the summary.
class Summary {
public:
    void Poll(double tMs);
    void Failure() { ++failures_; }
    void Rejected() { ++rejected_; }
    void Accepted(const PollData& data);
    // The port was away for this long; the poll after it starts the periods afresh.
    void Gap(double awayMs);

    long long Polls() const { return polls_; }
    long long Failures() const { return failures_; }
    long long Rejections() const { return rejected_; }
    long long Records() const { return records_; }  // replies accepted
    // The summary; its first line counts the polls and ends with what the run did with
    // the records (RecordCount: "3 records written"), which only the run knows.
    std::string Text(std::string_view records) const;

private:
    long long polls_ = 0, failures_ = 0, rejected_ = 0, records_ = 0, gaps_ = 0;
    long long periodCount_ = 0;
    double awayMs_ = 0;
    double lastPoll_ = -1;
    // How often each period came, in whole microseconds, the precision the summary prints:
    // a run of days keeps a few thousand counts, not one figure per poll.
    std::map<long long, long long> periods_;
    std::array<int, 4> min_{}, max_{};
    std::array<double, 4> sum_{};
};

}  // namespace zub3::cli
