// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Comm.h"

#include "platform/Events.h"
#include "support/FakeComm.h"
#include "platform/PortAccess.h"
#include "support/ChildProcess.h"
#include "support/PtyPair.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace platform::win;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
namespace ports = platform::ports;
namespace fs = std::filesystem;

namespace {

// An open port with a read and a write record, each with its own event.
class Port {
public:
    explicit Port(const std::string& name)
        : handle(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, 0))
    {
        read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Port()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        CloseHandle(read.hEvent);
        CloseHandle(write.hEvent);
    }

    void SetReadTimeOut(DWORD total)
    {
        const COMMTIMEOUTS t{MAXDWORD, 0, total, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(handle, &t));
    }

    // Polls a pending operation until it ends; false when it failed.
    bool Finish(OVERLAPPED& o, DWORD& bytes, std::chrono::milliseconds limit = 3000ms)
    {
        const auto end = Clock::now() + limit;
        while (!GetOverlappedResult(handle, &o, &bytes, FALSE)) {
            if (GetLastError() != ERROR_IO_INCOMPLETE || Clock::now() > end)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    // Whether count bytes have reached the input queue, within the tests' usual limit.
    bool WaitForQueued(DWORD count)
    {
        return WaitUntil([&] {
            DWORD errors = 0;
            COMSTAT stat{};
            return ClearCommError(handle, &errors, &stat) && stat.cbInQue >= count;
        });
    }

    HANDLE handle;
    OVERLAPPED read;
    OVERLAPPED write;
};

class CommPty : public ::testing::Test {
protected:
    RegisteredPty line;
    PtyPair& far = line.Pty();
};

// User and system time of the whole process so far.
std::chrono::microseconds processCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

std::size_t openDescriptors()
{
    const std::filesystem::directory_iterator it("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(it), end(it)));
}

}  // namespace

TEST_F(CommPty, OpensExclusivelyAndOnlyRegisteredPorts)
{
    const std::size_t descriptors = openDescriptors();
    {
        Port port(line.DeviceName());
        ASSERT_NE(port.handle, INVALID_HANDLE_VALUE);
        const HANDLE second = CreateFileA(line.DeviceName().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, 0);
        EXPECT_EQ(second, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    Port again(line.DeviceName());
    EXPECT_NE(again.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("\\\\.\\COM4242", 0, 0, nullptr, OPEN_EXISTING, 0, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    CloseHandle(again.handle);
    again.handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST_F(CommPty, AnotherProgramsDescriptorOrLockRefusesTheOpenAndSaysWho)
{
    {
        DeviceHolder other(far.SlavePath());
        Port port(line.DeviceName());
        EXPECT_EQ(port.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        const ports::PortAccess why = ports::LastOpenRefusal();
        EXPECT_EQ(why.state, ports::Access::Held);
        EXPECT_EQ(why.device, far.SlavePath());
        EXPECT_EQ(why.pid, other.Pid());
        EXPECT_EQ(why.program, "sleep");
    }

    // A program that honours the lock file only: its lock refuses; once it is gone, its
    // stale lock is replaced by ours, which goes with the port.
    const fs::path lockFile = line.LockDir() / ports::LockFileName(far.SlavePath());
    DeviceHolder other("/dev/null");
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", other.Pid());
    std::ofstream(lockFile) << text;
    EXPECT_EQ(Port(line.DeviceName()).handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ports::LastOpenRefusal().pid, other.Pid());
    other.Kill();
    {
        Port port(line.DeviceName());
        ASSERT_NE(port.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ports::LastOpenRefusal().state, ports::Access::Free);
        std::snprintf(text, sizeof text, "%10d\n", ::getpid());
        std::ifstream in(lockFile);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    }
    EXPECT_FALSE(fs::exists(lockFile));
}

// The far end keeps the pseudo terminal up; a holder killed meanwhile must leave nothing
// that keeps another user out (nobody, when the tests run as root, whom TIOCEXCL does not
// stop).
TEST_F(CommPty, AKilledHolderLeavesThePseudoTerminalOpenableByAnotherUser)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const HANDLE h = CreateFileA(line.DeviceName().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, 0);
        const char ok = h != INVALID_HANDLE_VALUE ? 1 : 0;
        [[maybe_unused]] const auto n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, 1);
    ::kill(holder, SIGKILL);
    EXPECT_EQ(Ending(holder), "signal 9");
    ASSERT_EQ(::chmod(far.SlavePath().c_str(), 0666), 0);

    const std::string slave = far.SlavePath();
    const int result = RunAsNonRoot([&] {
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno;
        ::close(fd);
        return ports::CheckAccess(slave).state == ports::Access::Free ? 0 : 254;
    });
    ASSERT_NE(result, -1) << "cannot drop to nobody";
    EXPECT_EQ(result, 0) << std::strerror(result);
    Port port(line.DeviceName());  // the stale lock is no obstacle either
    EXPECT_NE(port.handle, INVALID_HANDLE_VALUE);
}

TEST_F(CommPty, APortThatIsGoneOrForbiddenSaysSo)
{
    // Registered, but its device went away.
    platform::registry::Registration stale(0, "/dev/pts/no-such-pty", "stale");
    EXPECT_EQ(Port(stale.PortName()).handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ports::LastOpenRefusal().state, ports::Access::Gone);
    EXPECT_EQ(ports::LastOpenRefusal().device, "/dev/pts/no-such-pty");

    // An adapter unplugged: its port left the list, its number still names the device.
    const fs::path root = fs::temp_directory_path() / ("zub3-gone-" + std::to_string(::getpid()));
    const platform::registry::Location saved = platform::registry::CurrentLocation();
    platform::registry::SetLocation({saved.runtimeDir, saved.sysTtyDir, root / "dev", {}});
    EXPECT_EQ(Port("\\\\.\\COM11").handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ports::LastOpenRefusal().state, ports::Access::Gone);
    EXPECT_EQ(ports::LastOpenRefusal().device, (root / "dev/ttyUSB0").string());
    EXPECT_EQ(Port("\\\\.\\COM4242").handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ports::LastOpenRefusal().state, ports::Access::Free);  // nothing known
    platform::registry::SetLocation(saved);

    // A user the device's permissions stop, with a registry of their own.
    const std::string slave = far.SlavePath();
    const std::string group = GiveToGroup(slave);
    ASSERT_FALSE(group.empty());
    const int result = RunAsNonRoot([&] {
        char dir[] = "/tmp/zub3-nobody-XXXXXX";
        if (!::mkdtemp(dir))
            return 1;
        platform::registry::SetLocation({fs::path(dir) / "run", fs::path(dir) / "sys", "/dev", {}});
        ports::SetRoots({dir, "/proc"});
        int code = 0;
        {
            platform::registry::Registration r(0, slave, "pty");
            Port port(r.PortName());
            const ports::PortAccess why = ports::LastOpenRefusal();
            if (port.handle != INVALID_HANDLE_VALUE)
                code = 2;
            else if (why.state != ports::Access::Denied || why.group != group)
                code = 3;
        }
        fs::remove_all(dir);
        return code;
    });
    ASSERT_NE(result, -1) << "cannot drop to nobody";
    EXPECT_EQ(result, 0);
}

TEST_F(CommPty, LineSettingsGoThroughTermios2AndWhatALineCannotBeIsRefused)
{
    Port port(line.DeviceName());
    DCB dcb;
    ASSERT_TRUE(GetCommState(port.handle, &dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    dcb.BaudRate = 625000;
    dcb.ByteSize = 7;          // a pty forces 8 bits, no parity: no refusal
    dcb.Parity = EVENPARITY;
    dcb.Flags = fBinary | fParity | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE;
    ASSERT_TRUE(SetCommState(port.handle, &dcb));
    EXPECT_EQ(far.Rate(), 625000u);
    DCB back;
    ASSERT_TRUE(GetCommState(port.handle, &back));
    EXPECT_EQ(back.BaudRate, 625000u);
    EXPECT_EQ(back.ByteSize, 7);

    const auto refused = [&](auto change) {
        DCB d = dcb;
        change(d);
        return !SetCommState(port.handle, &d);
    };
    EXPECT_TRUE(refused([](DCB& d) { d.ByteSize = 9; }));
    EXPECT_TRUE(refused([](DCB& d) { d.BaudRate = 0; }));
    EXPECT_TRUE(refused([](DCB& d) { d.StopBits = ONE5STOPBITS; }));  // only with 5 bits
    EXPECT_TRUE(refused([](DCB& d) { d.XoffChar = d.XonChar; }));
    EXPECT_TRUE(refused([](DCB& d) { d.Flags = fBinary | fOutxDsrFlow | DTR_CONTROL_HANDSHAKE; }));
    EXPECT_EQ(far.Rate(), 625000u);  // a refusal keeps the settings
    EXPECT_FALSE(refused([](DCB& d) { d.StopBits = TWOSTOPBITS; }));
    EXPECT_FALSE(refused([](DCB& d) { d.BaudRate = 1250000; }));
    EXPECT_EQ(far.Rate(), 1250000u);
}

TEST_F(CommPty, ReadsCompleteAtTheCountOrAtTheTimeOutWithWhatCame)
{
    Port port(line.DeviceName());
    port.SetReadTimeOut(200);
    Bytes in(8);
    DWORD n = 0;

    far.Write({1, 2, 3, 4, 5, 6, 7, 8, 9});
    ASSERT_TRUE(port.WaitForQueued(9));
    EXPECT_TRUE(ReadFile(port.handle, in.data(), 8, &n, &port.read));  // all there: at once
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(WaitForSingleObject(port.read.hEvent, 0), WAIT_OBJECT_0);

    // One byte left from before, the rest comes later.
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 4, &n, &port.read));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    far.Write({10, 11, 12});
    ASSERT_TRUE(port.Finish(port.read, n));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 4), (Bytes{9, 10, 11, 12}));

    far.Write({13});
    const auto start = Clock::now();
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    ASSERT_TRUE(port.Finish(port.read, n));
    EXPECT_EQ(n, 1u);
    EXPECT_GE(Clock::now() - start, 195ms);

    // Interval MAXDWORD with no totals: whatever is there, at once.
    const COMMTIMEOUTS atOnce{MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port.handle, &atOnce));
    EXPECT_TRUE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    EXPECT_EQ(n, 0u);
}

TEST_F(CommPty, EachReadEndsAtItsOwnTimeOutWhateverReadsCameBefore)
{
    Port port(line.DeviceName());
    Bytes in(8);
    DWORD n = 0;

    // A read that ends long before its time-out leaves the timer set for it; a later read
    // with a later time-out is not ended when that old time comes.
    port.SetReadTimeOut(100);
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 1, &n, &port.read));
    far.Write({1});
    ASSERT_TRUE(port.Finish(port.read, n));
    port.SetReadTimeOut(300);
    auto start = Clock::now();
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    EXPECT_EQ(WaitForSingleObject(port.read.hEvent, 200), WAIT_TIMEOUT);
    ASSERT_TRUE(port.Finish(port.read, n));
    EXPECT_EQ(n, 0u);
    EXPECT_GE(Clock::now() - start, 295ms);

    // A read with a shorter time-out than one purged before it ends at its own.
    port.SetReadTimeOut(10000);
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    ASSERT_TRUE(PurgeComm(port.handle, PURGE_RXABORT));
    port.SetReadTimeOut(100);
    start = Clock::now();
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    ASSERT_TRUE(port.Finish(port.read, n));
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(CommPty, EventWaitsSeeArrivalsWithoutTakingTheBytes)
{
    Port port(line.DeviceName());
    port.SetReadTimeOut(200);
    ASSERT_TRUE(SetCommMask(port.handle, EV_RXCHAR | EV_BREAK | EV_ERR));
    OVERLAPPED wait{};
    wait.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD mask = 0xFFFF;
    EXPECT_FALSE(WaitCommEvent(port.handle, &mask, &wait));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(wait.hEvent, 30), WAIT_TIMEOUT);
    far.Write({0x21, 0x22, 0x23});
    ASSERT_EQ(WaitForSingleObject(wait.hEvent, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(mask, EV_RXCHAR);
    ASSERT_TRUE(port.WaitForQueued(3));
    DWORD errors = 0xFF;
    COMSTAT stat;
    ASSERT_TRUE(ClearCommError(port.handle, &errors, &stat));
    EXPECT_EQ(errors, 0u);  // a pty has no error counters
    EXPECT_EQ(stat.cbInQue, 3u);

    // A wait still pending ends, with no events, when the mask changes.
    Bytes in(3);
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(port.handle, in.data(), 3, &n, &port.read));
    EXPECT_FALSE(WaitCommEvent(port.handle, &mask, &wait));
    ASSERT_TRUE(SetCommMask(port.handle, 0));
    ASSERT_EQ(WaitForSingleObject(wait.hEvent, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(mask, 0u);
    EXPECT_FALSE(WaitCommEvent(port.handle, &mask, &wait));  // no events selected
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(wait.hEvent);
}

TEST_F(CommPty, PurgeAndCloseEndPendingOperations)
{
    Port port(line.DeviceName());
    port.SetReadTimeOut(10000);
    Bytes in(8);
    DWORD n = 0;
    far.Write({1, 2});
    ASSERT_TRUE(port.WaitForQueued(2));
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.write));  // one read at a time
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    ASSERT_TRUE(PurgeComm(port.handle, PURGE_RXABORT));
    EXPECT_FALSE(port.Finish(port.read, n));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(n, 2u);

    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    ASSERT_TRUE(CloseHandle(port.handle));
    EXPECT_EQ(WaitForSingleObject(port.read.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(port.read.Internal, ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    port.handle = INVALID_HANDLE_VALUE;
}

TEST_F(CommPty, WritesWaitForRoomAndCanBeAbortedOrRunOutOfTime)
{
    Port port(line.DeviceName());
    const Bytes data(256 * 1024, 0x5A);  // more than a pty holds
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(port.handle, data.data(), static_cast<DWORD>(data.size()), &n, &port.write));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    std::size_t read = 0;
    while (!port.Finish(port.write, n, 10ms)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
        read += far.ReadAvailable().size();
    }
    EXPECT_EQ(n, data.size());
    read += far.Read(data.size() - read, 3000ms).size();
    EXPECT_EQ(read, data.size());

    EXPECT_FALSE(WriteFile(port.handle, data.data(), static_cast<DWORD>(data.size()), &n, &port.write));
    ASSERT_TRUE(PurgeComm(port.handle, PURGE_TXABORT | PURGE_TXCLEAR));
    EXPECT_FALSE(port.Finish(port.write, n));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_LT(n, data.size());
    far.Drain(50ms);

    // The write time-out ends a write without error, with what went out.
    const COMMTIMEOUTS t{0, 0, 0, 0, 100};
    ASSERT_TRUE(SetCommTimeouts(port.handle, &t));
    EXPECT_FALSE(WriteFile(port.handle, data.data(), static_cast<DWORD>(data.size()), &n, &port.write));
    const auto start = Clock::now();
    ASSERT_TRUE(port.Finish(port.write, n));
    EXPECT_GE(Clock::now() - start, 90ms);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, data.size());
}

TEST_F(CommPty, AHangUpFailsEveryReadAtOnceButThePortStillCloses)
{
    Port port(line.DeviceName());
    port.SetReadTimeOut(10000);
    ASSERT_TRUE(SetCommMask(port.handle, EV_RXCHAR));
    OVERLAPPED wait{};
    wait.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD mask = 0;
    Bytes in(8);
    DWORD n = 0;
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    EXPECT_FALSE(WaitCommEvent(port.handle, &mask, &wait));
    const auto start = Clock::now();
    far.CloseMaster();
    EXPECT_FALSE(port.Finish(port.read, n));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_LT(Clock::now() - start, 2000ms);
    EXPECT_EQ(WaitForSingleObject(wait.hEvent, 1000), WAIT_OBJECT_0);

    EXPECT_FALSE(ReadFile(port.handle, in.data(), 8, &n, &port.read));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WaitCommEvent(port.handle, &mask, &wait));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WriteFile(port.handle, in.data(), 8, &n, &port.write));
    EXPECT_TRUE(PurgeComm(port.handle, PURGE_TXABORT | PURGE_RXABORT));

    // A hung-up port sits still: its I/O thread must not spin while it waits to be closed.
    const auto cpuBefore = processCpu();
    std::this_thread::sleep_for(200ms);  // a span of idle time is what is measured
    EXPECT_LT(processCpu() - cpuBefore, 60ms);

    EXPECT_TRUE(CloseHandle(port.handle));
    port.handle = INVALID_HANDLE_VALUE;
    CloseHandle(wait.hEvent);
}

// --- the fake device ---

TEST(CommFake, LineErrorsAndBreaksComeFromTheCountersOnce)
{
    FakeComm device(77);
    Port port("\\\\.\\COM77");
    ASSERT_NE(port.handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(device.IsOpen());
    ASSERT_TRUE(SetCommMask(port.handle, EV_RXCHAR | EV_BREAK | EV_ERR));
    OVERLAPPED wait{};
    wait.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD mask = 0;
    EXPECT_FALSE(WaitCommEvent(port.handle, &mask, &wait));
    device.Arrive({0x00, 0x7F}, CE_FRAME | CE_OVERRUN, 1);
    ASSERT_EQ(WaitForSingleObject(wait.hEvent, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(mask, EV_RXCHAR | EV_BREAK | EV_ERR);
    DWORD errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(ClearCommError(port.handle, &errors, &stat));
    EXPECT_EQ(errors, CE_FRAME | CE_OVERRUN | CE_BREAK);
    EXPECT_EQ(stat.cbInQue, 2u);
    ASSERT_TRUE(ClearCommError(port.handle, &errors, &stat));
    EXPECT_EQ(errors, 0u);

    // Errors that come while nobody waits are kept for the next wait.
    device.Arrive({0x01}, CE_RXPARITY);
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(WaitCommEvent(port.handle, &mask, &wait));
    EXPECT_EQ(mask, EV_RXCHAR | EV_ERR);
    ASSERT_TRUE(ClearCommError(port.handle, &errors, &stat));
    EXPECT_EQ(errors, CE_RXPARITY);
    CloseHandle(wait.hEvent);
}

TEST(CommFake, ModemLinesRefusalsAndWrittenBytesCanBeSeen)
{
    FakeComm device(78);
    EXPECT_THROW(FakeComm(78), std::invalid_argument);
    Port port("\\\\.\\com78");
    ASSERT_NE(port.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("\\\\.\\COM78", 0, 0, nullptr, OPEN_EXISTING, 0, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_TRUE(EscapeCommFunction(port.handle, CLRRTS));
    EXPECT_TRUE(EscapeCommFunction(port.handle, SETDTR));
    EXPECT_FALSE(device.Rts());
    EXPECT_TRUE(device.Dtr());
    EXPECT_FALSE(EscapeCommFunction(port.handle, 99));

    DCB dcb;
    ASSERT_TRUE(GetCommState(port.handle, &dcb));
    device.RefuseState([](const DCB& d) { return d.BaudRate == 300; });
    dcb.BaudRate = 300;
    EXPECT_FALSE(SetCommState(port.handle, &dcb));
    dcb.BaudRate = 600;
    EXPECT_TRUE(SetCommState(port.handle, &dcb));
    EXPECT_EQ(device.StatesGiven().size(), 2u);
    EXPECT_EQ(device.State().BaudRate, 600u);
    device.RefuseQueues(true);
    EXPECT_FALSE(SetupComm(port.handle, 100, 100));

    DWORD n = 0;
    EXPECT_TRUE(WriteFile(port.handle, "abc", 3, &n, &port.write));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(device.Written(), (Bytes{'a', 'b', 'c'}));

    device.HangUp();
    Bytes in(1);
    EXPECT_FALSE(ReadFile(port.handle, in.data(), 1, &n, &port.read));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}
