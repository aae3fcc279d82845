#pragma once
// SPDX-License-Identifier: GPL-3.0-or-later
// The record format: one record per accepted poll reply, as a text line, a CSV row or a
// JSON line, written alike by zub3ctl and the window and read back by the virtual receiver.

#include "core/Protocol.h"

#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zub3 {

enum class Format { Text, Csv, Jsonl };

struct Record {
    double tMs = 0;        // since the first poll was sent
    std::string time;      // wall clock, ISO 8601 with milliseconds
    PollData data;
    std::string sent;      // hex dumps, with --hex
    std::string received;
    std::chrono::steady_clock::time_point polled{};  // when its poll was sent
};

// The state of the link to the receiver as a service tells its readers: replies come, the
// port is open and nothing answers, or the port is away.
enum class Link { Ok, NoReply, Away };
std::string_view LinkName(Link link);

// What a service adds to a record for its readers.
struct Served {
    long long seq = 0;      // the number of the record, without gaps
    long long failed = 0;   // the polls so far that brought no record
    Link link = Link::Ok;
    long long ageMs = 0;    // since the record's poll was sent
    long long dropped = 0;  // records this reader missed; written only when not 0
};

// One poll as records and the chart take it: when it was sent and what came back.
struct PollResult {
    std::chrono::steady_clock::time_point sent;
    std::int64_t sentWallMs = 0;         // the wall clock then, ms since the epoch
    std::optional<PollData> data;        // none when no valid reply came
    PollFault fault = PollFault::None;   // why not
};

// A poll about to be sent, stamped with both clocks now.
PollResult StampPoll();

// The record of an answered poll (poll.data set), timed from first.
Record MakeRecord(const PollResult& poll, std::chrono::steady_clock::time_point first);

// A field of the records, the same in every format: its name, its unit and what it holds.
// The CSV header and the help on the records are made from this one table. Fields and
// their order stay as they are; new ones would come at the end.
struct Field {
    std::string_view name;
    std::string_view unit;  // "" for none
    std::string_view meaning;
    bool hexOnly = false;   // present only with the hex dumps
    bool servedOnly = false;  // added by serve; never in monitor's records
};
inline constexpr std::array<Field, 15> kFields{{
    {"t_ms", "ms", "since the first poll was sent, on a monotonic clock, three decimals"},
    {"time", "", "wall clock in UTC, ISO 8601 with milliseconds and \"Z\""},
    {"buttons", "", "the 16-bit button word, as a decimal number"},
    {"held", "", "the held buttons among S1 S2 S3 S4 up down right left triangle cross "
                 "circle square, in that order; a diagonal is two of them. CSV: separated "
                 "by spaces; JSON lines: an array of strings"},
    {"pa1", "", "channel 1, 0 to 255"},
    {"pa2", "", "channel 2, 0 to 255"},
    {"pa3", "", "channel 3, 0 to 255"},
    {"pa4", "", "channel 4, 0 to 255"},
    {"sent", "", "the poll frame sent, in hexadecimal", true},
    {"received", "", "the reply received, in hexadecimal", true},
    {"seq", "", "the number of the record, counting up without gaps", false, true},
    {"failed", "", "the polls so far that brought no record", false, true},
    {"link", "", "ok while replies come, no-reply while the port is open and nothing "
                 "answers, away while the port is gone", false, true},
    {"age_ms", "ms", "since this record's poll was sent, whole milliseconds", false, true},
    {"dropped", "", "the records this reader missed before this one; only when some were",
     false, true},
}};

// A number with a fixed count of decimals and a point, whatever the locale says: records
// are read by programs.
std::string Decimal(double value, int decimals);

// A moment (ms since the epoch) as records carry it: UTC, ISO 8601 with milliseconds and
// "Z", which spreadsheets and scripts read as a time wherever the file was made.
std::string WallClock(std::int64_t msSinceEpoch);

// A time in milliseconds with three decimals, as records carry it.
std::string Milliseconds(double ms);

// The held buttons, space-separated, in the order of the button table; "" when none.
std::string HeldNames(std::uint16_t buttons);

// The first line of a CSV file (with its newline); "" for the other formats.
std::string Header(Format format, bool hex);
// One record with its newline.
std::string FormatRecord(Format format, bool hex, const Record& record);
// One record as a JSON object without a newline, with what a service adds when given.
std::string RecordJson(const Record& record, bool hex, const Served* served = nullptr);

// Each byte up to index last as two upper-case hexadecimal digits and a space.
QString HexDump(std::span<const Byte> data, int last);

// A frame as the window dumps it, without the trailing space.
std::string Dump(std::span<const Byte> frame);

// What a recording holds of one poll: enough to answer it again.
struct RecordedPoll {
    double tMs = 0;
    std::uint16_t buttons = 0;
    std::array<Byte, 4> channels{};  // pa1 to pa4
};

// Reads a csv file (a header line naming at least t_ms, buttons and pa1 to pa4) or a jsonl
// file (one object per line with those keys), as written by FormatRecord. Throws
// std::runtime_error naming the file, the line and the fault; times must not go backwards.
// Given skipped, a last line without its newline (a row cut short) is left out and said
// there.
std::vector<RecordedPoll> ReadRecords(const std::filesystem::path& file,
                                      std::string* skipped = nullptr);

}  // namespace zub3
