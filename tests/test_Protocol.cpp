// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Protocol.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace zub3;

namespace {

using Reply = std::array<Byte, kPollReplySize>;

// Builds a reply the way the receiver does, independently of the decoder: echo of the
// poll, command byte with bit 7 cleared, the fixed bytes, then D0..D5 and C as nibbles.
Reply encodeReply(const PollFrame& poll, std::uint16_t buttons, std::array<Byte, 4> ch)
{
    Reply r{};
    for (int i = 0; i < 4; ++i)
        r[i] = poll[i];
    r[4] = poll[0] & 0x7F;
    r[5] = 0x7F;
    r[6] = 0x00;
    r[7] = 0x07;
    const Byte d[6] = {Byte(buttons >> 8), Byte(buttons & 0xFF), ch[0], ch[1], ch[2], ch[3]};
    unsigned sum = 0;
    for (int k = 0; k < 6; ++k) {
        r[8 + 2 * k] = d[k] >> 4;
        r[9 + 2 * k] = d[k] & 0x0F;
        sum += d[k];
    }
    r[20] = (sum & 0x7F) >> 4;
    r[21] = sum & 0x0F;
    return r;
}

Reply withData(std::initializer_list<Byte> data14, Byte header0 = 0x25)
{
    Reply r{0xA5, 0x7F, 0x00, 0x07, header0, 0x7F, 0x00, 0x07};
    std::copy(data14.begin(), data14.end(), r.begin() + 8);
    return r;
}

}  // namespace

TEST(Protocol, PollFrameCarriesTheId)
{
    EXPECT_EQ(BuildPollFrame(5), (PollFrame{0xA5, 0x7F, 0x00, 0x07}));
    EXPECT_EQ(BuildPollFrame(0), (PollFrame{0xA0, 0x7F, 0x00, 0x07}));
    EXPECT_EQ(BuildPollFrame(31), (PollFrame{0xBF, 0x7F, 0x00, 0x07}));
}

TEST(Protocol, DecodesTheReferenceReply)
{
    const auto r = withData({0x01, 0x02, 0x03, 0x04, 0x04, 0x00, 0x07, 0x0F, 0x00, 0x00, 0x00,
                             0x01, 0x00, 0x06});
    const auto d = DecodePollReply(r, BuildPollFrame(5));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->buttons, 0x1234);
    EXPECT_EQ(d->channels, (std::array<Byte, 4>{64, 127, 0, 1}));
}

TEST(Protocol, HeaderEchoTest)
{
    const std::initializer_list<Byte> ok = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(DecodePollReply(withData(ok, 0x25), BuildPollFrame(5)));
    EXPECT_TRUE(DecodePollReply(withData(ok, 0xA5), BuildPollFrame(5)));
    EXPECT_FALSE(DecodePollReply(withData(ok, 0x05), BuildPollFrame(5)));

    // A reply for another ID, or with any fixed byte garbled, is rejected, whatever it holds.
    EXPECT_FALSE(DecodePollReply(withData(ok, 0x26), BuildPollFrame(5)));
    for (int i = 5; i < 8; ++i) {
        auto r = withData(ok);
        r[i] ^= 0x01;
        EXPECT_FALSE(DecodePollReply(r, BuildPollFrame(5))) << "byte " << i;
    }
}

TEST(Protocol, RefusedReplyNamesTheCheckThatFailed)
{
    const PollFrame poll = BuildPollFrame(5);
    const Reply good = encodeReply(poll, 0x1234, {1, 2, 3, 4});
    struct Case {
        int byte;
        Byte flip;
        PollFault fault;
    };
    for (const Case c : {Case{0, 0, PollFault::None}, Case{4, 0x01, PollFault::Header},
                         Case{7, 0x01, PollFault::Header}, Case{9, 0x01, PollFault::Checksum},
                         Case{21, 0x01, PollFault::Checksum}}) {
        SCOPED_TRACE(::testing::Message() << "byte " << c.byte);
        Reply r = good;
        r[static_cast<std::size_t>(c.byte)] ^= c.flip;
        PollFault fault = PollFault::Missed;
        EXPECT_EQ(DecodePollReply(r, poll, &fault).has_value(), c.fault == PollFault::None);
        EXPECT_EQ(fault, c.fault);
    }
}

TEST(Protocol, NibblesAreNotMasked)
{
    EXPECT_EQ(UnpackNibblePair(0x01, 0x1F), 0x2F);
    EXPECT_EQ(UnpackNibblePair(0x1F, 0x0F), 0xFF);  // the high byte's upper bits shift out
    EXPECT_EQ(UnpackNibblePair(0x0F, 0xFF), 0xEF);  // 0xF0 + 0xFF wraps
}

TEST(Protocol, ChecksumIsSevenBitsComparedWholeByte)
{
    // Data sums to 0x106: checksum 0x06 matches, 0x86 (pair 08 06) never does.
    auto r = withData({0x01, 0x02, 0x03, 0x04, 0x04, 0x00, 0x07, 0x0F, 0x00, 0x00, 0x00, 0x01,
                       0x08, 0x06});
    EXPECT_FALSE(DecodePollReply(r, BuildPollFrame(5)));
    r[21] = 0x07;
    r[20] = 0x00;
    EXPECT_FALSE(DecodePollReply(r, BuildPollFrame(5)));
}

TEST(Protocol, RoundTripOfRandomStates)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> word(0, 0xFFFF), channel(0, 255), id(0, 31);
    for (int i = 0; i < 5000; ++i) {
        const auto poll = BuildPollFrame(Byte(id(rng)));
        const std::uint16_t buttons = std::uint16_t(word(rng));
        const std::array<Byte, 4> ch{Byte(channel(rng)), Byte(channel(rng)), Byte(channel(rng)),
                                     Byte(channel(rng))};
        const auto d = DecodePollReply(encodeReply(poll, buttons, ch), poll);
        ASSERT_TRUE(d) << i;
        EXPECT_EQ(d->buttons, buttons);
        EXPECT_EQ(d->channels, ch);
    }
}

TEST(Protocol, GetIdNeedsBitsFiveAndSix)
{
    EXPECT_EQ(GetID(0x65), 5);
    EXPECT_EQ(GetID(0xE5), 5);
    EXPECT_EQ(GetID(0x7F), 31);
    EXPECT_EQ(GetID(0x45), kNoID);
    EXPECT_EQ(GetID(0x25), kNoID);
    EXPECT_EQ(GetID(0x00), kNoID);
    EXPECT_EQ(kIdQuery, (IdQuery{0xFF, 0x00, 0x00, 0x00}));
}

TEST(Protocol, WriteFrames)
{
    EXPECT_EQ(GetWriteCmd(3), 0xC3);
    EXPECT_EQ(BuildWriteFrame(0, 1, 17), (WriteFrame{0xC0, 0x00, 0x00, 0x01, 0x01, 0x01}));
    EXPECT_EQ(BuildWriteFrame(3, 10, 3), (WriteFrame{0xC3, 0x00, 0x00, 0x0A, 0x00, 0x03}));
    EXPECT_EQ(BuildWriteFrame(0, 0, 31), (WriteFrame{0xC0, 0x00, 0x00, 0x00, 0x01, 0x0F}));
}

TEST(Protocol, WriteReplyCheck)
{
    const auto frame = BuildWriteFrame(3, 10, 3);
    std::array<Byte, kWriteReplySize> reply{0xC3, 0x00, 0x00, 0x0A, 0x00, 0x03, 0x43, 0x00};
    EXPECT_TRUE(CheckWriteReply(reply, frame));
    reply[6] = 0xC3;
    EXPECT_TRUE(CheckWriteReply(reply, frame));
    reply[7] = 0x01;
    EXPECT_FALSE(CheckWriteReply(reply, frame));
    reply[7] = 0x00;
    reply[6] = 0x44;
    EXPECT_FALSE(CheckWriteReply(reply, frame));
}

TEST(Protocol, LineSpeedTable)
{
    const std::vector<std::tuple<int, int, int>> rows{{0, 115200, 10}, {1, 625000, 1},
                                                      {2, 1250000, 0}};
    for (const auto& [index, rate, code] : rows) {
        SCOPED_TRACE(rate);
        const auto byIndex = LineSpeedByIndex(index);
        const auto byRate = LineSpeedByBitRate(rate);
        const auto byCode = LineSpeedByCode(Byte(code));
        ASSERT_TRUE(byIndex && byRate && byCode);
        EXPECT_EQ(byIndex->bitRate, rate);
        EXPECT_EQ(byRate->code, code);
        EXPECT_EQ(byCode->index, index);
    }
    EXPECT_FALSE(LineSpeedByIndex(-1));
    EXPECT_FALSE(LineSpeedByIndex(3));
    EXPECT_FALSE(LineSpeedByBitRate(9600));
    EXPECT_FALSE(LineSpeedByCode(2));
}
