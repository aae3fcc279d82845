// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Misbehaviour the virtual receiver can be told to show, and their names as the program's
// options (--fault-NAME[=N]) and the console's "fault NAME [N]" use them.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zub3::sim {

struct Faults {
    bool noReply = false;           // hears and obeys, but sends nothing
    std::optional<int> shortReply{};  // sends only the first N bytes of each reply
    bool badChecksum = false;       // poll replies carry a wrong checksum
    bool badHeader = false;         // the command echo of poll and write replies is wrong
    int noise = 0;                  // this many random bytes go out before each reply
    std::chrono::milliseconds delay{0};  // extra wait before the receiver's own bytes
    bool anySpeed = false;          // understands and answers at every line speed
    bool operator==(const Faults&) const = default;
};

// Past the tool's 500 ms receive time-out, with room for scheduling.
inline constexpr std::chrono::milliseconds kDefaultFaultDelay{700};
inline constexpr int kDefaultNoise = 4;

// Switches one fault on by name ("no-reply", "short", "bad-checksum", "bad-header",
// "noise", "delay", "any-speed"), with its value where it takes one. Returns what is
// wrong ("needs a value", "no such fault" ...), or an empty string on success.
std::string SetFault(Faults& faults, std::string_view name,
                     std::optional<std::string_view> value);

// The faults that are on, as "no-reply, short=5"; "none" when there are none.
std::string DescribeFaults(const Faults& faults);

// A decimal integer within [min, max], the whole text and nothing else.
std::optional<int> ParseInt(std::string_view text, int min, int max);

}  // namespace zub3::sim
