#pragma once
// What zub3ctl monitor writes: one record per accepted poll reply, as a text line, a CSV
// row or a JSON line, and the summary of a run.

#include "app/Protocol.h"

#include <span>

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace zub3::cli {

enum class Format { Text, Csv, Jsonl };

struct Record {
    double tMs = 0;        // since the first poll was sent
    std::string time;      // wall clock, ISO 8601 with milliseconds
    PollData data;
    std::string sent;      // hex dumps, with --hex
    std::string received;
};

// The held buttons, space-separated, in the order of the button table; "" when none.
std::string HeldNames(std::uint16_t buttons);

// The first line of a CSV file (with its newline); "" for the other formats.
std::string Header(Format format, bool hex);
// One record with its newline.
std::string FormatRecord(Format format, bool hex, const Record& record);

// The live view on a terminal: the held buttons and a bar per channel, as lines that the
// next view overwrites (it moves the cursor back up over the previous one first).
std::string LiveView(const Record& record, long long polls, long long failures, bool redraw);

// A frame as the window dumps it, without the trailing space.
std::string Dump(std::span<const Byte> frame);

// Figures of a run, for the summary.
class Summary {
public:
    void Poll(double tMs);
    void Failure() { ++failures_; }
    void Rejected() { ++rejected_; }
    void Accepted(const PollData& data);

    long long Polls() const { return polls_; }
    long long Failures() const { return failures_; }
    long long Records() const { return records_; }
    std::string Text() const;

private:
    long long polls_ = 0, failures_ = 0, rejected_ = 0, records_ = 0;
    double lastPoll_ = -1;
    // How often each period came, in whole microseconds, the precision the summary prints:
    // a run of days keeps a few thousand counts, not one figure per poll.
    std::map<long long, long long> periods_;
    std::array<int, 4> min_{}, max_{};
    std::array<double, 4> sum_{};
};

}  // namespace zub3::cli
