// SPDX-License-Identifier: GPL-3.0-or-later
// zub3ctl as a script runs it, against zub3sim on a pseudo-terminal: each command's output
// and exit status, monitoring in every format, its ends (count, failures, signals, a closed
// pipe), a port held by another run, and a recording played back by zub3sim.

#include "support/Program.h"

#include "Version.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::string> split(const std::string& line, char sep)
{
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == sep)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

QJsonObject json(const std::string& line)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    return doc.object();
}

// What a record says of the controller: the button word and the four channels.
using State = std::array<int, 5>;

State stateOf(const QJsonObject& o)
{
    return {o["buttons"].toInt(), o["pa1"].toInt(), o["pa2"].toInt(), o["pa3"].toInt(),
            o["pa4"].toInt()};
}

// The states one after another, each repeat folded into one.
std::vector<State> runs(const std::vector<State>& states)
{
    std::vector<State> out;
    for (const State& s : states)
        if (out.empty() || out.back() != s)
            out.push_back(s);
    return out;
}

class Zub3ctlTest : public ::testing::Test {
protected:
    struct Sim {
        std::unique_ptr<Program> process;
        std::string port;    // "COM51"
        std::string device;  // "/dev/pts/3"
    };

    void SetUp() override
    {
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               ("zub3ctl-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "lock");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Each test has a serial-port registry and a lock directory of its own, and no default
    // port from the environment it runs in.
    std::vector<std::string> env(const std::string& locale = "C.UTF-8") const
    {
        return {"XDG_RUNTIME_DIR=" + dir_.string(), "ZUB3_LOCK_DIR=" + (dir_ / "lock").string(),
                "LC_ALL=" + locale, "LANG=" + locale, "ZUB3_PORT="};
    }

    Sim startSim(const std::vector<std::string>& args, const std::string& locale = "C.UTF-8")
    {
        Sim sim;
        sim.process = std::make_unique<Program>(ZUB3SIM_PATH, args, env(locale));
        std::istringstream first(sim.process->OutputLine());
        first >> sim.port >> sim.device;
        EXPECT_EQ(sim.port.rfind("COM", 0), 0u) << sim.process->ErrorLine(100ms);
        sim.process->OutputUntil("Type help");
        return sim;
    }

    // A console command and the answer it prints.
    static void tell(Sim& sim, const std::string& command)
    {
        sim.process->Input(command + "\n");
        EXPECT_NE(sim.process->OutputLine(), "") << command;
    }

    std::unique_ptr<Program> start(const std::vector<std::string>& args) const
    {
        return std::make_unique<Program>(ZUB3CTL_PATH, args, env());
    }

    // The next line on standard error that holds text, within a few lines.
    static std::string errorWith(Program& run, const std::string& text)
    {
        for (int i = 0; i < 10; ++i)
            if (const std::string line = run.ErrorLine(); line.find(text) != std::string::npos ||
                                                          line.empty())
                return line;
        return {};
    }

    Result ctl(const std::vector<std::string>& args, const std::string& locale = "C.UTF-8") const
    {
        Program p(ZUB3CTL_PATH, args, env(locale));
        const int status = p.Wait();
        return {status, p.Output(), p.Errors()};
    }

    fs::path dir_;
};

// One line on standard error, from the program.
void expectOneErrorLine(const Result& r)
{
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("zub3ctl: ", 0), 0u) << r.err;
}

}  // namespace

TEST_F(Zub3ctlTest, HelpVersionAndBadUsage)
{
    const Result help = ctl({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: zub3ctl ports", 0), 0u);
    for (const char* command : {"ports", "read", "write", "monitor", "check"}) {
        const Result r = ctl({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("Usage: zub3ctl ") + command, 0), 0u) << r.out;
    }
    const Result version = ctl({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(lines(version.out).at(0), std::string("zub3ctl (ZUB-3 Manager) ") + zub3::kVersion);
    EXPECT_NE(version.out.find("GPL-3.0-or-later"), std::string::npos);
    // "help COMMAND", a command's --help and its abbreviation print the same.
    const Result helpMonitor = ctl({"help", "monitor"});
    EXPECT_EQ(helpMonitor.status, 0);
    EXPECT_EQ(helpMonitor.out, ctl({"monitor", "--hel"}).out);
    EXPECT_NE(helpMonitor.out.find("\n  received "), std::string::npos) << helpMonitor.out;

    // Values are checked before any port is looked at: COM99 does not exist, yet these are
    // usage errors.
    const std::vector<std::vector<std::string>> bad{
        {},
        {"frobnicate"},
        {"read"},
        {"read", "--port"},
        {"read", "--port", "COM99", "--speed", "9600"},
        {"read", "--port", "COM99", "stray"},
        {"read", "--port", "COM99", "--", "--json"},
        {"write", "--port", "COM99", "--fr", "2"},  // --from-id or --from-speed
        {"help", "frobnicate"},
        {"write", "--port", "COM99", "--id", "32", "--speed", "115200"},
        {"write", "--port", "COM99", "--id", "-1", "--speed", "115200"},
        {"write", "--port", "COM99", "--id", "3", "--speed", "9600"},
        {"write", "--port", "COM99", "--id", "3", "--speed", "115200", "--from-id", "2"},
        {"monitor", "--port", "COM99", "--interval", "4"},
        {"monitor", "--port", "COM99", "--interval", "501"},
        {"monitor", "--port", "COM99", "--count", "3", "--duration", "1"},
        {"monitor", "--port", "COM99", "--format", "xml"},
        {"monitor", "--port", "COM99", "--id", "3"},
        {"monitor", "--port", "COM99", "--duration", "soon"},
        {"monitor", "--port", "COM99", "--interval", "0.501s"},
        {"monitor", "--port", "COM99", "--heartbeat", "2s"},  // needs --changes
        {"monitor", "--port", "COM99", "--changes", "--heartbeat", "0"},
        {"check", "--port", "COM99", "--timeout", "0.5"},
        {"check", "--port", "COM99", "--noise-p2p", "17"},
        {"check", "--port", "COM99", "--noise-sd", "1,5"},
        {"check", "--port", "COM99", "--end-tolerance", "64"},
    };
    for (const auto& args : bad) {
        const Result r = ctl(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        expectOneErrorLine(r);
        EXPECT_EQ(r.out, "");
    }

    const Result missing = ctl({"read", "--port", "COM99"});
    EXPECT_EQ(missing.status, 3);
    expectOneErrorLine(missing);
    const Result noDevice = ctl({"read", "--port", "/dev/no-such-tty"});
    EXPECT_EQ(noDevice.status, 3);
    expectOneErrorLine(noDevice);
}

TEST_F(Zub3ctlTest, ReadFindsTheReceiverAtEachSpeed)
{
    Sim slow = startSim({"--id=3", "--speed=115200"});
    Sim middle = startSim({"--id=17", "--speed=625000"});
    Sim fast = startSim({"--id=31", "--speed=1250000"});

    const Result a = ctl({"read", "--port", slow.port});
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.out, "ID 3, 115200 bit/s\n");
    // A device path and a lower-case COM name name the same port.
    const Result b = ctl({"read", "--port", middle.device, "--json"});
    EXPECT_EQ(b.status, 0) << b.err;
    const QJsonObject o = json(b.out);
    EXPECT_EQ(o["id"].toInt(), 17);
    EXPECT_EQ(o["speed"].toInt(), 625000);
    std::string lower = fast.port;
    lower[0] = 'c';
    const Result c = ctl({"read", "-p", lower});
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.out, "ID 31, 1250000 bit/s\n");

    // --speed tries that speed only.
    const Result only = ctl({"read", "--port", middle.port, "--speed", "625000"});
    EXPECT_EQ(only.out, "ID 17, 625000 bit/s\n");
    const Result elsewhere = ctl({"read", "--port", middle.port, "--speed", "115200"});
    EXPECT_EQ(elsewhere.status, 1);
    EXPECT_EQ(elsewhere.err,
              "zub3ctl: " + middle.port + ": no receiver answered at 115200 bit/s\n");
}

// A terminal device no registry lists (a socat pty, a board's UART) is a port by its path;
// anything else is refused in one line.
TEST_F(Zub3ctlTest, AnyTerminalDeviceIsAPortByItsPath)
{
    Sim sim = startSim({"--id=5"});
    fs::create_directories(dir_ / "elsewhere");
    fs::permissions(dir_ / "elsewhere", fs::perms::owner_all);
    // A registry of its own, without the receiver's entry.
    Program unlisted(ZUB3CTL_PATH, {"read", "--port", sim.device},
                     {"XDG_RUNTIME_DIR=" + (dir_ / "elsewhere").string(),
                      "ZUB3_LOCK_DIR=" + (dir_ / "lock").string(), "LC_ALL=C.UTF-8"});
    EXPECT_EQ(unlisted.Wait(), 0) << unlisted.Errors();
    EXPECT_EQ(unlisted.Output(), "ID 5, 115200 bit/s\n");

    std::ofstream(dir_ / "file") << "not a port\n";
    for (const std::string& path : {std::string("/dev/null"), (dir_ / "file").string()}) {
        const Result r = ctl({"read", "--port", path});
        EXPECT_EQ(r.status, 3) << path;
        EXPECT_EQ(r.err, "zub3ctl: " + path + ": not a terminal device, so not a serial port\n");
    }
}

TEST_F(Zub3ctlTest, ASilentReceiverIsAnsweredWithStatusOne)
{
    Sim sim = startSim({"--fault-no-reply"});
    const Result r = ctl({"read", "--port", sim.port});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zub3ctl: " + sim.port +
                         ": no receiver answered at 115200, 625000 or 1250000 bit/s\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(Zub3ctlTest, OutputThatCannotBeWrittenIsAFailure)
{
    Sim sim = startSim({});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"read", "--port", sim.port}, {"ports"}, {"--help"},
          {"--version"}, {"help", "read"}}) {
        std::vector<std::string> all{"-c", "exec \"$0\" \"$@\" >/dev/full", ZUB3CTL_PATH};
        all.insert(all.end(), args.begin(), args.end());
        Program p("/bin/sh", all, env());
        EXPECT_EQ(p.Wait(), 1) << args.front();
        EXPECT_EQ(p.Errors(), "zub3ctl: cannot write the output: No space left on device\n");
    }
}

TEST_F(Zub3ctlTest, WriteIsConfirmedAndAReadSeesTheNewSettings)
{
    Sim sim = startSim({});
    const Result w = ctl({"write", "--port", sim.port, "--id", "7", "--speed", "625000"});
    EXPECT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(w.out,
              "Read: ID 0, 115200 bit/s\n"
              "Write: ID 7, 625000 bit/s, sent C0 00 00 01 00 07\n"
              "Reply: C0 00 00 01 00 07 40 00, accepted\n"
              "Confirmed: ID 7, 625000 bit/s\n");
    EXPECT_EQ(ctl({"read", "--port", sim.port}).out, "ID 7, 625000 bit/s\n");

    // With the present settings given, nothing is read first.
    const Result given = ctl({"write", "--port", sim.port, "--id", "2", "--speed", "1250000",
                              "--from-id", "7", "--from-speed", "625000"});
    EXPECT_EQ(given.status, 0) << given.err;
    EXPECT_EQ(lines(given.out).front(), "Present settings (given): ID 7, 625000 bit/s");
    EXPECT_EQ(ctl({"read", "--port", sim.port, "--speed", "1250000"}).out,
              "ID 2, 1250000 bit/s\n");
}

TEST_F(Zub3ctlTest, ARefusedWriteEndsWithStatusOne)
{
    // The receiver answers the write with a wrong command echo.
    Sim sim = startSim({"--fault-bad-header"});
    const Result r = ctl({"write", "--port", sim.port, "--id", "4", "--speed", "115200"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"Read: ID 0, 115200 bit/s",
                                                      "Write: ID 4, 115200 bit/s, sent "
                                                      "C0 00 00 0A 00 04"}));
    expectOneErrorLine(r);
    EXPECT_NE(r.err.find("refused the write"), std::string::npos) << r.err;
}

TEST_F(Zub3ctlTest, MonitorRecordsWhatTheReceiverHoldsInEachFormat)
{
    Sim sim = startSim({"--id=5"});
    tell(sim, "press up left circle");
    for (const char* c : {"channel 1 100", "channel 2 0", "channel 3 127", "channel 4 7"})
        tell(sim, c);
    const int word = 0x0001 | 0x0008 | 0x0040;

    const Result csv =
        ctl({"monitor", "--port", sim.port, "--count", "5", "--format", "csv", "--hex"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    const auto rows = lines(csv.out);
    ASSERT_EQ(rows.size(), 6u) << csv.out;
    EXPECT_EQ(rows[0], "t_ms,time,buttons,held,pa1,pa2,pa3,pa4,sent,received");
    double last = -1;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto f = split(rows[i], ',');
        ASSERT_EQ(f.size(), 10u) << rows[i];
        EXPECT_TRUE(std::regex_match(f[0], std::regex(R"(\d+\.\d{3})"))) << f[0];
        EXPECT_GT(std::stod(f[0]), last);
        last = std::stod(f[0]);
        EXPECT_TRUE(std::regex_match(
            f[1], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d))")))
            << f[1];
        EXPECT_EQ(f[2], std::to_string(word));
        EXPECT_EQ(f[3], "up left circle");
        EXPECT_EQ((std::vector<std::string>(f.begin() + 4, f.begin() + 8)),
                  (std::vector<std::string>{"100", "0", "127", "7"}));
        EXPECT_EQ(f[8], "A5 7F 00 07");
        EXPECT_EQ(f[9].substr(0, 24), "A5 7F 00 07 25 7F 00 07 ");  // echo, then the reply
    }
    EXPECT_EQ(rows[1].substr(0, 6), "0.000,");
    EXPECT_NE(csv.err.find("5 polls, 0 without a reply, 0 rejected, 5 records written\n"),
              std::string::npos) << csv.err;
    EXPECT_NE(csv.err.find("PA1: min 100, max 100, mean 100.00"), std::string::npos);

    // Given ID and speed, nothing is read first.
    const Result jsonl = ctl({"monitor", "--port", sim.port, "--id", "5", "--speed", "115200",
                              "--count", "3", "--format", "jsonl", "--interval", "5"});
    EXPECT_EQ(jsonl.status, 0) << jsonl.err;
    const auto records = lines(jsonl.out);
    ASSERT_EQ(records.size(), 3u);
    for (const auto& line : records) {
        const QJsonObject o = json(line);
        EXPECT_EQ(stateOf(o), (State{word, 100, 0, 127, 7}));
        EXPECT_EQ(o["held"].toArray(), (QJsonArray{"up", "left", "circle"}));
        EXPECT_TRUE(o["t_ms"].isDouble());
        EXPECT_FALSE(o.contains("sent"));
    }

    // Text, piped: one line per record.
    const Result text = ctl({"monitor", "--port", sim.port, "--cou", "2", "--"});
    EXPECT_EQ(text.status, 0) << text.err;
    const auto textLines = lines(text.out);
    ASSERT_EQ(textLines.size(), 2u);
    EXPECT_NE(textLines[1].find("held: up left circle  PA1 100  PA2 0  PA3 127  PA4 7"),
              std::string::npos) << textLines[1];
}

TEST_F(Zub3ctlTest, TheFailureLimitEndsASilentRun)
{
    Sim sim = startSim({"--fault-no-reply"});
    const Result r = ctl({"monitor", "--port", sim.port, "--id", "0", "--speed", "115200",
                          "--format", "csv", "--max-failures", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "t_ms,time,buttons,held,pa1,pa2,pa3,pa4\n");
    const auto err = lines(r.err);
    ASSERT_GE(err.size(), 5u) << r.err;
    EXPECT_EQ(err[0], "zub3ctl: poll 1: no reply (1 poll without a reply)");
    EXPECT_EQ(err[2], "zub3ctl: poll 3: no reply (3 polls without a reply)");
    EXPECT_EQ(err[3], "3 polls, 3 without a reply, 0 rejected, 0 records written");
    EXPECT_EQ(err.back(),
              "zub3ctl: " + sim.port + ": 3 polls without a reply; check the connection");

    // Quiet: no notes, no summary, the error stays.
    const Result quiet = ctl({"monitor", "-qp", sim.port, "--id=0", "--speed=115200",
                              "--max-fail", "2"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err,
              "zub3ctl: " + sim.port + ": 2 polls without a reply; check the connection\n");
}

TEST_F(Zub3ctlTest, SignalsEndAMonitorCleanlyAndFreeThePort)
{
    Sim sim = startSim({});
    tell(sim, "press S2");
    // A hang-up, as when the SSH session of a remote monitor drops, too.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        auto run = start({"monitor", "--port", sim.port, "--format", "jsonl"});
        for (int i = 0; i < 3; ++i)
            ASSERT_NE(run->OutputLine(), "") << run->ErrorLine(100ms);
        run->Signal(sig);
        EXPECT_EQ(run->Wait(), 0) << sig;
        // Every record is whole; the summary came; no error.
        for (const auto& line : lines(run->Output()))
            EXPECT_EQ(json(line)["held"].toArray(), QJsonArray{"S2"});
        EXPECT_NE(run->Errors().find(" polls, 0 without a reply"), std::string::npos)
            << run->Errors();
        EXPECT_EQ(run->Errors().find("zub3ctl:"), std::string::npos) << run->Errors();
        // The port is closed and free for the next program.
        EXPECT_EQ(ctl({"read", "--port", sim.port}).status, 0);
    }
}

// A hang-up ignored as under nohup, and Ctrl+C ignored as in a script's background job,
// stay ignored; a signal that was not ignored still ends the run.
TEST_F(Zub3ctlTest, SignalsIgnoredAtTheStartStayIgnored)
{
    Sim sim = startSim({});
    struct sigaction ignore{}, previousHup{}, previousInt{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &previousHup);
    ::sigaction(SIGINT, &ignore, &previousInt);
    auto run = start({"monitor", "--port", sim.port, "--format", "csv"});
    ::sigaction(SIGHUP, &previousHup, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    ASSERT_NE(run->OutputLine(), "");
    ASSERT_NE(run->OutputLine(), "");
    for (const int sig : {SIGHUP, SIGINT}) {
        run->Signal(sig);
        for (int i = 0; i < 10; ++i)
            ASSERT_NE(run->OutputLine(2s), "") << "signal " << sig << " ended the run";
    }
    run->Signal(SIGTERM);
    EXPECT_EQ(run->Wait(), 0);
}

TEST_F(Zub3ctlTest, SignalsWhileTheReceiverIsSoughtEndAMonitorCleanly)
{
    // A silent receiver keeps the monitor trying the three speeds for a second and a half.
    Sim sim = startSim({"--fault-no-reply"});
    for (const int sig : {SIGINT, SIGTERM}) {
        auto run = start({"monitor", "--port", sim.port, "--format", "csv"});
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (fs::is_empty(dir_ / "lock") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        ASSERT_FALSE(fs::is_empty(dir_ / "lock")) << "the port was not opened";
        run->Signal(sig);
        EXPECT_EQ(run->Wait(), 0) << sig;
        EXPECT_EQ(run->Output(), "");
        EXPECT_EQ(run->Errors().rfind("0 polls, 0 without a reply, 0 rejected, 0 records written\n", 0), 0u)
            << run->Errors();
        EXPECT_TRUE(fs::is_empty(dir_ / "lock")) << "the lock file was left behind";
    }
}

TEST_F(Zub3ctlTest, AClosedPipeEndsAMonitorQuietly)
{
    Sim sim = startSim({});
    auto run = start({"monitor", "--port", sim.port, "--format", "csv"});
    EXPECT_EQ(run->OutputLine().rfind("t_ms,", 0), 0u);
    EXPECT_NE(run->OutputLine(), "");
    run->CloseOutput();
    EXPECT_EQ(run->Wait(5s), 0);
    EXPECT_EQ(run->Errors().find("zub3ctl:"), std::string::npos) << run->Errors();
    EXPECT_NE(run->Errors().find(" polls, "), std::string::npos);
}

// "| head -3": the summary counts the records the reader took, not the one that found it
// gone. Half a second between polls leaves no record on its way when the reader closes.
TEST_F(Zub3ctlTest, TheSummaryCountsOnlyTheRecordsWritten)
{
    Sim sim = startSim({});
    auto run = start({"monitor", "--port", sim.port, "--format", "jsonl", "--interval", "500"});
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(run->OutputLine(), "") << run->Errors();
    run->CloseOutput();
    EXPECT_EQ(run->Wait(5s), 0);
    const auto err = lines(run->Errors());
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err[0], "4 polls, 0 without a reply, 0 rejected, 3 records written") << run->Errors();
}

// A standard output closed by the caller is said as such; no descriptor opened later (the
// port's, a socket's) takes its place and gets the output.
TEST_F(Zub3ctlTest, AClosedStandardOutputIsSaidPlainly)
{
    Sim sim = startSim({});
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"monitor", "--port", sim.port, "--count", "3"}, "cannot write the records"},
        {{"read", "--port", sim.port}, "cannot write the output"},
        {{"ports"}, "cannot write the output"},
    };
    for (const auto& [args, what] : cases) {
        SCOPED_TRACE(args.front());
        std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" >&-", ZUB3CTL_PATH};
        shell.insert(shell.end(), args.begin(), args.end());
        Program p("/bin/sh", shell, env());
        EXPECT_EQ(p.Wait(), 1);
        EXPECT_EQ(p.Errors(), "zub3ctl: " + what + ": standard output is closed\n");
    }
    // The receiver was left as it was: the next run reads it at once.
    EXPECT_EQ(ctl({"read", "--port", sim.port}).out, "ID 0, 115200 bit/s\n");
}

TEST_F(Zub3ctlTest, AReceiverThatGoesAwayEndsAMonitorWithStatusThree)
{
    Sim sim = startSim({});
    auto run = start({"monitor", "--port", sim.port, "--format", "csv"});
    ASSERT_NE(run->OutputLine(), "");
    ASSERT_NE(run->OutputLine(), "");
    // Its pseudo-terminal goes with it, as a device node goes with an unplugged adapter.
    sim.process->Signal(SIGKILL);
    EXPECT_EQ(run->Wait(), 3);
    const auto err = lines(run->Errors());
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), "zub3ctl: " + sim.port + ": " + sim.device +
                              " is no longer there: plug the adapter in again or choose "
                              "another port.");
}

// With --wait a port that is not there yet, and one whose receiver ends and starts again
// under the same COM name, are waited for and polled again; the summary counts the gap.
TEST_F(Zub3ctlTest, WaitingCarriesAMonitorAcrossAReceiverThatGoesAndComesBack)
{
    auto run = start({"monitor", "--wait", "--port", "COM70", "--format", "csv"});
    EXPECT_NE(errorWith(*run, "waiting for COM70"), "");
    Sim first = startSim({"--port", "70"});
    tell(first, "press S1");
    EXPECT_EQ(run->OutputLine().rfind("t_ms,", 0), 0u);
    auto heldUntil = [&run](const std::string& held) {
        for (int i = 0; i < 500; ++i)
            if (const auto line = run->OutputLine(); line.find("," + held + ",") != std::string::npos)
                return true;
        return false;
    };
    ASSERT_TRUE(heldUntil("S1"));

    first.process->Signal(SIGTERM);
    EXPECT_EQ(first.process->Wait(), 0);
    EXPECT_NE(errorWith(*run, "Waiting for COM70 to come back"), "");
    Sim second = startSim({"--port", "70"});
    tell(second, "press S2");
    EXPECT_NE(errorWith(*run, "COM70 is back after "), "");
    ASSERT_TRUE(heldUntil("S2"));

    run->Signal(SIGINT);
    EXPECT_EQ(run->Wait(), 0);
    EXPECT_NE(run->Errors().find("1 gap while the port was away"), std::string::npos)
        << run->Errors();

    // Without --wait the receiver's end is the run's end, as always.
    auto once = start({"monitor", "--port", "COM70", "--format", "csv"});
    ASSERT_NE(once->OutputLine(), "");
    second.process->Signal(SIGTERM);
    EXPECT_EQ(once->Wait(), 3);
}

// --changes writes a still controller only as heartbeats, and every change of a moving one.
TEST_F(Zub3ctlTest, OnlyChangesAndHeartbeatsAreWritten)
{
    Sim still = startSim({});
    tell(still, "press circle");
    const Result quiet = ctl({"monitor", "--port", still.port, "--changes", "--heartbeat",
                              "150ms", "--count", "3", "--format", "csv"});
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    const auto rows = lines(quiet.out);
    ASSERT_EQ(rows.size(), 4u) << quiet.out;
    // Polls and records apart: a still controller is polled far more often than written.
    std::smatch figures;
    const std::regex summary(
        R"((\d+) polls, 0 without a reply, 0 rejected, 3 records written \(changes and heartbeats\)\n)");
    ASSERT_TRUE(std::regex_search(quiet.err, figures, summary)) << quiet.err;
    EXPECT_GT(std::stoi(figures[1]), 10);
    for (std::size_t i = 2; i < rows.size(); ++i) {
        EXPECT_EQ(split(rows[i], ',')[2], split(rows[1], ',')[2]);
        EXPECT_GE(std::stod(split(rows[i], ',')[0]) - std::stod(split(rows[i - 1], ',')[0]), 150);
    }

    Sim moving = startSim({"--demo"});
    const Result busy = ctl({"monitor", "--port", moving.port, "--changes", "--heartbeat", "1h",
                             "--count", "30", "--format", "jsonl"});
    EXPECT_EQ(busy.status, 0) << busy.err;
    std::vector<State> states;
    for (const auto& line : lines(busy.out))
        states.push_back(stateOf(json(line)));
    EXPECT_EQ(states.size(), 30u);
    EXPECT_EQ(runs(states), states) << "a record repeats the one before";
}

// ZUB3_PORT stands for --port in every command; --port still wins.
TEST_F(Zub3ctlTest, TheEnvironmentNamesTheDefaultPort)
{
    Sim sim = startSim({});
    auto withPort = [this](const std::string& port, const std::vector<std::string>& args) {
        auto e = env();
        e.back() = "ZUB3_PORT=" + port;
        Program p(ZUB3CTL_PATH, args, e);
        const int status = p.Wait();
        return Result{status, p.Output(), p.Errors()};
    };
    EXPECT_EQ(withPort(sim.port, {"read"}).out, "ID 0, 115200 bit/s\n");
    EXPECT_EQ(withPort(sim.port, {"monitor", "--count", "1", "--format", "csv"}).status, 0);
    EXPECT_EQ(withPort(sim.port, {"write", "--id", "5", "--speed", "115200"}).status, 0);
    EXPECT_EQ(withPort("COM99", {"read", "--port", sim.port}).out, "ID 5, 115200 bit/s\n");
    const Result none = ctl({"read"});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("ZUB3_PORT"), std::string::npos) << none.err;
}

TEST_F(Zub3ctlTest, APortHeldByAnotherRunIsExplained)
{
    Sim sim = startSim({});
    const Result before = ctl({"ports", "--json"});
    EXPECT_EQ(before.status, 0);
    auto find = [&sim](const std::string& out) {
        for (const auto& v : QJsonDocument::fromJson(QByteArray::fromStdString(out)).array())
            if (v.toObject()["port"].toString().toStdString() == sim.port)
                return v.toObject();
        return QJsonObject();
    };
    QJsonObject entry = find(before.out);
    EXPECT_EQ(entry["device"].toString().toStdString(), sim.device);
    EXPECT_TRUE(entry["available"].toBool());
    EXPECT_TRUE(entry["reason"].isNull());

    auto run = start({"monitor", "--port", sim.port, "--format", "csv"});
    ASSERT_NE(run->OutputLine(), "");
    ASSERT_NE(run->OutputLine(), "");

    const Result held = ctl({"read", "--port", sim.port});
    EXPECT_EQ(held.status, 3);
    expectOneErrorLine(held);
    EXPECT_NE(held.err.find("in use by zub3ctl (PID " + std::to_string(run->Pid()) + ")"),
              std::string::npos) << held.err;

    entry = find(ctl({"ports", "--json"}).out);
    EXPECT_FALSE(entry["available"].toBool());
    EXPECT_EQ(entry["reason"].toString(), "held");
    const Result text = ctl({"ports"});
    EXPECT_NE(text.out.find(sim.port + "  " + sim.device), std::string::npos) << text.out;

    run->Signal(SIGINT);
    EXPECT_EQ(run->Wait(), 0);
}

TEST_F(Zub3ctlTest, ARecordingPlayedBackIsMonitoredAgainAsRecorded)
{
    const fs::path file = dir_ / "session.jsonl";
    const std::vector<std::string> states{"word 0x0201", "channel 1 90", "word 0x0050",
                                          "channel 4 33"};
    {
        Sim sim = startSim({});
        auto run = start({"monitor", "--port", sim.port, "--format", "jsonl", "--interval",
                          "0.02s", "--duration", "1.6"});
        ASSERT_NE(run->OutputLine(), "");
        // A new state every 300 ms, each held for many polls.
        for (const auto& s : states) {
            std::this_thread::sleep_for(300ms);
            tell(sim, s);
        }
        ASSERT_EQ(run->Wait(), 0) << run->Errors();
        std::ofstream(file) << run->Output();
    }
    std::vector<State> recorded;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        recorded.push_back(stateOf(json(line)));
    ASSERT_GT(recorded.size(), 20u);
    EXPECT_EQ(runs(recorded).size(), states.size() + 1);

    Sim replay = startSim({"--replay=" + file.string()});
    const Result again = ctl({"monitor", "--port", replay.port, "--format", "jsonl",
                              "--interval", "20", "--count", std::to_string(recorded.size())});
    EXPECT_EQ(again.status, 0) << again.err;
    std::vector<State> played;
    for (const auto& line : lines(again.out))
        played.push_back(stateOf(json(line)));
    EXPECT_EQ(played.size(), recorded.size());
    // Poll times wander a little between runs, so a poll may meet the next sample early at a
    // change; the states and their order are the same.
    EXPECT_EQ(runs(played), runs(recorded));
}

TEST_F(Zub3ctlTest, PortsAreListedInTheOrderOfTheirNumbers)
{
    Sim high = startSim({"--port=100"});
    Sim low = startSim({"--port=52"});
    const Result text = ctl({"ports"});
    EXPECT_LT(text.out.find("COM52  "), text.out.find("COM100  ")) << text.out;
    const Result json = ctl({"ports", "--json"});
    EXPECT_LT(json.out.find("\"COM52\""), json.out.find("\"COM100\"")) << json.out;
}

// Programs read the records and zub3sim replays them: under a locale that writes decimal
// commas, the numbers keep their points.
TEST_F(Zub3ctlTest, RecordsAreTheSameInACommaDecimalLocale)
{
    const std::string german = "de_DE.UTF-8";
    const locale_t available = ::newlocale(LC_ALL_MASK, german.c_str(), nullptr);
    ASSERT_TRUE(available) << german << " is missing; scripts/setup.sh generates it";
    ::freelocale(available);

    Sim sim = startSim({}, german);
    tell(sim, "word 0x0009");
    tell(sim, "channel 1 100");
    const Result csv = ctl({"monitor", "--port", sim.port, "--count", "3", "--format", "csv",
                            "--interval", "0,5s"},
                           german);
    EXPECT_EQ(csv.status, 2) << "an option's time is read with a point only";
    const Result recorded =
        ctl({"monitor", "--port", sim.port, "--count", "3", "--format", "csv"}, german);
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    const auto rows = lines(recorded.out);
    ASSERT_EQ(rows.size(), 4u);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto f = split(rows[i], ',');
        ASSERT_EQ(f.size(), 8u) << rows[i];
        EXPECT_TRUE(std::regex_match(f[0], std::regex(R"(\d+\.\d{3})"))) << f[0];
    }
    EXPECT_NE(recorded.err.find("mean 100.00\n"), std::string::npos) << recorded.err;
    EXPECT_NE(recorded.err.find("period: median "), std::string::npos);
    EXPECT_EQ(recorded.err.find(",000 ms"), std::string::npos) << recorded.err;

    const Result jsonl =
        ctl({"monitor", "--port", sim.port, "--count", "3", "--format", "jsonl"}, german);
    for (const auto& line : lines(jsonl.out))
        EXPECT_EQ(json(line)["held"].toArray(), (QJsonArray{"up", "left"}));

    const fs::path file = dir_ / "session.csv";
    std::ofstream(file) << recorded.out;
    Sim replay = startSim({"--replay=" + file.string()}, german);
    const Result again = ctl({"monitor", "--port", replay.port, "--count", "1", "--format",
                              "jsonl"},
                             german);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(stateOf(json(again.out)), (State{9, 100, 0, 0, 0}));
}
