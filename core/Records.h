#pragma once
// The record format: one record per accepted poll reply, as a text line, a CSV row or a
// JSON line, written alike by zub3ctl and the window and read back by the virtual receiver.

#include "core/Protocol.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace zub3 {

enum class Format { Text, Csv, Jsonl };

struct Record {
    double tMs = 0;        // since the first poll was sent
    std::string time;      // wall clock, ISO 8601 with milliseconds
    PollData data;
    std::string sent;      // hex dumps, with --hex
    std::string received;
};

// A moment (ms since the epoch) as records carry it: local time, ISO 8601 with milliseconds
// and the offset from UTC.
std::string WallClock(std::int64_t msSinceEpoch);

// A time in milliseconds with three decimals, as records carry it.
std::string Milliseconds(double ms);

// The held buttons, space-separated, in the order of the button table; "" when none.
std::string HeldNames(std::uint16_t buttons);

// The first line of a CSV file (with its newline); "" for the other formats.
std::string Header(Format format, bool hex);
// One record with its newline.
std::string FormatRecord(Format format, bool hex, const Record& record);

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
std::vector<RecordedPoll> ReadRecords(const std::filesystem::path& file);

}  // namespace zub3
