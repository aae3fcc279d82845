// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual receiver over a real pseudo-terminal: the test opens the slave side as the
// tool does, sets the line speed with termios2 and talks to it byte by byte.

#include "sim/StateFile.h"
#include "sim/VirtualReceiver.h"

#include "core/Protocol.h"
#include "platform/Termios2.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

using namespace zub3;
using namespace zub3::sim;
using namespace std::chrono_literals;
using Bytes = std::vector<Byte>;
using Clock = std::chrono::steady_clock;

namespace {

// The tool's end of the line.
class Line {
public:
    Line(const std::string& path, int bitRate)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        EXPECT_GE(fd_, 0) << path;
        SetRate(bitRate);
    }
    ~Line() { ::close(fd_); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    int fd() const { return fd_; }

    void SetRate(int bitRate)
    {
        platform::Termios2 t;
        ASSERT_TRUE(platform::GetTermios2(fd_, t));
        platform::SetTermios2Rate(t, static_cast<std::uint32_t>(bitRate));
        ASSERT_TRUE(platform::SetTermios2(fd_, t));
    }

    void Send(const Bytes& bytes)
    {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What arrives until count bytes have come or the time is up.
    Bytes Read(std::size_t count, std::chrono::milliseconds timeout = 2000ms)
    {
        Bytes out;
        const auto deadline = Clock::now() + timeout;
        while (out.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            Byte buf[64];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0)
                out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    // Nothing more arrives for a while.
    bool Quiet(std::chrono::milliseconds time = 100ms) { return Read(1, time).empty(); }

private:
    int fd_;
};

Bytes frame(const auto& f) { return Bytes(f.begin(), f.end()); }

Bytes poll(int id) { return frame(BuildPollFrame(static_cast<Byte>(id))); }

std::optional<PollData> decode(const Bytes& reply, int id)
{
    if (reply.size() != kPollReplySize)
        return std::nullopt;
    return DecodePollReply(std::span<const Byte, kPollReplySize>(reply.data(), kPollReplySize),
                           BuildPollFrame(static_cast<Byte>(id)));
}

bool writeAccepted(const Bytes& reply, const WriteFrame& f)
{
    return reply.size() == kWriteReplySize &&
           CheckWriteReply(std::span<const Byte, kWriteReplySize>(reply.data(), kWriteReplySize),
                           f);
}

VirtualReceiver::Config config(int id, int bitRate, Faults faults = {})
{
    VirtualReceiver::Config c;
    c.id = id;
    c.bitRate = bitRate;
    c.faults = faults;
    return c;
}

// D0..D5 = 12 34 40 7F 00 01, checksum 06.
void setExampleState(VirtualReceiver& rx)
{
    rx.SetButtons(0x1234);
    for (int i = 0; i < 4; ++i)
        rx.SetChannel(i, std::array<Byte, 4>{64, 127, 0, 1}[static_cast<std::size_t>(i)]);
}

const Bytes kExampleData{0x01, 0x02, 0x03, 0x04, 0x04, 0x00, 0x07,
                         0x0F, 0x00, 0x00, 0x00, 0x01, 0x00, 0x06};

Bytes exampleReply(int id)
{
    Bytes r = poll(id);
    r.insert(r.end(), {static_cast<Byte>(0x20 | id), 0x7F, 0x00, 0x07});
    r.insert(r.end(), kExampleData.begin(), kExampleData.end());
    return r;
}

}  // namespace

TEST(VirtualReceiver, AnswersAPollAtEachLineSpeedWithTheStateSet)
{
    for (const auto& speed : kLineSpeeds) {
        SCOPED_TRACE(speed.bitRate);
        VirtualReceiver rx(config(5, speed.bitRate));
        setExampleState(rx);
        Line line(rx.SlavePath(), speed.bitRate);
        line.Send(poll(5));
        const Bytes reply = line.Read(kPollReplySize);
        EXPECT_EQ(reply, exampleReply(5));
        EXPECT_EQ(decode(reply, 5), (PollData{0x1234, {64, 127, 0, 1}}));
        EXPECT_TRUE(line.Quiet());
    }
}

TEST(VirtualReceiver, PacesItsBytesAtTheLineSpeedAfterTheTurnaround)
{
    // 22 bytes of 11 bits at 115200 bit/s take 2.1 ms on the line.
    const auto lineTime = std::chrono::microseconds(22 * 11 * 1'000'000 / 115200);
    VirtualReceiver rx(config(0, 115200));
    Line line(rx.SlavePath(), 115200);
    auto start = Clock::now();
    line.Send(poll(0));
    ASSERT_EQ(line.Read(kPollReplySize).size(), 22u);
    EXPECT_GE(Clock::now() - start, lineTime);

    auto c = config(0, 115200);
    c.turnaround = 100ms;
    VirtualReceiver slow(c);
    Line slowLine(slow.SlavePath(), 115200);
    start = Clock::now();
    slowLine.Send(poll(0));
    ASSERT_EQ(slowLine.Read(kPollReplySize).size(), 22u);
    EXPECT_GE(Clock::now() - start, 100ms + lineTime);
}

TEST(VirtualReceiver, IdQueryAnswersWithItsID)
{
    VirtualReceiver rx(config(17, 625000));
    Line line(rx.SlavePath(), 625000);
    line.Send(frame(kIdQuery));
    const Bytes reply = line.Read(kIdReplySize);
    EXPECT_EQ(reply, (Bytes{0xFF, 0x00, 0x00, 0x00, 0x71}));
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_EQ(GetID(reply[4]), 17);
}

TEST(VirtualReceiver, SilentAtAnotherLineSpeed)
{
    VirtualReceiver rx(config(0, 115200));
    Line line(rx.SlavePath(), 625000);
    line.Send(poll(0));
    line.Send(frame(kIdQuery));
    EXPECT_TRUE(line.Read(1, 600ms).empty());  // the tool gives up after 500 ms
    EXPECT_GE(rx.GetCounters().wrongSpeed, 1u);

    // At its own speed it answers, and only the new request.
    line.SetRate(115200);
    line.Send(poll(0));
    EXPECT_EQ(line.Read(kPollReplySize).size(), 22u);
    EXPECT_TRUE(line.Quiet());
}

TEST(VirtualReceiver, IgnoresOtherIDsAndBytesItDoesNotUnderstand)
{
    VirtualReceiver rx(config(3, 115200));
    setExampleState(rx);
    Line line(rx.SlavePath(), 115200);
    line.Send(poll(4));
    line.Send(frame(BuildWriteFrame(4, 1, 9)));
    line.Send({0x13, 0x37, 0xA3, 0x11, 0xFF, 0x01});  // garbage, a broken poll and query
    line.Send(frame(BuildWriteFrame(3, 5, 9)));        // no such line-speed code
    line.Send(frame(BuildWriteFrame(3, 1, 32)));       // no such ID
    line.Send(poll(3));
    EXPECT_EQ(line.Read(kPollReplySize), exampleReply(3));
    EXPECT_TRUE(line.Quiet());
    const auto c = rx.GetCounters();
    EXPECT_EQ(c.otherID, 2u);
    EXPECT_EQ(c.polls, 1u);
    EXPECT_EQ(c.writes, 0u);
    EXPECT_EQ(rx.ID(), 3);
    EXPECT_EQ(rx.BitRate(), 115200);
}

TEST(VirtualReceiver, DropsAFrameLeftUnfinished)
{
    VirtualReceiver rx(config(3, 115200));
    Line line(rx.SlavePath(), 115200);
    line.Send({0xA3, 0x7F, 0x00});
    std::this_thread::sleep_for(300ms);
    line.Send({0x07});  // would complete the poll, were it not so late
    line.Send(poll(3));
    EXPECT_EQ(line.Read(kPollReplySize).size(), 22u);
    EXPECT_TRUE(line.Quiet());
    EXPECT_EQ(rx.GetCounters().polls, 1u);
}

TEST(VirtualReceiver, WriteChangesIDAndSpeedAndKeepsThem)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zub3-vr-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto c = config(0, 115200);
    c.stateFile = dir / "state";
    VirtualReceiver rx(c);
    Line line(rx.SlavePath(), 115200);

    // The poll sent right behind the write comes at the old speed: it is not understood.
    const WriteFrame write = BuildWriteFrame(0, 1, 17);  // 625000 bit/s, ID 17
    Bytes writeThenPoll = frame(write);
    const Bytes poll17 = poll(17);
    writeThenPoll.insert(writeThenPoll.end(), poll17.begin(), poll17.end());
    line.Send(writeThenPoll);
    const Bytes reply = line.Read(kWriteReplySize);
    EXPECT_EQ(reply, (Bytes{0xC0, 0x00, 0x00, 0x01, 0x01, 0x01, 0x40, 0x00}));
    EXPECT_TRUE(writeAccepted(reply, write));
    EXPECT_TRUE(line.Quiet());
    ASSERT_TRUE(WaitUntil([&] { return rx.ID() == 17; }));
    EXPECT_EQ(rx.BitRate(), 625000);
    EXPECT_EQ(LoadSettings(dir / "state"), (StoredSettings{17, 625000}));

    // The old speed gets nothing, not even for the new ID.
    line.Send(poll(17));
    ASSERT_TRUE(WaitUntil([&] { return rx.GetCounters().wrongSpeed == 1; }));
    // At the new speed the old ID gets nothing; the new one is answered.
    line.SetRate(625000);
    line.Send(poll(0));
    line.Send(poll(17));
    const Bytes answer = line.Read(kPollReplySize);
    ASSERT_EQ(answer.size(), 22u);
    EXPECT_EQ(answer[0], 0xB1);
    EXPECT_TRUE(decode(answer, 17));
    EXPECT_TRUE(line.Quiet());
    EXPECT_EQ(rx.GetCounters().otherID, 1u);
    std::filesystem::remove_all(dir);
}

TEST(VirtualReceiver, ServesTheToolAcrossCloseAndReopen)
{
    VirtualReceiver rx(config(0, 115200));
    for (int round = 0; round < 3; ++round) {
        // Opened as the tool opens it: locked and exclusive.
        Line line(rx.SlavePath(), 115200);
        ASSERT_EQ(::flock(line.fd(), LOCK_EX | LOCK_NB), 0);
        ASSERT_EQ(::ioctl(line.fd(), TIOCEXCL), 0);
        line.Send(poll(0));
        EXPECT_EQ(line.Read(kPollReplySize).size(), 22u) << "round " << round;
        // A pseudo-terminal keeps the exclusive flag after its last close (the master keeps
        // the slave alive), so without this a non-root re-open fails with EBUSY.
        ::ioctl(line.fd(), TIOCNXCL);
    }
}

TEST(VirtualReceiver, FaultsOnPollReplies)
{
    VirtualReceiver rx(config(2, 115200));
    setExampleState(rx);
    Line line(rx.SlavePath(), 115200);
    const Bytes good = exampleReply(2);
    const auto ask = [&](Faults f, std::size_t count) {
        rx.SetFaults(f);
        line.Send(poll(2));
        Bytes r = line.Read(count);
        EXPECT_TRUE(line.Quiet());
        return r;
    };

    rx.SetFaults({.noReply = true});
    line.Send(poll(2));
    ASSERT_TRUE(WaitUntil([&] { return rx.GetCounters().polls == 1; }));
    EXPECT_TRUE(line.Quiet());

    EXPECT_EQ(ask({.shortReply = 10}, 10), Bytes(good.begin(), good.begin() + 10));
    EXPECT_EQ(ask({.shortReply = 2}, 2), Bytes(good.begin(), good.begin() + 2));

    Bytes r = ask({.badChecksum = true}, 22);
    ASSERT_EQ(r.size(), 22u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 20), Bytes(good.begin(), good.begin() + 20));
    EXPECT_EQ(UnpackNibblePair(r[20], r[21]), 0x07);
    EXPECT_FALSE(decode(r, 2));

    r = ask({.badHeader = true}, 22);
    ASSERT_EQ(r.size(), 22u);
    EXPECT_NE(r[4], good[4]);
    EXPECT_EQ(Bytes(r.begin() + 5, r.end()), Bytes(good.begin() + 5, good.end()));
    EXPECT_FALSE(decode(r, 2));

    r = ask({.noise = 3}, 25);
    ASSERT_EQ(r.size(), 25u);
    EXPECT_EQ(Bytes(r.begin() + 3, r.end()), good);
    EXPECT_FALSE(decode(Bytes(r.begin(), r.begin() + 22), 2));

    line.SetRate(1250000);
    EXPECT_EQ(ask({.anySpeed = true}, 22), good);
}

TEST(VirtualReceiver, FaultsOnWritesStillTakeTheWrite)
{
    VirtualReceiver rx(config(3, 115200, {.badHeader = true}));
    Line line(rx.SlavePath(), 115200);
    const WriteFrame first = BuildWriteFrame(3, 10, 4);
    line.Send(frame(first));
    EXPECT_FALSE(writeAccepted(line.Read(kWriteReplySize), first));
    ASSERT_TRUE(WaitUntil([&] { return rx.ID() == 4; }));

    rx.SetFaults({.noReply = true});
    line.Send(frame(BuildWriteFrame(4, 10, 5)));
    ASSERT_TRUE(WaitUntil([&] { return rx.ID() == 5; }));
    EXPECT_TRUE(line.Quiet());
}

TEST(VirtualReceiver, DelayHoldsItsOwnBytesPastTheTimeOut)
{
    VirtualReceiver rx(config(0, 115200, {.delay = kDefaultFaultDelay}));
    Line line(rx.SlavePath(), 115200);
    const auto start = Clock::now();
    line.Send(poll(0));
    EXPECT_EQ(line.Read(4), poll(0));  // the line's echo is not held back
    EXPECT_EQ(line.Read(18, 3000ms).size(), 18u);
    EXPECT_GE(Clock::now() - start, 700ms);
}

TEST(VirtualReceiver, StopEndsALongDelayAtOnce)
{
    VirtualReceiver rx(config(0, 115200, {.delay = 60s}));
    Line line(rx.SlavePath(), 115200);
    line.Send(poll(0));
    ASSERT_EQ(line.Read(4).size(), 4u);
    const auto start = Clock::now();
    rx.Stop();
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_TRUE(line.Quiet());
}

TEST(VirtualReceiver, RefusesABadConfiguration)
{
    EXPECT_THROW(VirtualReceiver(config(32, 115200)), std::invalid_argument);
    EXPECT_THROW(VirtualReceiver(config(0, 9600)), std::invalid_argument);
}
