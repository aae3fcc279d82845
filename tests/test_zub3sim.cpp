// SPDX-License-Identifier: GPL-3.0-or-later
// The zub3sim program as a user or the run script starts it: its port in the registry, its
// answers on the line, its state across runs, its exit.

#include "core/Protocol.h"
#include "platform/SerialRegistry.h"
#include "platform/Termios2.h"
#include "support/Program.h"

#include "Version.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<zub3::Byte>;

namespace {

// zub3sim with its standard streams on pipes.
class SimProcess : public Program {
public:
    explicit SimProcess(const std::vector<std::string>& args) : Program(ZUB3SIM_PATH, args) {}
    std::string Errors() { return ErrorLine(5s); }
};

// "COM51 /dev/pts/4\n" split in two.
std::pair<std::string, std::string> portLine(const std::string& line)
{
    std::istringstream in(line);
    std::string port, device;
    in >> port >> device;
    return {port, device};
}

// One request over the device, as the tool would send it, and what came back.
Bytes exchange(const std::string& device, int bitRate, const Bytes& request, std::size_t count)
{
    Bytes reply;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return reply;
    platform::Termios2 t;
    platform::GetTermios2(fd, t);
    platform::SetTermios2Rate(t, static_cast<std::uint32_t>(bitRate));
    platform::SetTermios2(fd, t);
    if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        const auto deadline = Clock::now() + 2s;
        while (reply.size() < count && Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            zub3::Byte buf[32];
            if (::poll(&p, 1, 100) > 0) {
                const ssize_t n = ::read(fd, buf, std::min(sizeof buf, count - reply.size()));
                if (n > 0)
                    reply.insert(reply.end(), buf, buf + n);
            }
        }
    }
    ::close(fd);
    return reply;
}

std::optional<zub3::PollData> pollOnce(const std::string& device, int bitRate, int id)
{
    const auto poll = zub3::BuildPollFrame(static_cast<zub3::Byte>(id));
    const Bytes reply = exchange(device, bitRate, Bytes(poll.begin(), poll.end()),
                                 zub3::kPollReplySize);
    if (reply.size() != zub3::kPollReplySize)
        return std::nullopt;
    return zub3::DecodePollReply(
        std::span<const zub3::Byte, zub3::kPollReplySize>(reply.data(), reply.size()), poll);
}

class Zub3SimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("zub3-sim-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // No real devices: the registry lists only what the runs register.
        platform::registry::SetLocation({dir_ / "run", dir_ / "sys", "/dev", {}});
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string registryOption() const { return "--registry-dir=" + (dir_ / "run").string(); }

    // Registrations on disk, live or not.
    long entries() const
    {
        return std::count_if(fs::directory_iterator(dir_ / "run"), fs::directory_iterator(),
                             [](const fs::directory_entry& e) {
                                 return e.path().extension() == ".port";
                             });
    }

    fs::path dir_;
};

}  // namespace

TEST_F(Zub3SimTest, RegistersItsPortWhileItRuns)
{
    SimProcess sim({registryOption(), "--id=4"});
    const auto [port, device] = portLine(sim.OutputLine());
    ASSERT_EQ(port.rfind("COM", 0), 0u) << port;
    EXPECT_EQ(platform::registry::ResolvePort("\\\\.\\" + port), device);
    EXPECT_EQ(sim.OutputLine().rfind("ZUB-3 ID 4, 115200 bit/s", 0), 0u);

    sim.Input("word 0x0201\nchannel 3 99\n");
    EXPECT_EQ(sim.OutputLine(), "buttons: S1 ↑ (0x0201)\n");
    EXPECT_EQ(sim.OutputLine(), "PA3 = 99\n");
    EXPECT_EQ(pollOnce(device, 115200, 4), (zub3::PollData{0x0201, {0, 0, 99, 0}}));

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(platform::registry::ResolvePort(port));
    EXPECT_TRUE(platform::registry::ReadSerialComm()->empty());
}

TEST_F(Zub3SimTest, KeepsAWrittenIDAndSpeedForTheNextRun)
{
    const std::string state = "--state=" + (dir_ / "state").string();
    {
        SimProcess sim({registryOption(), state});
        const auto [port, device] = portLine(sim.OutputLine());
        EXPECT_NE(sim.Errors().find("does not exist yet"), std::string::npos);
        const auto write = zub3::BuildWriteFrame(0, 1, 9);  // ID 9 at 625000 bit/s
        EXPECT_EQ(exchange(device, 115200, Bytes(write.begin(), write.end()), 8).size(), 8u);
        sim.OutputLine();  // the greeting
        EXPECT_EQ(sim.OutputLine(), "written: ID 9, 625000 bit/s\n");
        sim.Input("quit\n");
        EXPECT_EQ(sim.Wait(), 0);
    }
    std::ifstream in(dir_ / "state");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "id=9\nspeed=625000\n");

    SimProcess sim({registryOption(), state});
    const auto [port, device] = portLine(sim.OutputLine());
    EXPECT_EQ(sim.OutputLine().rfind("ZUB-3 ID 9, 625000 bit/s", 0), 0u);
    EXPECT_TRUE(pollOnce(device, 625000, 9));
}

TEST_F(Zub3SimTest, AKilledRunsPortIsTakenOverButALiveOneIsNot)
{
    {
        SimProcess first({registryOption(), "--port=61"});
        EXPECT_EQ(portLine(first.OutputLine()).first, "COM61");
        SimProcess second({registryOption(), "--port=61"});
        EXPECT_EQ(second.Wait(), 1);
        EXPECT_NE(second.Errors().find("COM61 is already in use"), std::string::npos);
        first.Signal(SIGKILL);
        EXPECT_EQ(first.Wait(), -1);
    }
    // The killed run could not clean up: its entry is left but no longer counts.
    EXPECT_EQ(entries(), 1);
    EXPECT_FALSE(platform::registry::ResolvePort("COM61"));

    SimProcess third({registryOption(), "--port=61"});
    const auto [port, device] = portLine(third.OutputLine());
    EXPECT_EQ(port, "COM61");
    EXPECT_EQ(platform::registry::ResolvePort("COM61"), device);
    third.Signal(SIGINT);
    EXPECT_EQ(third.Wait(), 0);
    EXPECT_EQ(entries(), 0);
}

TEST_F(Zub3SimTest, BadOptionsAndStateFilesEndItBeforeItRegisters)
{
    SimProcess bad({registryOption(), "--speed=9600"});
    EXPECT_EQ(bad.Wait(), 2);
    EXPECT_EQ(bad.Errors(), "zub3sim: --speed: '9600' is not 115200, 625000 or 1250000; "
                            "try \"zub3sim --help\"\n");

    std::ofstream(dir_ / "state") << "id=99\nspeed=115200\n";
    SimProcess badState({registryOption(), "--state=" + (dir_ / "state").string()});
    EXPECT_EQ(badState.Wait(), 2);
    EXPECT_NE(badState.Errors().find("the ID must be 0 to 31"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "run"));

    SimProcess help({"--help"});
    EXPECT_EQ(help.OutputLine(), "Usage: zub3sim [OPTION]...\n");
    EXPECT_EQ(help.Wait(), 0);
    SimProcess version({"--vers"});
    EXPECT_EQ(version.OutputLine(), std::string("zub3sim (ZUB-3 Manager) ") + zub3::kVersion + "\n");
    EXPECT_EQ(version.OutputLine().rfind("License GPL-3.0-or-later", 0), 0u);
    EXPECT_EQ(version.Wait(), 0);
}
