// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/CommX.h"

#include "support/FakeComm.h"
#include "support/PtyPair.h"
#include "support/QuickCommX.h"
#include "support/Wait.h"
#include "toolkit/Dialogs.h"

#include <gtest/gtest.h>

#include <termios.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace win = platform::win;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return b;
}

long msSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string messageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ECommError& e) {
        return e.what();
    }
    return "(nothing raised)";
}

// The program's settings.
void configure(TCommX& comm, int portNo)
{
    comm.SetPortNo(portNo);
    comm.SetBitRate(115200);
    comm.SetParityBit(cpbEven);
    comm.SetFlowCtrl(cfcNone);
    comm.SetTimeOutReceive(500);
}

// --- on a pseudo terminal ---

class CommXPty : public ::testing::Test {
protected:
    void SetUp() override { configure(comm, line.PortNumber()); }

    RegisteredPty line;
    PtyPair& far = line.Pty();
    QuickCommX comm{nullptr};
};

}  // namespace

TEST(CommX, ClosedComponentHasItsDefaultsAndDoesNothing)
{
    TCommX comm(nullptr);
    EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(comm.PortNo(), 1);
    EXPECT_EQ(comm.BitRate(), 9600);
    EXPECT_EQ(comm.CharSize(), 8);
    EXPECT_EQ(comm.ParityBit(), cpbNone);
    EXPECT_EQ(comm.StopBit(), csb1);
    EXPECT_EQ(comm.FlowCtrl(), cfcRtsCts);
    EXPECT_EQ(comm.TimeOutTrans(), 3000);
    EXPECT_EQ(comm.TimeOutReceive(), 3000);
    EXPECT_EQ(comm.XonChar(), 17);
    EXPECT_EQ(comm.XoffChar(), 19);
    EXPECT_EQ(comm.BufLenTrans(), 2048);
    EXPECT_EQ(comm.BufLenReceive(), 2048);
    EXPECT_EQ(comm.Language, clJapanese);
    EXPECT_FALSE(comm.OnReceive || comm.OnBreak || comm.OnError);

    // Closed: writing stores, whatever the value, and the operations do nothing.
    comm.SetBitRate(5);
    comm.SetBufLenTrans(0);
    comm.SetCharSize(42);
    EXPECT_EQ(comm.BitRate(), 5);
    EXPECT_EQ(comm.BufLenTrans(), 0);
    EXPECT_EQ(comm.CharSize(), 42);
    const Bytes data{1, 2, 3};
    EXPECT_TRUE(comm.Send(data.data(), 0));
    EXPECT_FALSE(comm.Send(data.data(), 3));
    Bytes in(4);
    EXPECT_EQ(comm.Receive(in.data(), 4), -1);
    EXPECT_EQ(comm.ReadByte(), -1);
    EXPECT_EQ(comm.SendPending(), 0);
    EXPECT_EQ(comm.ReceivedCount(), 0);
    const auto start = Clock::now();
    comm.PurgeSend();
    comm.PurgeReceive();
    comm.SetRTS(true);
    comm.SetDTR(true);
    comm.Close();
    EXPECT_LT(msSince(start), 100);
}

TEST(CommX, PublishesItsPropertiesByName)
{
    TCommX comm(nullptr);
    EXPECT_TRUE(comm.setProperty("BitRate", 115200));
    EXPECT_TRUE(comm.setProperty("TimeOutReceive", 500));
    EXPECT_TRUE(comm.setProperty("ParityBit", QVariant::fromValue(cpbEven)));
    EXPECT_TRUE(comm.setProperty("FlowCtrl", QVariant::fromValue(cfcNone)));
    EXPECT_EQ(comm.BitRate(), 115200);
    EXPECT_EQ(comm.TimeOutReceive(), 500);
    EXPECT_EQ(comm.ParityBit(), cpbEven);
    EXPECT_EQ(comm.FlowCtrl(), cfcNone);
    EXPECT_EQ(comm.property("Handle").toUInt(), INVALID_HANDLE_VALUE);
}

TEST(CommX, PortsThatCannotBeOpenedRaiseTheCannotOpenMessage)
{
    RegisteredPty line;  // an empty registry apart from this port
    TCommX comm(nullptr);
    for (const int portNo : {0, -1, line.PortNumber() + 1, 123456789}) {
        comm.SetPortNo(portNo);
        EXPECT_EQ(messageOf([&] { comm.Open(); }), "ポートをオープンできませんでした") << portNo;
        EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
    }
    comm.Language = clEnglish;
    EXPECT_EQ(messageOf([&] { comm.Open(); }), "Can not open port.");
}

TEST_F(CommXPty, OpenAppliesRateAndTimeOuts)
{
    comm.SetBitRate(625000);
    comm.Open();
    ASSERT_NE(comm.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(far.Rate(), 625000u);
    win::COMMTIMEOUTS t;
    ASSERT_TRUE(win::GetCommTimeouts(comm.Handle(), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, win::MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 500u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 3000u);

    comm.SetBitRate(1250000);  // applied at once to the open port
    EXPECT_EQ(far.Rate(), 1250000u);
    comm.SetTimeOutReceive(250);
    ASSERT_TRUE(win::GetCommTimeouts(comm.Handle(), &t));
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 250u);
}

TEST_F(CommXPty, OpensAPortLeftWithoutStartAndStopCharacters)
{
    // As "stty start undef stop undef" leaves a port: both characters 0.
    platform::Termios2 t;
    ASSERT_TRUE(platform::GetTermios2(far.Master(), t));
    t.c_cc[VSTART] = t.c_cc[VSTOP] = 0;
    ASSERT_TRUE(platform::SetTermios2(far.Master(), t));
    comm.Open();
    ASSERT_NE(comm.Handle(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(platform::GetTermios2(far.Master(), t));
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);
}

TEST_F(CommXPty, ReceiveGetsTheReplyOrWhatCameByTheTimeOut)
{
    comm.SetTimeOutReceive(300);
    comm.Open();
    const Bytes reply = pattern(22);
    QTimer::singleShot(50, [&] { far.Write(reply); });
    Bytes in(22);
    EXPECT_EQ(comm.Receive(in.data(), 22), 22);
    EXPECT_EQ(in, reply);

    // Only part of it comes: the count so far, once the time-out has run out.
    far.Write(Bytes(reply.begin(), reply.begin() + 5));
    const auto start = Clock::now();
    EXPECT_EQ(comm.Receive(in.data(), 22), 5);
    const long took = msSince(start);
    EXPECT_GE(took, 290);
    EXPECT_LT(took, 2000);
    EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + 5, in.begin()));

    // Nothing at all: 0.
    EXPECT_EQ(comm.Receive(in.data(), 22), 0);
    EXPECT_EQ(comm.Receive(nullptr, 22), -1);
}

TEST_F(CommXPty, ReadByteTellsByte255FromSilence)
{
    comm.SetTimeOutReceive(200);
    comm.Open();
    far.Write({0xFF});
    EXPECT_EQ(comm.ReadByte(), 255);
    const auto start = Clock::now();
    EXPECT_EQ(comm.ReadByte(), -1);
    EXPECT_GE(msSince(start), 190);
}

TEST_F(CommXPty, SendHandsOverBlocksThatArriveCompleteAndInOrder)
{
    comm.Open();
    const Bytes data = pattern(5000);
    ASSERT_TRUE(comm.Send(data.data(), 5000));
    EXPECT_LE(comm.SendPending(), 5000);
    EXPECT_EQ(far.Read(5000, 3000ms), data);
    EXPECT_TRUE(WaitUntil([&] { return comm.SendPending() == 0; }));
}

TEST_F(CommXPty, TheBlockLimitKeepsTheEventLoopAlive)
{
    comm.Open();
    // The far side reads nothing at first, so the pty fills and blocks pile up.
    const Bytes data = pattern(512 * 1024);
    Bytes received;
    int ticks = 0;
    int mostPending = 0;
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] {
        ++ticks;  // only Send's wait handles events here
        mostPending = std::max(mostPending, comm.SendPending());
        const auto more = far.ReadAvailable();
        received.insert(received.end(), more.begin(), more.end());
    });
    drain.start(5);
    EXPECT_TRUE(comm.Send(data.data(), static_cast<int>(data.size())));
    drain.stop();
    EXPECT_GT(ticks, 0);
    EXPECT_LE(mostPending, 32 * 2048);
    const auto rest = far.Read(data.size() - received.size(), 5000ms);
    received.insert(received.end(), rest.begin(), rest.end());
    EXPECT_EQ(received, data);
}

TEST_F(CommXPty, SendWaitingForTheBlockLimitGivesUpWhenThePortCloses)
{
    comm.Open();
    const Bytes data = pattern(512 * 1024);
    QTimer::singleShot(20, [&] { comm.Close(); });
    EXPECT_FALSE(comm.Send(data.data(), static_cast<int>(data.size())));
    EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
}

TEST_F(CommXPty, PurgeSendDiscardsQueuedBlocksAndTheNextSendGoesOut)
{
    comm.SetBufLenTrans(4096);
    comm.Open();
    // 30 blocks (under the limit, so Send returns at once), more than the pty takes.
    const Bytes data = pattern(30 * 4096);
    ASSERT_TRUE(comm.Send(data.data(), static_cast<int>(data.size())));
    comm.PurgeSend();
    EXPECT_EQ(comm.SendPending(), 0);
    const Bytes through = far.Drain(100ms);
    EXPECT_LT(through.size(), data.size());

    const Bytes frame{0x41, 0x42, 0x43};
    ASSERT_TRUE(comm.Send(frame.data(), 3));
    EXPECT_EQ(far.Read(3, 3000ms), frame);
    EXPECT_TRUE(far.Drain(50ms).empty());
}

TEST_F(CommXPty, OpenAndCloseTakeTheirPausesAndCloseEndsSending)
{
    TCommX paused(nullptr);
    configure(paused, line.PortNumber());
    auto start = Clock::now();
    paused.Open();
    EXPECT_GE(msSince(start), 100);
    start = Clock::now();
    paused.Close();
    EXPECT_GE(msSince(start), 600);
    EXPECT_EQ(paused.Handle(), INVALID_HANDLE_VALUE);
    const Bytes frame{1, 2, 3};
    EXPECT_FALSE(paused.Send(frame.data(), 3));
    EXPECT_EQ(paused.ReadByte(), -1);
}

TEST_F(CommXPty, SecondOpenRaisesAndThePortStaysUsable)
{
    comm.Open();
    const HANDLE handle = comm.Handle();
    EXPECT_EQ(messageOf([&] { comm.Open(); }), "ポートは、すでにオープンされています");
    comm.Language = clEnglish;
    EXPECT_EQ(messageOf([&] { comm.Open(); }), "Port is already open.");
    EXPECT_EQ(comm.Handle(), handle);
    const Bytes frame{9, 8, 7};
    ASSERT_TRUE(comm.Send(frame.data(), 3));
    EXPECT_EQ(far.Read(3, 3000ms), frame);
}

TEST_F(CommXPty, APortInUseCannotBeOpenedByASecondComponent)
{
    comm.Open();
    TCommX second(nullptr);
    configure(second, line.PortNumber());
    // The first line as ever, the second names the device and who has it.
    const std::string holder = " test_CommX (PID " + std::to_string(::getpid()) + ")";
    const std::string japanese = "ポートをオープンできませんでした\n" + far.SlavePath() + " は" + holder +
                                 " が使用中です。そのプログラムを終了してから、もう一度オープンしてください";
    EXPECT_EQ(messageOf([&] { second.Open(); }), japanese);
    EXPECT_EQ(second.Handle(), INVALID_HANDLE_VALUE);
    second.Language = clEnglish;
    EXPECT_EQ(messageOf([&] { second.Open(); }), "Can not open port.\n" + far.SlavePath() +
                                                     " is in use by" + holder +
                                                     ": close it and open the port again.");
    far.Write({0x55});
    EXPECT_EQ(comm.ReadByte(), 0x55);

    // The window's default report shows both lines.
    std::vector<MessageRecord> shown;
    const MessageBoxHook previous = SetMessageBoxHook([&](const MessageRecord& r) { shown.push_back(r); });
    second.Language = clJapanese;
    RunGuarded([&] { second.Open(); });
    SetMessageBoxHook(previous);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, QString::fromStdString(japanese + "."));
}

TEST_F(CommXPty, BytesWithAParityOrFramingErrorAreNotTurnedIntoNul)
{
    comm.Open();  // even parity, checked
    platform::Termios2 t;
    ASSERT_TRUE(platform::GetTermios2(far.Master(), t));  // the port's settings, seen from afar
    EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR | PARMRK), 0u);
}

TEST_F(CommXPty, WritingPortNoReopensTheOpenPort)
{
    comm.Open();
    const HANDLE before = comm.Handle();
    comm.SetPortNo(line.PortNumber());
    EXPECT_NE(comm.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_NE(comm.Handle(), before);
    far.Write({0x12});
    EXPECT_EQ(comm.ReadByte(), 0x12);

    // A number that does not open leaves the port closed.
    EXPECT_THROW(comm.SetPortNo(line.PortNumber() + 1), ECommError);
    EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
}

TEST_F(CommXPty, UnpluggingDuringReceiveEndsItAtOnce)
{
    comm.SetTimeOutReceive(5000);
    comm.Open();
    QTimer::singleShot(100, [&] { far.CloseMaster(); });
    Bytes in(22);
    auto start = Clock::now();
    EXPECT_EQ(comm.Receive(in.data(), 22), -1);
    EXPECT_LT(msSince(start), 2500);
    start = Clock::now();
    EXPECT_EQ(comm.Receive(in.data(), 22), -1);
    EXPECT_EQ(comm.ReadByte(), -1);
    EXPECT_LT(msSince(start), 500);
    comm.Close();
    EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
}

// A virtual receiver that ends takes its registration with it: the refusals that follow
// name the device the port had, not one the number would stand for in a band (COM7 is
// /dev/ttyS6 there) or nothing (no band has COM51).
TEST(CommX, RefusalsNameTheDeviceAVirtualPortHadAfterItsProgramEnded)
{
    for (const int portNo : {7, 51}) {
        TempRegistry registry;
        PtyPair far;
        auto registration =
            std::make_unique<platform::registry::Registration>(portNo, far.SlavePath(), "sim");
        QuickCommX comm(nullptr);
        configure(comm, portNo);
        comm.Open();
        registration.reset();
        far.CloseMaster();
        const std::string gone = "\n" + far.SlavePath() + " はもう存在しません。"
                                 "アダプターを接続し直すか、別のポートを選んでください";
        EXPECT_EQ(messageOf([&] { comm.SetBitRate(625000); }),
                  "通信速度の設定でエラーが発生しました" + gone) << portNo;
        comm.Close();
        EXPECT_EQ(messageOf([&] { comm.Open(); }), "ポートをオープンできませんでした" + gone)
            << portNo;
    }
}

TEST_F(CommXPty, PurgeReceiveOrCloseDuringReceiveEndsIt)
{
    comm.SetTimeOutReceive(5000);
    comm.Open();
    Bytes in(22);
    QTimer::singleShot(50, [&] { comm.PurgeReceive(); });
    auto start = Clock::now();
    EXPECT_EQ(comm.Receive(in.data(), 22), -1);
    EXPECT_LT(msSince(start), 2500);
    QTimer::singleShot(50, [&] { comm.Close(); });
    start = Clock::now();
    EXPECT_EQ(comm.Receive(in.data(), 22), -1);
    EXPECT_LT(msSince(start), 3000);
}

TEST_F(CommXPty, DestroyingTheComponentClosesItsPort)
{
    {
        TCommX owner(nullptr);
        auto* owned = new QuickCommX(&owner);  // freed with its owner
        configure(*owned, line.PortNumber());
        owned->Open();
    }
    comm.Open();
    EXPECT_NE(comm.Handle(), INVALID_HANDLE_VALUE);
}

TEST_F(CommXPty, OnReceiveReportsTheQueuedCountOnTheMainThread)
{
    comm.Open();
    std::vector<int> sizes;
    QThread* thread = nullptr;
    comm.OnReceive = [&](QObject* sender, int size) {
        EXPECT_EQ(sender, &comm);
        thread = QThread::currentThread();
        sizes.push_back(size);
    };
    far.Write(pattern(22));
    EXPECT_TRUE(WaitUntil([&] { return !sizes.empty() && sizes.back() == 22; }));
    EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    Bytes in(22);
    EXPECT_EQ(comm.Receive(in.data(), 22), 22);
}

namespace {

std::size_t entries(const char* dir)
{
    const std::filesystem::directory_iterator it(dir);
    return static_cast<std::size_t>(std::distance(begin(it), end(it)));
}

}  // namespace

TEST(CommXCycles, OpenCloseCyclesLeaveNothingBehind)
{
    RegisteredPty line;
    QuickCommX comm(nullptr);
    configure(comm, line.PortNumber());
    const auto settle = [] {
        // The threads of a closed port end on their own, about 100 ms after Close.
        std::size_t last = 0;
        for (int i = 0; i < 40; ++i) {
            std::this_thread::sleep_for(50ms);
            QCoreApplication::processEvents();
            const std::size_t now = entries("/proc/self/task");
            if (now == last)
                break;
            last = now;
        }
    };
    comm.Open();
    comm.Close();
    settle();
    const std::size_t threads = entries("/proc/self/task");
    const std::size_t descriptors = entries("/proc/self/fd");
    const std::size_t heap = mallinfo2().uordblks;

    for (int i = 0; i < 200; ++i) {
        comm.Open();
        if (i % 2)
            comm.Send("\x01\x02", 2);
        comm.Close();
    }
    settle();
    EXPECT_TRUE(WaitUntil([&] { return entries("/proc/self/task") <= threads; }, 5000ms));
    EXPECT_EQ(entries("/proc/self/fd"), descriptors);
    EXPECT_LT(mallinfo2().uordblks, heap + 64 * 1024);
}

// --- on the fake device ---

namespace {

constexpr int kFakePort = 907;

class CommXFake : public ::testing::Test {
protected:
    void SetUp() override { configure(comm, kFakePort); }
    void TearDown() override { comm.Close(); }  // without the pauses

    std::vector<win::FakeComm::LineEvent> eventsSince(Clock::time_point start) const
    {
        std::vector<win::FakeComm::LineEvent> after;
        for (const auto& e : device.Events())
            if (e.when >= start)
                after.push_back(e);
        return after;
    }

    win::FakeComm device{kFakePort};
    QuickCommX comm{nullptr};
};

}  // namespace

TEST_F(CommXFake, OpenWritesEachSettingInTurnAndClosingLowersTheLines)
{
    comm.Open();
    const auto given = device.StatesGiven();
    ASSERT_EQ(given.size(), 7u);  // BitRate, CharSize, ParityBit, StopBit, FlowCtrl, XonChar, XoffChar
    EXPECT_EQ(given[0].BaudRate, 115200u);
    EXPECT_EQ(given[0].Parity, win::NOPARITY);  // not yet applied
    EXPECT_EQ(given[2].Parity, win::EVENPARITY);
    EXPECT_NE(given[3].Flags, 0x1013u);
    EXPECT_EQ(given[4].Flags, 0x1013u);
    const win::DCB& d = given.back();
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, win::EVENPARITY);
    EXPECT_EQ(d.StopBits, win::ONESTOPBIT);
    EXPECT_EQ(d.Flags, 0x1013u);
    EXPECT_EQ(d.XonLim, 512);
    EXPECT_EQ(d.XoffLim, 512);
    EXPECT_EQ(d.XonChar, 17);
    EXPECT_EQ(d.XoffChar, 19);
    EXPECT_EQ(device.InQueue(), 2048u);
    EXPECT_EQ(device.OutQueue(), 2048u);
    const win::COMMTIMEOUTS t = device.Timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, win::MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 500u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 3000u);
    EXPECT_TRUE(device.Dtr());
    EXPECT_TRUE(device.Rts());

    EXPECT_THROW(comm.Open(), ECommError);
    EXPECT_EQ(device.StatesGiven().size(), 7u);  // a second Open changes nothing

    comm.Close();
    EXPECT_FALSE(device.Dtr());
    EXPECT_FALSE(device.Rts());
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(CommXFake, FlowControlSetsTheFlagsWordAndTheLimitsFromTheInputQueue)
{
    comm.Open();
    const std::pair<TCommFlowCtrls, win::DWORD> flags[] = {
        {cfcRtsCts, 0x2017}, {cfcDtrDsr, 0x102B},  {cfcXonXoff, 0x1313},
        {cfcHalfHigh, 0x0013}, {cfcHalfLow, 0x1013}, {cfcNone, 0x1013},
    };
    for (const auto& [flow, word] : flags) {
        comm.SetFlowCtrl(flow);
        EXPECT_EQ(device.State().Flags, word) << int(flow);
        EXPECT_EQ(device.State().XonLim, 512) << int(flow);
    }
    comm.SetFlowCtrl(cfcHalfHigh);
    EXPECT_FALSE(device.Rts());  // low at rest, high while sending

    comm.SetBufLenReceive(1000);
    EXPECT_EQ(device.InQueue(), 1000u);
    EXPECT_EQ(device.State().XonLim, 250);
    EXPECT_EQ(device.State().XoffLim, 250);
    EXPECT_EQ(device.State().Flags, 0x0013u);
}

TEST_F(CommXFake, EachRefusedSettingRaisesItsOwnMessageAndKeepsTheValue)
{
    struct Case {
        const char* japanese;
        const char* english;
        std::function<void()> refuse;
        std::function<void()> write;
        std::function<bool()> kept;
    };
    const auto refuseState = [&](std::function<bool(const win::DCB&)> f) {
        return [this, f] { device.RefuseState(f); };
    };
    const Case cases[] = {
        {"通信速度の設定でエラーが発生しました", "Bitrate configuration error.",
         refuseState([](const win::DCB& d) { return d.BaudRate == 57600; }),
         [&] { comm.SetBitRate(57600); }, [&] { return comm.BitRate() == 57600; }},
        {"通信速度の設定でエラーが発生しました", "Bitrate configuration error.", [] {},
         [&] { comm.SetBitRate(9); }, [&] { return comm.BitRate() == 9; }},
        {"通信ビット数の設定でエラーが発生しました", "Data bit configuration error.",
         refuseState([](const win::DCB& d) { return d.ByteSize == 7; }),
         [&] { comm.SetCharSize(7); }, [&] { return comm.CharSize() == 7; }},
        {"通信パリティチェックの設定でエラーが発生しました", "Parity configuration error.",
         refuseState([](const win::DCB& d) { return d.Parity == win::ODDPARITY; }),
         [&] { comm.SetParityBit(cpbOdd); }, [&] { return comm.ParityBit() == cpbOdd; }},
        {"通信ストップビット数の設定でエラーが発生しました", "Stop bit configuration error.",
         refuseState([](const win::DCB& d) { return d.StopBits == win::TWOSTOPBITS; }),
         [&] { comm.SetStopBit(csb2); }, [&] { return comm.StopBit() == csb2; }},
        {"通信フロー制御の設定で失敗しました", "Flow control configuration error.",
         refuseState([](const win::DCB& d) { return d.Flags == 0x1313; }),
         [&] { comm.SetFlowCtrl(cfcXonXoff); }, [&] { return comm.FlowCtrl() == cfcXonXoff; }},
        {"通信タイムアウト時間の設定で失敗しました", "Timeout configuration error.",
         [&] { device.RefuseTimeouts(true); }, [&] { comm.SetTimeOutTrans(100); },
         [&] { return comm.TimeOutTrans() == 100; }},
        {"通信タイムアウト時間の設定で失敗しました", "Timeout configuration error.",
         [&] { device.RefuseTimeouts(true); }, [&] { comm.SetTimeOutReceive(100); },
         [&] { return comm.TimeOutReceive() == 100; }},
        {"Xon文字の設定でエラーが発生しました", "Xon charactor configuration error.",
         refuseState([](const win::DCB& d) { return d.XonChar == 'A'; }),
         [&] { comm.SetXonChar('A'); }, [&] { return comm.XonChar() == 'A'; }},
        {"Xoff文字の設定でエラーが発生しました", "Xoff charactor configuration error.",
         refuseState([](const win::DCB& d) { return d.XoffChar == 'B'; }),
         [&] { comm.SetXoffChar('B'); }, [&] { return comm.XoffChar() == 'B'; }},
        {"通信用ポートのバッファを準備できませんでした", "Comport buffer can not be ready.",
         [&] { device.RefuseQueues(true); }, [&] { comm.SetBufLenTrans(100); },
         [&] { return comm.BufLenTrans() == 100; }},
        {"通信用ポートのバッファを準備できませんでした", "Comport buffer can not be ready.",
         [&] { device.RefuseQueues(true); }, [&] { comm.SetBufLenReceive(100); },
         [&] { return comm.BufLenReceive() == 100; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.english);
        comm.Language = clJapanese;
        comm.Open();
        c.refuse();
        EXPECT_EQ(messageOf(c.write), c.japanese);
        EXPECT_TRUE(c.kept());
        comm.Language = clEnglish;
        EXPECT_EQ(messageOf(c.write), c.english);
        EXPECT_NE(comm.Handle(), INVALID_HANDLE_VALUE);  // the port goes on
        comm.Close();
        // Back to the program's settings for the next case.
        device.RefuseState({});
        device.RefuseQueues(false);
        device.RefuseTimeouts(false);
        configure(comm, kFakePort);
        comm.SetXonChar(17);
        comm.SetXoffChar(19);
        comm.SetBufLenTrans(2048);
        comm.SetBufLenReceive(2048);
        comm.SetCharSize(8);
        comm.SetStopBit(csb1);
        comm.SetTimeOutTrans(3000);
    }
}

TEST_F(CommXFake, ARefusedValueStaysInTheBlockForTheNextSetter)
{
    comm.Open();
    device.RefuseState([](const win::DCB& d) { return d.BaudRate == 57600; });
    EXPECT_THROW(comm.SetBitRate(57600), ECommError);
    EXPECT_EQ(messageOf([&] { comm.SetCharSize(7); }), "通信ビット数の設定でエラーが発生しました");
    const win::DCB sent = device.StatesGiven().back();
    EXPECT_EQ(sent.BaudRate, 57600u);
    EXPECT_EQ(sent.ByteSize, 7);
    EXPECT_EQ(device.State().BaudRate, 115200u);  // the port keeps its settings
}

TEST_F(CommXFake, ARefusalDuringOpenClosesThePortAgain)
{
    device.RefuseState([](const win::DCB& d) { return d.StopBits == win::ONE5STOPBITS; });
    comm.SetStopBit(csb1p5);
    EXPECT_EQ(messageOf([&] { comm.Open(); }), "通信ストップビット数の設定でエラーが発生しました");
    EXPECT_EQ(comm.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(comm.SendPending(), 0);

    comm.SetStopBit(csb1);
    comm.SetBitRate(5);
    EXPECT_EQ(messageOf([&] { comm.Open(); }), "通信速度の設定でエラーが発生しました");
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(CommXFake, LineEventsReachTheMainThreadAsErrorBreakReceive)
{
    comm.Open();
    // Nobody listening: the bytes stay queued for Receive.
    device.Arrive({0x31, 0x32});
    EXPECT_TRUE(WaitUntil([&] { return comm.ReceivedCount() == 2; }));
    WaitUntil(Never, 100ms);
    Bytes in(2);
    EXPECT_EQ(comm.Receive(in.data(), 2), 2);

    std::vector<std::string> events;
    bool onMain = true;
    const auto note = [&](std::string what) {
        onMain = onMain && QThread::currentThread() == QCoreApplication::instance()->thread();
        events.push_back(std::move(what));
    };
    comm.OnError = [&](QObject* sender, int state) {
        EXPECT_EQ(sender, &comm);
        note("error " + std::to_string(state));
    };
    comm.OnBreak = [&](QObject* sender) {
        EXPECT_EQ(sender, &comm);
        note("break");
    };
    comm.OnReceive = [&](QObject*, int size) { note("receive " + std::to_string(size)); };
    device.Arrive({0x00, 0x41}, win::CE_FRAME, 1);
    EXPECT_TRUE(WaitUntil([&] { return events.size() >= 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"error 8", "break", "receive 2"}));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(comm.Receive(in.data(), 2), 2);

    // Taken by Receive before the report is handled: no event.
    events.clear();
    device.Arrive(pattern(22));
    Bytes reply(22);
    EXPECT_EQ(comm.Receive(reply.data(), 22), 22);
    WaitUntil(Never, 200ms);
    EXPECT_TRUE(events.empty());

    // A report that arrives after Close fires nothing.
    device.Arrive({0x01});
    comm.Close();
    WaitUntil(Never, 200ms);
    EXPECT_TRUE(events.empty());
}

TEST_F(CommXFake, WhatAHandlerRaisesGoesToTheExceptionReport)
{
    std::vector<MessageRecord> shown;
    const MessageBoxHook previous = SetMessageBoxHook([&](const MessageRecord& r) { shown.push_back(r); });
    comm.Open();
    comm.OnBreak = [](QObject*) { throw ECommError("壊れました"); };
    device.Arrive({0x00}, 0, 1);
    EXPECT_TRUE(WaitUntil([&] { return !shown.empty(); }));
    SetMessageBoxHook(previous);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, MessageKind::Error);
    EXPECT_EQ(shown[0].text, QString("壊れました."));
}

TEST_F(CommXFake, HalfDuplexRaisesRtsAroundABurst)
{
    comm.SetBitRate(9600);  // one character: 2 ms
    const std::pair<TCommFlowCtrls, unsigned> levels[] = {{cfcHalfHigh, 1}, {cfcHalfLow, 0}};
    for (const auto& [flow, sending] : levels) {
        SCOPED_TRACE(int(flow));
        comm.SetFlowCtrl(flow);
        comm.Open();
        const Bytes frame{0xA0, 0xA1, 0xA2};
        const auto start = Clock::now();
        ASSERT_TRUE(comm.Send(frame.data(), 3));
        ASSERT_TRUE(comm.Send(frame.data(), 3));
        EXPECT_TRUE(WaitUntil([&] { return eventsSince(start).size() >= 4; }));
        const auto events = eventsSince(start);
        ASSERT_EQ(events.size(), 4u);
        EXPECT_EQ(events[0].kind, win::FakeComm::LineEvent::Rts);
        EXPECT_EQ(events[0].value, sending);
        EXPECT_EQ(events[1].kind, win::FakeComm::LineEvent::Write);
        EXPECT_EQ(events[1].value, 3u);
        EXPECT_EQ(events[2].kind, win::FakeComm::LineEvent::Write);
        EXPECT_EQ(events[3].kind, win::FakeComm::LineEvent::Rts);
        EXPECT_EQ(events[3].value, 1 - sending);
        EXPECT_GE(events[0].when - start, 50ms);
        EXPECT_GE(events[1].when - events[0].when, 2ms);
        EXPECT_GE(events[3].when - events[2].when, 2ms);
        comm.Close();
    }

    comm.SetFlowCtrl(cfcNone);
    comm.Open();
    const auto start = Clock::now();
    ASSERT_TRUE(comm.Send("\x01\x02", 2));
    EXPECT_TRUE(WaitUntil([&] { return comm.SendPending() == 0; }));
    WaitUntil(Never, 100ms);
    const auto events = eventsSince(start);
    ASSERT_EQ(events.size(), 1u);  // the write only; RTS and DTR untouched
    EXPECT_EQ(events[0].kind, win::FakeComm::LineEvent::Write);
}

TEST_F(CommXFake, HalfDuplexLowersRtsOnlyAfterTheLastBitHasLeft)
{
    comm.SetBitRate(9600);
    comm.SetFlowCtrl(cfcHalfHigh);
    comm.Open();
    const Bytes data = pattern(200);  // 208 ms on the line, in the driver at once
    const auto start = Clock::now();
    ASSERT_TRUE(comm.Send(data.data(), 200));
    EXPECT_TRUE(WaitUntil([&] { return eventsSince(start).size() >= 3; }));
    const auto events = eventsSince(start);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, win::FakeComm::LineEvent::Write);
    EXPECT_EQ(events[2].kind, win::FakeComm::LineEvent::Rts);
    EXPECT_EQ(events[2].value, 0u);
    EXPECT_GE(events[2].when - events[1].when, 208ms + 2ms);
}

// While PurgeSend waits for the transmit thread, the receive thread waits for the main
// thread, as always: arrivals meanwhile make one report, not one each.
TEST_F(CommXFake, ArrivalsDuringPurgeSendStillMergeIntoOneReport)
{
    comm.SetBitRate(110);  // one character: 91 ms, so the transmit thread is slow to start
    comm.SetFlowCtrl(cfcHalfHigh);
    comm.Open();
    std::vector<int> reports;
    comm.OnReceive = [&](QObject*, int size) { reports.push_back(size); };
    ASSERT_TRUE(comm.Send("\x01\x02\x03", 3));
    std::thread arrivals([&] {
        for (std::uint8_t b = 0; b < 5; ++b) {
            device.Arrive({b});
            std::this_thread::sleep_for(10ms);
        }
    });
    comm.PurgeSend();  // about 140 ms
    arrivals.join();
    WaitUntil(Never, 200ms);
    ASSERT_FALSE(reports.empty());
    EXPECT_LE(reports.size(), 2u);
    EXPECT_EQ(reports.back(), 5);
}

// Bytes that came while no handler was assigned are reported once one is, as they were
// when the line was watched for them all along; a line error that came with them still is.
TEST_F(CommXFake, AHandlerAssignedToAnOpenPortHearsOfBytesAlreadyWaiting)
{
    comm.Open();
    std::vector<std::string> events;
    comm.OnError = [&](QObject*, int state) { events.push_back("error " + std::to_string(state)); };
    device.Arrive({1, 2, 3}, win::CE_FRAME);
    std::this_thread::sleep_for(50ms);  // the main thread busy meanwhile
    comm.OnReceive = [&](QObject*, int size) { events.push_back("receive " + std::to_string(size)); };
    EXPECT_TRUE(WaitUntil([&] { return events.size() >= 2; }, 500ms));
    WaitUntil(Never, 50ms);
    EXPECT_EQ(events, (std::vector<std::string>{"error 8", "receive 3"}));
    // Another handler in place of one that watched reports nothing new.
    comm.OnReceive = [&](QObject*, int size) { events.push_back("again " + std::to_string(size)); };
    WaitUntil(Never, 100ms);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(CommXFake, SendSplitsIntoBlocksOfBufLenTrans)
{
    comm.Open();
    const Bytes data = pattern(5000);
    const auto start = Clock::now();
    ASSERT_TRUE(comm.Send(data.data(), 5000));
    EXPECT_TRUE(WaitUntil([&] { return comm.SendPending() == 0; }));
    std::vector<unsigned> writes;
    for (const auto& e : eventsSince(start))
        writes.push_back(e.value);
    EXPECT_EQ(writes, (std::vector<unsigned>{2048, 2048, 904}));
    EXPECT_EQ(device.Written(), data);

    comm.SetBufLenTrans(0);  // the fake takes any queue size, but no block can be 0 bytes
    EXPECT_FALSE(comm.Send(data.data(), 1));
    EXPECT_FALSE(comm.Send(data.data(), -1));
}

TEST_F(CommXFake, PurgeSendAndALineErrorReportNeverWaitForEachOther)
{
    comm.Open();
    std::vector<int> errors;
    comm.OnError = [&](QObject*, int state) { errors.push_back(state); };
    device.HoldWrites(true);
    ASSERT_TRUE(comm.Send("\x01\x02\x03", 3));
    ASSERT_TRUE(WaitUntil([&] { return device.WritesHeld() > 0; }));  // the write is pending
    device.Arrive({}, win::CE_FRAME);  // found by the transmit thread when its write fails
    comm.PurgeSend();                   // would never return if the report waited for it
    EXPECT_EQ(comm.SendPending(), 0);
    EXPECT_TRUE(errors.empty());  // nothing runs inside PurgeSend
    EXPECT_TRUE(WaitUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors, std::vector<int>{8});
}

namespace {

bool threadEnds(std::uint32_t id)
{
    const std::string task = "/proc/self/task/" + std::to_string(id);
    for (int i = 0; i < 3000 && std::filesystem::exists(task); ++i)
        std::this_thread::sleep_for(1ms);
    return !std::filesystem::exists(task);
}

}  // namespace

// Close may come before a thread has its queue or its wake event; it must end all the same.
TEST_F(CommXFake, ThreadsToldToEndBeforeTheyRunStillEnd)
{
    const HANDLE port = win::CreateFileA("\\\\.\\COM907", 0, 0, nullptr, win::OPEN_EXISTING, 0, 0);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    win::SetCommMask(port, win::EV_RXCHAR);
    const win::HWND window = win::CreateNotifyWindow([](win::UINT, win::WPARAM, win::LPARAM) { return 0; });

    TCommReceiveThread* receive = std::make_unique<TCommReceiveThread>(port, window).release();
    const std::uint32_t receiveId = receive->ThreadID();
    receive->Wake();
    win::CloseHandle(port);
    receive->Resume();

    TCommTransThread* trans = std::make_unique<TCommTransThread>(&comm, port, window).release();
    const std::uint32_t transId = trans->ThreadID();
    trans->Terminate();  // and no TM_WAKEUP: it has no queue to post to yet
    trans->Resume();

    EXPECT_TRUE(threadEnds(receiveId));
    EXPECT_TRUE(threadEnds(transId));
    win::DestroyWindow(window);
}
