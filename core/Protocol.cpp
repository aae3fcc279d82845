// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Protocol.h"

#include <algorithm>

namespace zub3 {

PollFrame BuildPollFrame(Byte currentID)
{
    return {static_cast<Byte>(0xA0 | currentID), 0x7F, 0x00, 0x07};
}

Byte UnpackNibblePair(Byte high, Byte low)
{
    return static_cast<Byte>(high * 16 + low);
}

std::optional<PollData> DecodePollReply(std::span<const Byte, kPollReplySize> reply,
                                        const PollFrame& poll, PollFault* fault)
{
    const auto refuse = [fault](PollFault why) {
        if (fault)
            *fault = why;
        return std::nullopt;
    };
    const bool headerMatches = static_cast<Byte>(reply[4] | 0x80) == poll[0] &&
                               reply[5] == poll[1] && reply[6] == poll[2] &&
                               reply[7] == poll[3];
    if (!headerMatches)
        return refuse(PollFault::Header);

    std::array<Byte, 7> v{};  // D0..D5, then the checksum C
    for (std::size_t k = 0; k < v.size(); ++k)
        v[k] = UnpackNibblePair(reply[8 + 2 * k], reply[9 + 2 * k]);

    int sum = 0;
    for (std::size_t k = 0; k < 6; ++k)
        sum += v[k];
    if ((sum & 0x7F) != v[6])
        return refuse(PollFault::Checksum);
    if (fault)
        *fault = PollFault::None;

    PollData data;
    data.buttons = static_cast<std::uint16_t>(v[0] * 256 + v[1]);
    std::copy(v.begin() + 2, v.begin() + 6, data.channels.begin());
    return data;
}

Byte GetID(Byte b)
{
    return (b & 0x60) == 0x60 ? static_cast<Byte>(b & 0x1F) : kNoID;
}

Byte GetWriteCmd(Byte id)
{
    return static_cast<Byte>(0xC0 | id);
}

WriteFrame BuildWriteFrame(Byte currentID, Byte lineSpeedCode, int newID)
{
    return {GetWriteCmd(currentID),
            0x00,
            static_cast<Byte>(lineSpeedCode >> 4),
            static_cast<Byte>(lineSpeedCode & 0x0F),
            static_cast<Byte>((newID >> 4) & 0xFF),
            static_cast<Byte>(newID & 0x0F)};
}

bool CheckWriteReply(std::span<const Byte, kWriteReplySize> reply, const WriteFrame& frame)
{
    return (reply[6] & 0x7F) == (frame[0] & 0x7F) && reply[7] == frame[1];
}

namespace {
template <typename Pred>
std::optional<LineSpeed> findSpeed(Pred pred)
{
    const auto it = std::find_if(kLineSpeeds.begin(), kLineSpeeds.end(), pred);
    if (it == kLineSpeeds.end())
        return std::nullopt;
    return *it;
}
}  // namespace

std::optional<LineSpeed> LineSpeedByIndex(int index)
{
    return findSpeed([index](const LineSpeed& s) { return s.index == index; });
}

std::optional<LineSpeed> LineSpeedByBitRate(int bitRate)
{
    return findSpeed([bitRate](const LineSpeed& s) { return s.bitRate == bitRate; });
}

std::optional<LineSpeed> LineSpeedByCode(Byte code)
{
    return findSpeed([code](const LineSpeed& s) { return s.code == code; });
}

}  // namespace zub3
