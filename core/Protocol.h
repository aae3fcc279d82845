// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ZUB-3 receiver's frames: building requests and checking and decoding replies.
// Pure data handling: no Qt, no serial port.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zub3 {

using Byte = std::uint8_t;

inline constexpr int kPollFrameSize = 4;
inline constexpr int kPollReplySize = 22;
inline constexpr int kIdQuerySize = 4;
inline constexpr int kIdReplySize = 5;
inline constexpr int kWriteFrameSize = 6;
inline constexpr int kWriteReplySize = 8;

// The ID reply's value for "no valid ID".
inline constexpr Byte kNoID = 255;
inline constexpr int kMaxID = 31;

using PollFrame = std::array<Byte, kPollFrameSize>;
using IdQuery = std::array<Byte, kIdQuerySize>;
using WriteFrame = std::array<Byte, kWriteFrameSize>;

// What an accepted poll reply says about the controller.
struct PollData {
    std::uint16_t buttons = 0;        // D0 * 256 + D1
    std::array<Byte, 4> channels{};   // PA1..PA4 (D2..D5), 0..255 as sent
    bool operator==(const PollData&) const = default;
};

// The twelve buttons in the order of the window's button table: the bit in the button word,
// the name the virtual receiver's console and the command line use, and the controller's
// symbol. A diagonal is two of them held together.
struct ButtonName {
    std::uint16_t bit;
    std::string_view name;
    std::string_view symbol;
};
inline constexpr std::array<ButtonName, 12> kButtons{{
    {0x0200, "S1", "S1"},
    {0x0400, "S2", "S2"},
    {0x0800, "S3", "S3"},
    {0x1000, "S4", "S4"},
    {0x0001, "up", "↑"},
    {0x0002, "down", "↓"},
    {0x0004, "right", "→"},
    {0x0008, "left", "←"},
    {0x0010, "triangle", "△"},
    {0x0020, "cross", "×"},
    {0x0040, "circle", "○"},
    {0x0100, "square", "□"},
}};

PollFrame BuildPollFrame(Byte currentID);

// Why a poll brought no controller state: no byte came back, fewer than a reply's bytes,
// an echoed header that is not the poll's, or a checksum that does not match.
enum class PollFault : std::uint8_t { None, Missed, Short, Header, Checksum };

// Accepts a 22-byte reply only when the echoed header matches the poll and the 7-bit
// checksum matches C. A header that does not match is rejected like a bad checksum: a
// misaddressed or garbled reply must not read as "nothing held, all channels 0".
// fault, when given, is told which check refused the reply (None when it was accepted).
std::optional<PollData> DecodePollReply(std::span<const Byte, kPollReplySize> reply,
                                        const PollFrame& poll, PollFault* fault = nullptr);

// Unpacks one value sent as two nibble bytes, high first, without masking them.
Byte UnpackNibblePair(Byte high, Byte low);

inline constexpr IdQuery kIdQuery{0xFF, 0x00, 0x00, 0x00};

// The ID in an ID reply's byte 4, or kNoID when bits 5 and 6 are not both set.
Byte GetID(Byte b);

Byte GetWriteCmd(Byte id);

WriteFrame BuildWriteFrame(Byte currentID, Byte lineSpeedCode, int newID);

bool CheckWriteReply(std::span<const Byte, kWriteReplySize> reply, const WriteFrame& frame);

// The three line speeds: list index, bit/s and the receiver's line-speed code.
struct LineSpeed {
    int index;
    int bitRate;
    Byte code;
};
inline constexpr std::array<LineSpeed, 3> kLineSpeeds{{
    {0, 115200, 10},
    {1, 625000, 1},
    {2, 1250000, 0},
}};

std::optional<LineSpeed> LineSpeedByIndex(int index);
std::optional<LineSpeed> LineSpeedByBitRate(int bitRate);
std::optional<LineSpeed> LineSpeedByCode(Byte code);

}  // namespace zub3
