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

// The bits of the button word.
namespace button {
inline constexpr std::uint16_t kUp = 0x0001;
inline constexpr std::uint16_t kDown = 0x0002;
inline constexpr std::uint16_t kRight = 0x0004;
inline constexpr std::uint16_t kLeft = 0x0008;
inline constexpr std::uint16_t kTriangle = 0x0010;
inline constexpr std::uint16_t kCross = 0x0020;
inline constexpr std::uint16_t kCircle = 0x0040;
inline constexpr std::uint16_t kSquare = 0x0100;
inline constexpr std::uint16_t kS1 = 0x0200;
inline constexpr std::uint16_t kS2 = 0x0400;
inline constexpr std::uint16_t kS3 = 0x0800;
inline constexpr std::uint16_t kS4 = 0x1000;
}  // namespace button

// The twelve buttons in the order of the window's button table: the bit in the button word,
// the name the virtual receiver's console and the command line use, and the controller's
// symbol. A diagonal is two of them held together.
struct ButtonName {
    std::uint16_t bit;
    std::string_view name;
    std::string_view symbol;
};
inline constexpr std::array<ButtonName, 12> kButtons{{
    {button::kS1, "S1", "S1"},
    {button::kS2, "S2", "S2"},
    {button::kS3, "S3", "S3"},
    {button::kS4, "S4", "S4"},
    {button::kUp, "up", "↑"},
    {button::kDown, "down", "↓"},
    {button::kRight, "right", "→"},
    {button::kLeft, "left", "←"},
    {button::kTriangle, "triangle", "△"},
    {button::kCross, "cross", "×"},
    {button::kCircle, "circle", "○"},
    {button::kSquare, "square", "□"},
}};

// The eight diagonals in the order of the window's diagonal table, each held as its two
// neighbouring directions: the left pad's up-left, down-left, up-right and down-right, then
// the right pad's in the same order.
inline constexpr std::array<std::uint16_t, 8> kDiagonals{
    button::kLeft | button::kUp,          button::kLeft | button::kDown,
    button::kRight | button::kUp,         button::kRight | button::kDown,
    button::kSquare | button::kTriangle,  button::kSquare | button::kCross,
    button::kCircle | button::kTriangle,  button::kCircle | button::kCross,
};

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
