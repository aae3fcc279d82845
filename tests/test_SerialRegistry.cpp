// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SerialRegistry.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;
using namespace platform::registry;

namespace {

class SerialRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / ("zub3-reg-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "sys");
        SetLocation({root_ / "run", root_ / "sys", "/dev", {}});
    }
    void TearDown() override { fs::remove_all(root_); }

    void fakeSysDevice(const std::string& name, const char* uartType = nullptr)
    {
        fs::create_directories(root_ / "sys" / name / "device");
        if (uartType)
            std::ofstream(root_ / "sys" / name / "type") << uartType << "\n";
    }

    fs::path root_;
};

}  // namespace

TEST_F(SerialRegistryTest, AbsentKeyReadsAsNoValueAtAll)
{
    EXPECT_FALSE(ReadSerialComm().has_value());
    fs::create_directories(root_ / "run");
    ASSERT_TRUE(ReadSerialComm().has_value());
    EXPECT_TRUE(ReadSerialComm()->empty());
}

TEST_F(SerialRegistryTest, RealDevicesUnderStableNumbers)
{
    fakeSysDevice("ttyUSB0");
    fakeSysDevice("ttyACM2");
    fakeSysDevice("ttyS0", "4");
    fakeSysDevice("ttyS1", "0");              // listed by the kernel, no UART behind it
    fs::create_directories(root_ / "sys" / "tty5");  // a console, no device
    const auto values = ReadSerialComm();
    ASSERT_TRUE(values);
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ((*values)[0].data, "COM33");
    EXPECT_EQ((*values)[1].data, "COM1");
    EXPECT_EQ((*values)[2].data, "COM11");
    EXPECT_EQ((*values)[2].devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePort("\\\\.\\COM11"), "/dev/ttyUSB0");
    EXPECT_FALSE(ResolvePort("COM2"));
}

TEST_F(SerialRegistryTest, RegistrationLivesWithItsObject)
{
    {
        Registration a(0, "/dev/pts/7", "zub3sim");
        EXPECT_EQ(a.PortNumber(), kFirstVirtualPort);
        Registration b(0, "/dev/pts/8", "other");
        EXPECT_EQ(b.PortNumber(), kFirstVirtualPort + 1);
        EXPECT_EQ(ResolvePort("COM51"), "/dev/pts/7");
        EXPECT_THROW(Registration(kFirstVirtualPort, "/dev/pts/9", "third"), std::runtime_error);
        EXPECT_EQ(ReadSerialComm()->size(), 2u);
    }
    EXPECT_TRUE(ReadSerialComm()->empty());
}

TEST_F(SerialRegistryTest, StaleRegistrationIsSkippedAndReplaced)
{
    // A pid that cannot be alive: the run that wrote it was killed.
    WriteEntry("zub3sim", ValueType::String, "COM51", "/dev/pts/3", 0x7FFFFFF0);
    EXPECT_TRUE(ReadSerialComm()->empty());
    Registration r(51, "/dev/pts/4", "zub3sim");
    EXPECT_EQ(ResolvePort("COM51"), "/dev/pts/4");
}

// Owners that have ended as far as a port is concerned: a program that has exited but is
// not collected yet, and a number no process can have that, cut to a pid_t, would be init.
TEST_F(SerialRegistryTest, ARegistrationOfAZombieOrOfNoPossibleProcessIsStale)
{
    const pid_t zombie = ::fork();
    if (zombie == 0)
        ::_exit(0);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, zombie, &info, WEXITED | WNOWAIT), 0);  // ended, left uncollected
    WriteEntry("zombie", ValueType::String, "COM51", "/dev/pts/3", zombie);
    WriteEntry("nobody", ValueType::String, "COM52", "/dev/pts/4", 4294967297L);
    EXPECT_TRUE(ReadSerialComm()->empty());
    Registration r(51, "/dev/pts/5", "zub3sim");
    EXPECT_EQ(ResolvePort("COM51"), "/dev/pts/5");
    ASSERT_EQ(::waitpid(zombie, nullptr, 0), zombie);
}

TEST_F(SerialRegistryTest, KeepsTypeOfEveryValue)
{
    WriteEntry("dword", ValueType::DWord, "COM5", "/dev/null");
    WriteEntry("plain", ValueType::String, "COM6", "/dev/null");
    const auto values = ReadSerialComm();
    ASSERT_EQ(values->size(), 2u);
    EXPECT_EQ((*values)[0].type, ValueType::DWord);
    EXPECT_FALSE(ResolvePort("COM5"));  // only string values name a port
    EXPECT_EQ(ResolvePort("COM6"), "/dev/null");
}

TEST_F(SerialRegistryTest, EveryPortNumberNamesOneDevice)
{
    fakeSysDevice("ttyS10", "4");  // beyond the band of serial ports
    fakeSysDevice("ttyUSB0");
    fakeSysDevice("ttyACM25");
    WriteEntry("late", ValueType::String, "COM11", "/dev/pts/9");  // shadowed by ttyUSB0
    const auto values = ReadSerialComm();
    ASSERT_TRUE(values);
    std::map<std::string, std::string> byPort;
    for (const auto& v : *values)
        EXPECT_TRUE(byPort.emplace(v.data, v.devicePath).second) << v.data;
    EXPECT_EQ(byPort["COM11"], "/dev/ttyUSB0");
    EXPECT_EQ(byPort["COM101"], "/dev/ttyACM25");
    EXPECT_EQ(byPort["COM102"], "/dev/ttyS10");
    EXPECT_EQ(ResolvePort("COM11"), "/dev/ttyUSB0");
}

TEST_F(SerialRegistryTest, ADirectoryOthersCanWriteToIsNotTrusted)
{
    const fs::path run = root_ / "run";
    fs::create_directories(run);
    WriteEntry("planted", ValueType::String, "COM5", "/dev/sda");
    fs::permissions(run, fs::perms::others_write, fs::perm_options::add);
    EXPECT_FALSE(ReadSerialComm().has_value());
    EXPECT_FALSE(ResolvePort("COM5"));
    EXPECT_THROW(Registration(0, "/dev/pts/1", "zub3sim"), std::runtime_error);
}

TEST_F(SerialRegistryTest, RegistrationNeverWritesThroughALink)
{
    const fs::path run = root_ / "run";
    fs::create_directories(run);
    const fs::path victim = root_ / "victim.txt";
    std::ofstream(victim) << "keep";
    fs::create_symlink(victim, run / "zub3sim.port.tmp");
    Registration r(0, "/dev/pts/4", "zub3sim");
    std::ifstream in(victim);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep");
    EXPECT_EQ(ResolvePort(r.PortName()), "/dev/pts/4");
}

TEST_F(SerialRegistryTest, BoardUartsAndTheirLinksAreListedByPath)
{
    const fs::path dev = root_ / "dev";
    SetLocation({root_ / "run", root_ / "sys", dev, {}});
    fs::create_directories(dev / "serial" / "by-id");  // udev's folder, not a port
    for (const char* name : {"ttyAMA0", "ttyAMA10", "ttyTHS1", "ttyS0", "ttyUSB0"}) {
        fakeSysDevice(name, "4");
        std::ofstream(dev / name) << "";
    }
    fs::create_directories(root_ / "sys" / "ttyAMA1");  // no device behind it
    fs::create_symlink(dev / "ttyAMA0", dev / "serial0");
    fs::create_symlink("ttyS0", dev / "serial1");  // relative, as udev makes them
    fs::create_symlink(dev / "ttyAMA5", dev / "serial2");  // a UART that is not there
    std::ofstream(dev / "serial3") << "";  // not a link

    const auto values = ReadSerialComm();
    ASSERT_TRUE(values);
    std::map<std::string, std::string> byPort;
    for (const auto& v : *values)
        byPort[v.data] = v.devicePath;
    const std::map<std::string, std::string> expected = {
        {"COM1", (dev / "ttyS0").string()},
        {"COM11", (dev / "ttyUSB0").string()},
        {(dev / "ttyAMA0").string(), (dev / "ttyAMA0").string()},
        {(dev / "ttyAMA10").string(), (dev / "ttyAMA10").string()},
        {(dev / "ttyTHS1").string(), (dev / "ttyTHS1").string()},
        {(dev / "serial0").string(), fs::canonical(dev / "ttyAMA0").string()},
        {(dev / "serial1").string(), fs::canonical(dev / "ttyS0").string()},
    };
    EXPECT_EQ(byPort, expected);
    EXPECT_EQ(ResolvePort((dev / "serial0").string()), fs::canonical(dev / "ttyAMA0").string());
}
