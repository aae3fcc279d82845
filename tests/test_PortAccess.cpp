// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PortAccess.h"
#include "platform/PortTexts.h"

#include "platform/SerialRegistry.h"
#include "support/ChildProcess.h"
#include "support/PtyPair.h"
#include "support/TempRegistry.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace platform::ports;

namespace {

std::string readFile(const fs::path& p)
{
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& p, const std::string& text)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

class PortAccessTest : public ::testing::Test {
protected:
    fs::path LockFile(const std::string& device) const
    {
        return registry_.LockDir() / LockFileName(device);
    }

    TempRegistry registry_;  // with a lock directory of its own
};

pid_t deadPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    EXPECT_EQ(Ending(pid), "exit 0");
    return pid;
}

void writeLock(const fs::path& file, long pid)
{
    char text[16];
    std::snprintf(text, sizeof text, "%10ld\n", pid);
    writeFile(file, text);
}

}  // namespace

TEST_F(PortAccessTest, LockFileHoldsThePidAndGoesWithTheLock)
{
    PtyPair pty;
    EXPECT_EQ(LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(LockFileName(pty.SlavePath()), "LCK.." + pty.SlavePath().substr(5).replace(3, 1, "_"));
    {
        DeviceLock lock(pty.SlavePath());
        ASSERT_TRUE(lock.Held());
        char expected[16];
        std::snprintf(expected, sizeof expected, "%10d\n", ::getpid());
        EXPECT_EQ(readFile(LockFile(pty.SlavePath())), expected);

        // A second port object of this program is refused, and that does not free the lock.
        {
            DeviceLock second(pty.SlavePath());
            EXPECT_FALSE(second.Held());
            EXPECT_EQ(second.Holder().state, Access::Held);
            EXPECT_EQ(second.Holder().pid, ::getpid());
        }
        EXPECT_TRUE(fs::exists(LockFile(pty.SlavePath())));
        EXPECT_EQ(CheckAccess(pty.SlavePath()).state, Access::Held);
    }
    EXPECT_FALSE(fs::exists(LockFile(pty.SlavePath())));
    EXPECT_EQ(CheckAccess(pty.SlavePath()).state, Access::Free);
}

// Another program that took the device's lock meanwhile (one that thought ours stale, say
// from a PID namespace of its own) keeps it when this one lets go of its own.
TEST_F(PortAccessTest, ALockThatIsNoLongerOursStaysWhenOursGoes)
{
    PtyPair pty;
    DeviceHolder other("/dev/null");
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", other.Pid());
    const fs::path file = LockFile(pty.SlavePath());
    {
        DeviceLock lock(pty.SlavePath());
        ASSERT_TRUE(lock.Held());
        fs::remove(file);
        writeFile(file, text);
    }
    EXPECT_EQ(readFile(file), text);
    const pid_t child = ::fork();
    if (child == 0) {
        // Left to the exit, which does not take the other's: std::exit runs no destructor of
        // the lock, the handler this program left for it does the work.
        fs::remove(file);
        DeviceLock lock(pty.SlavePath());
        fs::remove(file);
        writeFile(file, text);
        std::exit(lock.Held() ? 0 : 1);
    }
    EXPECT_EQ(Ending(child), "exit 0");
    EXPECT_EQ(readFile(file), text);
}

TEST_F(PortAccessTest, LocksStillHeldGoWhenTheProgramExits)
{
    PtyPair pty;
    const pid_t child = ::fork();
    if (child == 0) {
        // Never released by its owner: std::exit runs no destructor of the lock.
        DeviceLock lock(pty.SlavePath());
        std::exit(lock.Held() && fs::exists(LockFile(pty.SlavePath())) ? 0 : 1);
    }
    EXPECT_EQ(Ending(child), "exit 0");
    EXPECT_FALSE(fs::exists(LockFile(pty.SlavePath())));
}

TEST_F(PortAccessTest, LockOfALiveProgramRefusesAndAStaleOneIsTaken)
{
    PtyPair pty;
    const fs::path file = LockFile(pty.SlavePath());
    {
        DeviceHolder other("/dev/null");  // a live process that is not us
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", other.Pid());
        writeFile(file, text);
        DeviceLock lock(pty.SlavePath());
        EXPECT_FALSE(lock.Held());
        EXPECT_EQ(lock.Holder().pid, other.Pid());
        EXPECT_EQ(lock.Holder().program, "sleep");
        const PortAccess check = CheckAccess(pty.SlavePath());
        EXPECT_EQ(check.state, Access::Held);
        EXPECT_EQ(check.pid, other.Pid());
    }
    // Its process gone (ASCII and the old binary form alike), the lock is stale.
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", deadPid());
    writeFile(file, text);
    EXPECT_EQ(CheckAccess(pty.SlavePath()).state, Access::Free);
    {
        DeviceLock lock(pty.SlavePath());
        EXPECT_TRUE(lock.Held());
    }
    const int binary = deadPid();
    writeFile(file, std::string(reinterpret_cast<const char*>(&binary), 4));
    {
        DeviceLock lock(pty.SlavePath());
        EXPECT_TRUE(lock.Held());
    }
    // A binary PID whose low byte is a digit ('3' and 0x1e here) is still binary; four bytes
    // of text are a short PID in ASCII.
    const int digitFirst = 0x1e33;
    writeFile(file, std::string(reinterpret_cast<const char*>(&digitFirst), 4));
    EXPECT_EQ(CheckAccess(pty.SlavePath()).pid, ::kill(digitFirst, 0) == 0 ? digitFirst : 0);
    writeFile(file, "  1\n");
    EXPECT_EQ(CheckAccess(pty.SlavePath()).pid, 1);
    // Ten digits can name a PID no process can have; cut to a pid_t it would be init's.
    writeFile(file, "4294967297\n");
    EXPECT_EQ(CheckAccess(pty.SlavePath()).state, Access::Free);
    {
        DeviceLock lock(pty.SlavePath());
        EXPECT_TRUE(lock.Held());
    }
}

TEST_F(PortAccessTest, AnUnwritableLockDirectoryLeavesTheDeviceUnlocked)
{
    PtyPair pty;
    {
        SetRoots({registry_.Root() / "no-such-dir", "/proc"});
        DeviceLock lock(pty.SlavePath());
        EXPECT_TRUE(lock.Held());
        SetRoots({registry_.LockDir(), "/proc"});
    }

    // So does a stale lock of another user in a shared (sticky) directory, which this user
    // may not remove: its process is gone, nobody holds the device.
    if (::geteuid() != 0)
        return;  // only root can leave another user's lock here
    const fs::path file = LockFile(pty.SlavePath());
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", deadPid());
    writeFile(file, text);
    fs::permissions(registry_.LockDir(), fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(RunAsNonRoot([&] {
                  DeviceLock lock(pty.SlavePath());
                  return lock.Held() && lock.Holder().state == Access::Free ? 0 : 1;
              }),
              0);
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(PortAccessTest, AProgramWithTheDeviceOpenHoldsItButTheFarEndDoesNot)
{
    PtyPair pty;
    // This process has the master: with the slave open too, it is the line's far end.
    const int slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    EXPECT_EQ(FindHolder(pty.SlavePath()).state, Access::Free);
    ::close(slave);

    DeviceHolder other(pty.SlavePath());
    const PortAccess a = CheckAccess(pty.SlavePath());
    EXPECT_EQ(a.state, Access::Held);
    EXPECT_EQ(a.pid, other.Pid());
    EXPECT_EQ(a.program, "sleep");
    EXPECT_EQ(Explain(a, Language::English),
              pty.SlavePath() + " is in use by sleep (PID " + std::to_string(other.Pid()) +
                  "): close it and open the port again.");
    other.Kill();
    EXPECT_EQ(CheckAccess(pty.SlavePath()).state, Access::Free);
}

TEST_F(PortAccessTest, PermissionAndGoneNameTheDevice)
{
    const PortAccess gone = CheckAccess("/dev/ttyUSB97");
    EXPECT_EQ(gone.state, Access::Gone);
    EXPECT_EQ(Explain(gone, Language::English),
              "/dev/ttyUSB97 is no longer there: plug the adapter in again or choose another port.");
    EXPECT_NE(Explain(gone, Language::Japanese).find("/dev/ttyUSB97 はもう存在しません"), std::string::npos);

    // A device node only its group may use, checked by a user who is not root: first as
    // the group would have it, then with no group that could help.
    PtyPair pty;
    const std::string groupName = GiveToGroup(pty.SlavePath());
    ASSERT_FALSE(groupName.empty());
    const std::string expected = "No permission to use " + pty.SlavePath() +
                                 ": add the user to the group " + groupName + " and log in again.";
    const int result = RunAsNonRoot([&] {
        const PortAccess a = CheckAccess(pty.SlavePath());
        return a.state == Access::Denied && Explain(a, Language::English) == expected ? 0 : 1;
    });
    ASSERT_NE(result, -1) << "cannot drop to nobody";
    EXPECT_EQ(result, 0);

    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0), 0);
    const std::string noGroup = "No permission to use " + pty.SlavePath() +
                                ": ask the administrator for access to it.";
    EXPECT_EQ(RunAsNonRoot([&] {
                  return Explain(CheckAccess(pty.SlavePath()), Language::English) == noGroup ? 0 : 1;
              }),
              0);
}

// A USB adapter as sysfs shows it: the tty under the interface, the strings on the device.
TEST_F(PortAccessTest, UsbAdapterIsDescribedFromSysfs)
{
    const fs::path root = registry_.Root();
    const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-2";
    const fs::path tty = usb / "1-2:1.0/ttyUSB0";
    fs::create_directories(tty);
    writeFile(usb / "idVendor", "0403\n");
    writeFile(usb / "product", "FT232R USB UART\n");
    writeFile(usb / "manufacturer", "FTDI\n");
    writeFile(usb / "serial", "A50285BI\n");
    fs::create_directories(root / "sys/class/tty/ttyUSB0");
    fs::create_directory_symlink(tty, root / "sys/class/tty/ttyUSB0/device");
    fs::create_directories(root / "sys/class/tty/ttyS0");
    fs::create_directories(root / "sys/devices/platform/serial8250/tty/ttyS0");
    fs::create_directory_symlink(root / "sys/devices/platform/serial8250/tty/ttyS0",
                                 root / "sys/class/tty/ttyS0/device");
    const fs::path byId = root / "dev/serial/by-id";
    fs::create_directories(byId);
    writeFile(root / "dev/ttyUSB0", "");
    fs::create_symlink("../../ttyUSB0", byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    platform::registry::SetLocation({root / "run", root / "sys/class/tty", root / "dev", {}});

    const PortDescription d = DescribePort("/dev/ttyUSB0");
    EXPECT_EQ(d.product, "FT232R USB UART");
    EXPECT_EQ(d.byId, (byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string());
    EXPECT_EQ(DescriptionText(d), "/dev/ttyUSB0: FT232R USB UART, FTDI, serial A50285BI\n" + d.byId);
    EXPECT_EQ(DescriptionText(DescribePort("/dev/ttyS0")), "/dev/ttyS0");

    // The adapter writes its own strings: control characters (a terminal's escape
    // sequences, say) never reach a tooltip or a terminal.
    writeFile(usb / "manufacturer", "FTDI\x1b]0;owned\x07\x7f\n");
    EXPECT_EQ(DescribePort("/dev/ttyUSB0").manufacturer, "FTDI?]0;owned??");
}

TEST(DisplaySafe, ControlCharactersAndBytesThatAreNotUtf8BecomeQuestionMarks)
{
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"FT232R USB UART", "FT232R USB UART"},
        {"受信機 😀", "受信機 😀"},
        {"a\x1b[2Jb\t\n\x7f", "a?[2Jb???"},
        {"\xc2\x9b" "31m \xc2\x80\xc2\x9f", "?31m ??"},   // C1: CSI, its first and last
        {"\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},         // the first characters after C1
        {"\x80\xbf\xff\xfe", "????"},                     // stray continuations, no lead
        {"\xc0\x9b\xe0\x80\x9b", "?????"},                // overlong forms of CSI
        {"\xed\xa0\x80", "???"},                           // a surrogate
        {"\xf4\x90\x80\x80\xf4\x8f\xbf\xbf", "????\xf4\x8f\xbf\xbf"},  // past and at U+10FFFF
        {"\xe3\x81" "a\xe3\x81", "??a??"},                  // cut short, mid-text and at the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplaySafe(c.text), c.shown) << c.text;
}

// A program's name is its own choice: a C1 escape and a byte cut out of UTF-8 in it never
// reach a terminal or the window.
TEST_F(PortAccessTest, AHolderNamedWithControlsIsShownSafely)
{
    PtyPair pty;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_NAME, "zub\xc2\x9b" "2J\xff");
        [[maybe_unused]] const auto n = ::write(ready[1], "", 1);
        ::pause();
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    writeLock(LockFile(pty.SlavePath()), child);
    const PortAccess a = CheckAccess(pty.SlavePath());
    ::kill(child, SIGKILL);
    EXPECT_EQ(Ending(child), "signal 9");
    EXPECT_EQ(a.program, "zub?2J?");
    EXPECT_EQ(Explain(a, Language::English),
              pty.SlavePath() + " is in use by zub?2J? (PID " + std::to_string(child) +
                  "): close it and open the port again.");
}

// A holder that has ended but is not collected yet holds nothing.
TEST_F(PortAccessTest, AZombiesLockIsTaken)
{
    PtyPair pty;
    const pid_t zombie = ::fork();
    if (zombie == 0)
        ::_exit(0);
    siginfo_t info {};
    ASSERT_EQ(::waitid(P_PID, zombie, &info, WEXITED | WNOWAIT), 0);  // ended, left uncollected
    writeLock(LockFile(pty.SlavePath()), zombie);
    EXPECT_EQ(CheckAccess(pty.SlavePath()).state, Access::Free);
    {
        DeviceLock lock(pty.SlavePath());
        EXPECT_TRUE(lock.Held());
    }
    EXPECT_EQ(Ending(zombie), "exit 0");
}

// Two programs that find the same stale lock at once: exactly one takes it, round after
// round. Each taker keeps what it got until both have tried.
TEST_F(PortAccessTest, OneOfTwoTakersOfAStaleLockWins)
{
    PtyPair pty;
    const fs::path file = LockFile(pty.SlavePath());
    int outcomes[3] = {};  // by the number of takers that held the lock
    for (int round = 0; round < 500; ++round) {
        writeLock(file, deadPid());
        int start[2], results[2], release[2];
        ASSERT_EQ(::pipe(start) | ::pipe(results) | ::pipe(release), 0);
        pid_t takers[2];
        for (pid_t& taker : takers) {
            taker = ::fork();
            if (taker == 0) {
                ::close(start[1]);
                ::close(release[1]);
                char c;
                [[maybe_unused]] auto n = ::read(start[0], &c, 1);  // both set off together
                {
                    DeviceLock lock(pty.SlavePath());
                    const char held = lock.Held() ? 1 : 0;
                    n = ::write(results[1], &held, 1);
                    ::close(results[1]);
                    n = ::read(release[0], &c, 1);
                }
                ::_exit(0);
            }
        }
        for (const int fd : {start[0], start[1], results[1], release[0]})
            ::close(fd);
        int held = 0;
        for (char c = 0; ::read(results[0], &c, 1) == 1;)
            held += c;
        ::close(results[0]);
        ::close(release[1]);
        for (const pid_t taker : takers)
            EXPECT_EQ(Ending(taker), "exit 0");
        ++outcomes[held];
    }
    EXPECT_EQ(outcomes[1], 500) << outcomes[2] << " rounds with two holders, " << outcomes[0]
                                << " with none";
}
