// SPDX-License-Identifier: GPL-3.0-or-later
// Serial ports over the network: the RFC 2217 device against a small server of the test's
// own, for what ser2net does not do on demand, and zub3ctl against zub3sim shared by a real
// ser2net on the loopback.

#include "core/Protocol.h"
#include "platform/Comm.h"
#include "platform/CommDevice.h"
#include "platform/Events.h"
#include "platform/PortAccess.h"
#include "platform/PortTexts.h"
#include "platform/SerialRegistry.h"
#include "support/Program.h"
#include "support/Rfc2217Server.h"
#include "support/TempRegistry.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace platform::win;
using namespace std::chrono_literals;
using namespace rfc2217test;

namespace {

HANDLE openNetwork(const std::string& address)
{
    const std::string name = "COM" + std::to_string(platform::registry::PortForThisProcess(address));
    return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, 0);
}

// Reads up to count bytes, waiting at most ms for them; nullopt when the read fails.
std::optional<Bytes> readBytes(HANDLE h, DWORD count, DWORD ms)
{
    COMMTIMEOUTS t{0, 0, ms, 0, 0};
    SetCommTimeouts(h, &t);
    Bytes out(count);
    OVERLAPPED o{};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    BOOL ok = ReadFile(h, out.data(), count, &n, &o);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(h, &o, &n, TRUE);
    const DWORD error = GetLastError();
    CloseHandle(o.hEvent);
    SetLastError(error);
    out.resize(n);
    return ok ? std::optional(out) : std::nullopt;
}

}  // namespace

TEST(NetworkDevice, RefusalsSayWhichAndWhere)
{
    TempRegistry registry;
    Rfc2217Server busy([](Rfc2217Server& s) {
        s.Send({IAC, DO, 44});
        s.Send({'P', 'o', 'r', 't', ' ', 'a', 'l', 'r', 'e', 'a', 'd', 'y', ' ', 'i', 'n', ' ',
                'u', 's', 'e', '\r', '\n'});
        s.Close();
    });
    Rfc2217Server plainTelnet([](Rfc2217Server& s) {
        s.Expect({IAC, WILL, 44});
        s.Send({IAC, DONT, 44});
        s.Expect({0xFF, 0xFF, 0xFF});  // held open until the client leaves
    });
    const std::string nobody = "rfc2217://127.0.0.1:" + std::to_string(freePort());
    const struct {
        std::string address;
        platform::ports::Access state;
        std::string where;
    } cases[] = {
        {nobody, platform::ports::Access::Refused, nobody.substr(10)},
        {busy.Address(), platform::ports::Access::Held, busy.Address().substr(10)},
        {plainTelnet.Address(), platform::ports::Access::NotRfc2217, plainTelnet.Address().substr(10)},
        {"rfc2217://no-such-host.invalid:7000", platform::ports::Access::Unresolved, "no-such-host.invalid:7000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(openNetwork(c.address), INVALID_HANDLE_VALUE);
        const auto why = platform::ports::LastOpenRefusal();
        EXPECT_EQ(why.state, c.state);
        EXPECT_NE(platform::ports::Explain(why, platform::ports::Language::English).find(c.where),
                  std::string::npos);
    }
}

TEST(NetworkDevice, DataCrossesTheTelnetLayerUnchanged)
{
    TempRegistry registry;
    Rfc2217Server server([](Rfc2217Server& s) {
        s.Greet();
        s.Expect({0x00, 0xFF, 0xFF, 0x7F});
        // A doubled 0xFF cut between two segments, a NOP, a modem-state notice and an
        // option offer among the data.
        s.Send({0x01, IAC});
        std::this_thread::sleep_for(20ms);
        s.Send({IAC, IAC, 241, 0x02, IAC, SB, 44, 107, 0x00, IAC, SE, IAC, WILL, 1, 0xFF - 1});
        s.Expect({IAC, DONT, 1});
        s.Expect({0xEE});  // until the client leaves
    });
    const HANDLE h = openNetwork(server.Address());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const Bytes out{0x00, 0xFF, 0x7F};
    OVERLAPPED o{};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    if (!WriteFile(h, out.data(), 3, &n, &o))
        GetOverlappedResult(h, &o, &n, TRUE);
    EXPECT_EQ(n, 3u);
    CloseHandle(o.hEvent);
    // Asked for more than comes: the port's own time-out ends the read, with what came.
    EXPECT_EQ(readBytes(h, 8, 300), (Bytes{0x01, 0xFF, 0x02, 0xFE}));
    CloseHandle(h);
}

TEST(NetworkDevice, SettingsNeedTheServersAcknowledgement)
{
    TempRegistry registry;
    Rfc2217Server server([](Rfc2217Server& s) {
        s.Greet();
        // 8E1 at 625000 is taken; 1250000 comes back as 1000000, an adapter's nearest rate.
        s.Expect({IAC, SB, 44, 1, 0, 0x09, 0x89, 0x68, IAC, SE});
        s.Send({IAC, SB, 44, 101, 0, 0x09, 0x89, 0x68, IAC, SE, IAC, SB, 44, 103, 3, IAC, SE});
        s.Expect({IAC, SB, 44, 1, 0, 0x13, 0x12, 0xD0, IAC, SE});
        s.Send({IAC, SB, 44, 101, 0, 0x0F, 0x42, 0x40, IAC, SE});
        // The refused rate is taken back.
        s.Expect({IAC, SB, 44, 1, 0, 0x09, 0x89, 0x68, IAC, SE});
        s.Send({IAC, SB, 44, 101, 0, 0x09, 0x89, 0x68, IAC, SE});
        s.Expect({0xEE});
    });
    const HANDLE h = openNetwork(server.Address());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    dcb.BaudRate = 625000;
    dcb.Parity = EVENPARITY;
    // SET-CONTROL for DTR and RTS is never answered: the setting still holds.
    EXPECT_TRUE(SetCommState(h, &dcb));
    dcb.BaudRate = 1250000;
    EXPECT_FALSE(SetCommState(h, &dcb));
    ASSERT_TRUE(GetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, 625000u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    CloseHandle(h);
}

TEST(NetworkDevice, ADroppedConnectionIsAHangUp)
{
    TempRegistry registry;
    Rfc2217Server server([](Rfc2217Server& s) {
        s.Greet();
        std::this_thread::sleep_for(100ms);
        s.Close();
    });
    const HANDLE h = openNetwork(server.Address());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(readBytes(h, 4, 5000), std::nullopt);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(readBytes(h, 4, 5000), std::nullopt);
    CloseHandle(h);
}

// --- a server that misbehaves ---

namespace {

long rssKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

std::size_t count(const Bytes& in, const Bytes& what)
{
    std::size_t n = 0;
    for (auto at = in.begin(); (at = std::search(at, in.end(), what.begin(), what.end())) != in.end(); ++at)
        ++n;
    return n;
}

bool setSpeed(HANDLE h, DWORD speed)
{
    DCB dcb{};
    GetCommState(h, &dcb);
    dcb.BaudRate = speed;
    return SetCommState(h, &dcb);
}

}  // namespace

// A misbehaving server is seen out at the test's deadlines, shorter than the programs' own.
class HostileServer : public ::testing::Test {
protected:
    static constexpr detail::NetworkTimes kTimes{1000ms, 1000ms};

    void SetUp() override
    {
        kept_ = detail::CurrentNetworkTimes();
        detail::SetNetworkTimes(kTimes);
    }
    void TearDown() override { detail::SetNetworkTimes(kept_); }

private:
    detail::NetworkTimes kept_;
};

// Whatever a server sends or withholds, an open ends by its deadline and says the server is
// no RFC 2217 server, and the memory it took stays small. The cases run side by side.
TEST_F(HostileServer, AnOpenEndsInTimeWhateverComes)
{
    TempRegistry registry;
    const struct {
        const char* what;
        std::function<void(Rfc2217Server&)> script;
    } cases[] = {
        {"silence", [](Rfc2217Server& s) { s.Hold(); }},
        {"NOPs without pause", [](Rfc2217Server& s) { s.Flood({IAC, NOP}); }},
        {"negotiations, never reading", [](Rfc2217Server& s) { s.Flood({IAC, DO, 24, IAC, WILL, 24}); }},
        {"data, a raw port", [](Rfc2217Server& s) { s.Flood({0x55}); }},
        {"an endless sub-negotiation",
         [](Rfc2217Server& s) {
             s.Send({IAC, DO, COM_PORT, IAC, SB, COM_PORT, 101});
             s.Flood({0x41});
         }},
        {"NOPs after taking the serial-port control",
         [](Rfc2217Server& s) {
             s.Send({IAC, DO, COM_PORT});
             s.Flood({IAC, NOP});
         }},
    };
    std::vector<std::unique_ptr<Rfc2217Server>> servers;
    for (const auto& c : cases)
        servers.push_back(std::make_unique<Rfc2217Server>(c.script));
    const long before = rssKiB();
    std::vector<std::thread> opens;
    std::vector<platform::ports::Access> why(std::size(cases));
    std::vector<double> seconds(std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        opens.emplace_back([&, i] {
            const auto start = std::chrono::steady_clock::now();
            DWORD error = 0;
            EXPECT_EQ(detail::OpenNetworkDevice(servers[i]->Address(), error), nullptr);
            why[i] = platform::ports::LastOpenRefusal().state;
            seconds[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        });
    for (auto& t : opens)
        t.join();
    EXPECT_LT(rssKiB() - before, 64 * 1024);
    const double most = std::chrono::duration<double>(kTimes.open + 500ms).count();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(why[i], platform::ports::Access::NotRfc2217);
        EXPECT_LT(seconds[i], most);
    }
}

// A server that floods data once the port is open: the input queue holds what the port's
// buffer holds, a purge returns, and the loss shows as an overrun.
TEST_F(HostileServer, AFloodOfDataIsBoundedAndPurged)
{
    TempRegistry registry;
    Rfc2217Server server([](Rfc2217Server& s) {
        s.Greet();
        s.Flood({0x55, IAC, IAC});
    });
    const HANDLE h = openNetwork(server.Address());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupComm(h, 2048, 2048));
    ASSERT_TRUE(PurgeComm(h, PURGE_RXCLEAR));  // what came before the queue's size was set
    const long before = rssKiB();
    DWORD errors = 0;
    COMSTAT stat{};
    const auto queued = [&] {
        DWORD e = 0;
        EXPECT_TRUE(ClearCommError(h, &e, &stat));
        errors |= e;
        EXPECT_LE(stat.cbInQue, 2048u);
        return stat.cbInQue;
    };
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return queued() == 2048u; }));  // full again
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(PurgeComm(h, PURGE_RXCLEAR | PURGE_RXABORT));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        queued();
    }
    EXPECT_TRUE(errors & CE_OVERRUN);
    const auto got = readBytes(h, 4, 1000);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->size(), 4u);
    EXPECT_LT(rssKiB() - before, 16 * 1024);
    CloseHandle(h);
}

// A server that takes a speed at once but answers late: the late answer is not taken for
// the next request, and the next setting reaches the server whatever the device believed.
TEST_F(HostileServer, ALateAnswerLeavesNoWrongSpeed)
{
    TempRegistry registry;
    std::atomic<bool> resent{false};
    Rfc2217Server server([&resent](Rfc2217Server& s) {
        s.Greet();
        s.Expect({IAC, SB, COM_PORT, 1, 0, 0x09, 0x89, 0x68, IAC, SE});
        // After the first setting has given up, within the time of the next.
        std::this_thread::sleep_for(kTimes.answer * 3 / 2);
        s.Send({IAC, SB, COM_PORT, 101, 0, 0x09, 0x89, 0x68, IAC, SE});
        resent = s.Expect({IAC, SB, COM_PORT, 1, 0, 1, 0xC2, 0, IAC, SE});
        s.Send({IAC, SB, COM_PORT, 101, 0, 1, 0xC2, 0, IAC, SE, IAC, SB, COM_PORT, 102, 8, IAC, SE,
                IAC, SB, COM_PORT, 103, 1, IAC, SE, IAC, SB, COM_PORT, 104, 1, IAC, SE});
        s.Hold();
    });
    const HANDLE h = openNetwork(server.Address());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(setSpeed(h, 625000));
    EXPECT_TRUE(setSpeed(h, 115200));
    EXPECT_TRUE(resent);
    DCB dcb{};
    GetCommState(h, &dcb);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    CloseHandle(h);
}

TEST_F(HostileServer, AConnectionDroppedMidSettingIsLost)
{
    TempRegistry registry;
    Rfc2217Server server([](Rfc2217Server& s) {
        s.Greet();
        s.Expect({IAC, SB, COM_PORT, 1});
        s.Close();
    });
    const HANDLE h = openNetwork(server.Address());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(setSpeed(h, 625000));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    CloseHandle(h);
}

// Telnet manners: agreed options are not offered again, the COM-PORT requests wait for the
// server's DO, the line-state mask asks for errors and breaks, and a notified framing error
// and break reach the port's error event.
TEST_F(HostileServer, LineStateReachesTheErrorEvent)
{
    TempRegistry registry;
    Bytes beforeDo, afterDo;
    Rfc2217Server server([&](Rfc2217Server& s) {
        s.Send({IAC, WILL, 3, IAC, DO, 0, IAC, WILL, 0});
        beforeDo = s.Collect(300ms);
        s.Send({IAC, DO, COM_PORT});
        afterDo = s.Collect(300ms);
        s.Send({IAC, SB, COM_PORT, 101, 0, 1, 0xC2, 0, IAC, SE, IAC, SB, COM_PORT, 102, 8, IAC, SE,
                IAC, SB, COM_PORT, 103, 1, IAC, SE, IAC, SB, COM_PORT, 104, 1, IAC, SE});
        s.Send({IAC, SB, COM_PORT, 106, 0x18, IAC, SE});
        s.Hold();
    });
    const HANDLE h = openNetwork(server.Address());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(h, EV_ERR | EV_BREAK));
    OVERLAPPED wait{};
    wait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD mask = 0;
    if (!WaitCommEvent(h, &mask, &wait)) {
        ASSERT_EQ(WaitForSingleObject(wait.hEvent, 3000), WAIT_OBJECT_0);
    }
    EXPECT_EQ(mask, EV_ERR | EV_BREAK);
    DWORD errors = 0;
    ClearCommError(h, &errors, nullptr);
    EXPECT_EQ(errors, DWORD{CE_FRAME | CE_BREAK});
    CloseHandle(wait.hEvent);
    CloseHandle(h);

    EXPECT_EQ(count(beforeDo, {IAC, WILL, 0}), 1u);
    EXPECT_EQ(count(beforeDo, {IAC, DO, 0}), 1u);
    EXPECT_EQ(count(beforeDo, {IAC, WILL, COM_PORT}), 1u);
    EXPECT_EQ(count(beforeDo, {IAC, SB}), 0u);
    EXPECT_EQ(count(afterDo, {IAC, SB, COM_PORT, 10, 0x1E, IAC, SE}), 1u);
    EXPECT_EQ(count(afterDo, {IAC, SB, COM_PORT, 1, 0, 0, 0, 0, IAC, SE}), 1u);
}

TEST(NetworkPorts, PortsConfJoinsTheListLineByLine)
{
    TempRegistry registry;
    const fs::path conf = registry.Root() / "ports.conf";
    auto location = platform::registry::CurrentLocation();
    location.portsFile = conf;
    platform::registry::SetLocation(location);
    platform::registry::Registration sim(80, "/dev/null", "sim");
    // Saved by an editor that starts the file with a byte-order mark.
    std::ofstream(conf) << "\xEF\xBB\xBF"
                           "COM60 rfc2217://robot.local:7000\n"
                           "# the robot\n"
                           "com61   rfc2217://[::1]:2217   # tunnel\n"
                           "COM80 rfc2217://robot:7001\n"   // a local port's number
                           "COM60 rfc2217://robot:7002\n"   // twice
                           "COM62 rfc2217://robot\n"        // no port
                           "COM63 tcp://robot:7000\n"
                           "COM64\n"
                           "COM65 rfc2217://[fe80::1%lo]:2217\n";
    testing::internal::CaptureStderr();
    const auto values = platform::registry::ReadSerialComm();
    platform::registry::ReadSerialComm();
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(values);
    std::vector<std::string> listed;
    for (const auto& v : *values)
        if (std::stoi(v.data.substr(3)) >= 60)  // not the other tests' servers, from COM51 on
            listed.push_back(v.data + " " + v.devicePath);
    EXPECT_EQ(listed, (std::vector<std::string>{"COM80 /dev/null", "COM60 rfc2217://robot.local:7000",
                                                "COM61 rfc2217://[::1]:2217", "COM65 rfc2217://[fe80::1%lo]:2217"}));
    EXPECT_EQ(platform::registry::ResolvePort("COM61"), "rfc2217://[::1]:2217");
    // Each bad line once, however often the list is read.
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 5) << said;
    EXPECT_NE(said.find("ports.conf:4: COM80 is already sim"), std::string::npos) << said;

    // A file in its place that cannot be read is said once too.
    fs::remove(conf);
    fs::create_directory(conf);
    testing::internal::CaptureStderr();
    platform::registry::ReadSerialComm();
    platform::registry::ReadSerialComm();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(program_invocation_short_name) + ": " + conf.string() +
                  ": cannot be read (is a directory, not a file); its network ports are not listed\n");
}

// --- through ser2net ---

class Ser2net : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               ("zub3-net-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "lock");
        fs::create_directories(dir_ / "config" / "zub3");
        sim_ = std::make_unique<Program>(ZUB3SIM_PATH, std::vector<std::string>{"--id=5", "--speed=625000"}, env());
        std::istringstream first(sim_->OutputLine());
        first >> simPort_ >> device_;
        sim_->OutputUntil("Type help");
        port_ = freePort();
        address_ = "rfc2217://127.0.0.1:" + std::to_string(port_);
        startSer2net();
    }
    void TearDown() override
    {
        ser2net_.reset();
        sim_.reset();
        fs::remove_all(dir_);
    }

    void startSer2net()
    {
        std::ofstream(dir_ / "ser2net.yaml")
            << "connection: &zub3\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port_
            << "\n  connector: serialdev," << device_ << ",115200n81,local\n";
        ser2net_ = std::make_unique<Program>(
            "/usr/sbin/ser2net",
            std::vector<std::string>{"-n", "-d", "-P", (dir_ / "ser2net.pid").string(), "-c",
                                     (dir_ / "ser2net.yaml").string()});
        // Listening once a connection is taken; this one leaves at once.
        for (int i = 0; i < 200; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a = loopback(port_);
            const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
            if (up)
                break;
            std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(100ms);  // ser2net lets go of the device
    }

    std::vector<std::string> env() const
    {
        return {"XDG_RUNTIME_DIR=" + dir_.string(), "ZUB3_LOCK_DIR=" + (dir_ / "lock").string(),
                "XDG_CONFIG_HOME=" + (dir_ / "config").string(), "LC_ALL=C.UTF-8"};
    }

    struct Result {
        int status;
        std::string out;
        std::string err;
    };
    Result ctl(const std::vector<std::string>& args) const
    {
        Program p(ZUB3CTL_PATH, args, env());
        const int status = p.Wait(30s);
        return {status, p.Output(), p.Errors()};
    }

    fs::path dir_;
    std::unique_ptr<Program> sim_;
    std::unique_ptr<Program> ser2net_;
    std::string simPort_, device_, address_;
    int port_ = 0;
};

// The ID query starts with 0xFF, and its echo too: both cross ser2net doubled.
TEST_F(Ser2net, ReadAndWriteThroughTheServer)
{
    Result r = ctl({"read", "--port", address_});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ID 5, 625000 bit/s\n");
    r = ctl({"write", "--port", address_, "--id", "9", "--speed", "1250000"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Confirmed: ID 9, 1250000 bit/s"), std::string::npos) << r.out;

    // The same port by its name in ports.conf.
    std::ofstream(dir_ / "config" / "zub3" / "ports.conf") << "COM90 " << address_ << "\n";
    r = ctl({"read", "--port", "COM90", "--json"});
    EXPECT_EQ(r.out, "{\"id\": 9, \"speed\": 1250000}\n") << r.err;
    r = ctl({"ports", "--check"});
    EXPECT_NE(r.out.find("COM90  " + address_ + "  network\n    the server answers\n"), std::string::npos)
        << r.out;
}

TEST_F(Ser2net, MonitorUntilTheServerGoes)
{
    sim_->Input("press up S4\nchannel 1 127\nchannel 4 1\n");
    auto monitor = std::make_unique<Program>(
        ZUB3CTL_PATH, std::vector<std::string>{"monitor", "--port", address_, "--format", "csv"}, env());
    const std::string header = monitor->OutputLine();
    const std::string record = monitor->OutputLine();
    EXPECT_NE(record.find(",4097,S4 up,127,0,0,1"), std::string::npos) << header << "\n" << record;

    // ser2net takes one client at a time.
    const Result second = ctl({"read", "--port", address_});
    EXPECT_EQ(second.status, 3);
    EXPECT_NE(second.err.find("in use by another client"), std::string::npos) << second.err;

    // Its end is an unplugged adapter: status 3, one line, nothing hangs.
    ser2net_.reset();
    EXPECT_EQ(monitor->Wait(10s), 3);
    const std::string err = monitor->Errors();
    // The reason names the address; the line does not repeat it before.
    EXPECT_NE(err.find("zub3ctl: The connection to " + address_.substr(10) + " was lost"),
              std::string::npos)
        << err;
}

// -q leaves out what ports.conf holds that cannot be used, but not a line naming the port
// the command is to use.
TEST_F(Ser2net, QuietKeepsOnlyTheProblemOfThePortUsed)
{
    std::ofstream(dir_ / "config" / "zub3" / "ports.conf") << "COM91 tcp://robot:7000\nCOM92 " << address_ << "\n";
    Result r = ctl({"read", "--port", "COM92", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = ctl({"read", "--port", "COM91", "-q"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("ports.conf:1: \"tcp://robot:7000\" is not an address"), std::string::npos) << r.err;
}

// zub3sim as a network port of its own: zub3ctl reaches it with no ser2net between.
class ListeningSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               ("zub3-listen-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "lock");
        sim_ = std::make_unique<Program>(
            ZUB3SIM_PATH, std::vector<std::string>{"--listen=127.0.0.1:0", "--id=5", "--speed=625000"},
            env());
        std::istringstream first(sim_->OutputLine());
        first >> simPort_ >> address_;
        sim_->OutputUntil("Type help");
    }
    void TearDown() override
    {
        sim_.reset();
        fs::remove_all(dir_);
    }
    std::vector<std::string> env() const
    {
        return {"XDG_RUNTIME_DIR=" + dir_.string(), "ZUB3_LOCK_DIR=" + (dir_ / "lock").string(),
                "XDG_CONFIG_HOME=" + dir_.string(), "LC_ALL=C.UTF-8"};
    }
    std::pair<int, std::string> ctl(const std::vector<std::string>& args) const
    {
        Program p(ZUB3CTL_PATH, args, env());
        const int status = p.Wait(30s);
        return {status, p.Output() + p.Errors()};
    }

    fs::path dir_;
    std::unique_ptr<Program> sim_;
    std::string simPort_, address_;
};

TEST_F(ListeningSim, ReadWriteAndMonitorByAddressAndByName)
{
    ASSERT_EQ(address_.rfind("rfc2217://127.0.0.1:", 0), 0u) << address_;
    EXPECT_NE(address_, "rfc2217://127.0.0.1:0");
    // The search over the speeds finds it only at its own.
    EXPECT_EQ(ctl({"read", "--port", address_}), std::pair(0, std::string("ID 5, 625000 bit/s\n")));
    auto [status, out] = ctl({"write", "--port", simPort_, "--id", "9", "--speed", "1250000"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Confirmed: ID 9, 1250000 bit/s"), std::string::npos) << out;

    sim_->Input("press up S4\nchannel 1 127\n");
    auto monitor = std::make_unique<Program>(
        ZUB3CTL_PATH, std::vector<std::string>{"monitor", "--port", address_, "--format", "csv"}, env());
    EXPECT_EQ(monitor->OutputLine(), "t_ms,time,buttons,held,pa1,pa2,pa3,pa4\n");
    const std::string record = monitor->OutputLine();
    EXPECT_NE(record.find(",4097,S4 up,127,0,0,0"), std::string::npos) << record;

    // Like a serial port, one client at a time.
    std::tie(status, out) = ctl({"read", "--port", address_});
    EXPECT_EQ(status, 3);
    EXPECT_NE(out.find("in use by another client"), std::string::npos) << out;

    // Its end is an unplugged adapter.
    sim_.reset();
    EXPECT_EQ(monitor->Wait(10s), 3);
}

// It hears what the client sent only at its own speed and framing (8E1), as a receiver on a
// wire would.
TEST_F(ListeningSim, AnswersOnlyAtItsOwnSettings)
{
    const struct {
        DWORD baud;
        BYTE parity;
        BYTE stopBits;
        bool answers;
    } rows[] = {
        {625000, EVENPARITY, ONESTOPBIT, true},
        {115200, EVENPARITY, ONESTOPBIT, false},
        {625000, NOPARITY, ONESTOPBIT, false},
        {625000, EVENPARITY, TWOSTOPBITS, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.baud) + " parity " + std::to_string(row.parity) +
                     " stop " + std::to_string(row.stopBits));
        // The last row's client is gone once the receiver has seen it leave.
        HANDLE h = INVALID_HANDLE_VALUE;
        ASSERT_TRUE(WaitUntil([&] { return (h = openNetwork(address_)) != INVALID_HANDLE_VALUE; }));
        DCB dcb{};
        ASSERT_TRUE(GetCommState(h, &dcb));
        dcb.BaudRate = row.baud;
        dcb.ByteSize = 8;
        dcb.Parity = row.parity;
        dcb.StopBits = row.stopBits;
        ASSERT_TRUE(SetCommState(h, &dcb));
        const Bytes poll{0xA5, 0x7F, 0x00, 0x07};
        DWORD written = 0;
        OVERLAPPED o{};
        o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!WriteFile(h, poll.data(), 4, &written, &o) && GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(h, &o, &written, TRUE);
        CloseHandle(o.hEvent);
        const auto reply = readBytes(h, zub3::kPollReplySize, 300);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->size(), row.answers ? std::size_t{zub3::kPollReplySize} : 0u);
        CloseHandle(h);
    }
}

// A client that floods requests and never reads their answers is let go once the answers
// waiting for it pass their bound; the receiver then serves the next client.
TEST_F(ListeningSim, AClientThatNeverReadsIsLetGo)
{
    const auto address = platform::registry::ParseNetworkAddress(address_);
    ASSERT_TRUE(address);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a = loopback(std::stoi(address->port));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    Bytes flood;
    for (int i = 0; i < 1000; ++i)
        flood.insert(flood.end(), {IAC, SB, COM_PORT, 1, 0, 0, 0, 0, IAC, SE});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    bool dropped = false;
    timeval tv{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    while (!dropped && std::chrono::steady_clock::now() < deadline)
        dropped = ::send(fd, flood.data(), flood.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN;
    ::close(fd);
    EXPECT_TRUE(dropped);
    EXPECT_TRUE(WaitUntil([&] { return ctl({"read", "--port", address_}).first == 0; }));
}
