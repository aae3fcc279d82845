// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Commands.h"

#include "cli/Summary.h"
#include "core/ReceiverLink.h"
#include "core/Records.h"
#include "platform/PortAccess.h"
#include "platform/PortTexts.h"
#include "platform/SerialRegistry.h"
#include "serial/CommX.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

namespace zub3::cli {
namespace {

namespace registry = platform::registry;
namespace ports = platform::ports;

constexpr double kMinInterval = 5;
constexpr double kMaxInterval = 500;
constexpr int kDefaultInterval = 10;
// A QTimer counts in int milliseconds: a run may last up to 24 days.
constexpr double kMaxDurationMs = 24.0 * 24 * 3'600'000;

// -q: notes and the summary are left out; errors are not notes.
bool g_quiet = false;
constexpr qint64 kLiveViewMs = 50;  // the live view redraws no faster than this

// Writes all of text; false (errno set) when the reader has gone or the write failed.
bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Output that is lost is a failure, unless its reader went away ("| head"). Not for the
// monitor's loop, whose handlers must not throw.
void say(std::string_view text)
{
    if (!writeAll(STDOUT_FILENO, text) && errno != EPIPE)
        throw Failure(kExitNoAnswer,
                      std::string("cannot write the output: ") + std::strerror(errno));
}

void note(const std::string& text)
{
    if (!g_quiet)
        writeAll(STDERR_FILENO, text);
}

std::string require(const Arguments& args, std::string_view name)
{
    const auto value = args.Get(name);
    if (!value)
        throw UsageError("--" + std::string(name) + " is required");
    return *value;
}

struct PortChoice {
    std::string name;    // "COM51", or the path given
    int number = 0;
    std::string device;  // "/dev/pts/3"
};

std::filesystem::path canonical(const std::string& path)
{
    std::error_code ec;
    const auto p = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::path(path) : p;
}

// The ports the system lists. What ports.conf holds that cannot be used is a note, which
// -q leaves out; one about the port the command is to use is told all the same.
std::vector<registry::Value> listedPorts(const std::string& portUsed = {})
{
    registry::SetPortsFileSink([](const registry::PortsFileProblem& p) {
        note(std::string(program_invocation_short_name) + ": " + p.message + "\n");
    });
    auto values = registry::ReadSerialComm().value_or(std::vector<registry::Value>{});
    if (g_quiet && !portUsed.empty())
        for (const auto& p : registry::PortsFileProblems())
            if (p.port == portUsed)
                writeAll(STDERR_FILENO, std::string(program_invocation_short_name) + ": " + p.message + "\n");
    return values;
}

// A COM name the registry lists, the path of any terminal device, or a network port: a
// listed one keeps its COM name, any other is opened under a number only this process
// knows.
PortChoice choosePort(const std::string& text)
{
    std::string upper = text;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto values = listedPorts(upper);
    if (registry::IsNetworkAddress(text)) {
        if (!registry::ParseNetworkAddress(text))
            throw UsageError("--port: '" + text + "' is not an address such as rfc2217://HOST:PORT");
        const auto listed = std::find_if(values.begin(), values.end(),
                                         [&text](const registry::Value& v) { return v.devicePath == text; });
        const int number = listed != values.end() ? std::stoi(listed->data.substr(3))
                                                  : registry::PortForThisProcess(text);
        return {text, number, text};
    }
    const bool isPath = text.find('/') != std::string::npos;
    for (const auto& v : values) {
        const bool match = isPath ? canonical(v.devicePath) == canonical(text) : v.data == upper;
        int number = 0;
        const char* digits = v.data.data() + 3;
        const char* end = v.data.data() + v.data.size();
        // Only a port the serial component can open by number: "COM" and the number.
        if (match && v.data.starts_with("COM") &&
            std::from_chars(digits, end, number).ptr == end && number > 0)
            return {v.data, number, v.devicePath};
    }
    if (!isPath)
        throw Failure(kExitCannotOpen,
                      text + ": not a serial port this system lists; see \"zub3ctl ports\"");
    if (!std::filesystem::exists(text))
        throw Failure(kExitCannotOpen, text + ": no such device");
    const std::string device = canonical(text).string();
    if (!registry::IsTerminalDevice(device))
        throw Failure(kExitCannotOpen, text + ": not a terminal device, so not a serial port");
    return {text, registry::PortForThisProcess(device), device};
}

// "COM7: " before a line about the device, unless the port was named by that path.
std::string portPrefix(const PortChoice& choice)
{
    return choice.name == choice.device ? std::string() : choice.name + ": ";
}

// A device that has gone refuses every setting: that, not the setting, is what to report.
void failIfGone(const PortChoice& choice)
{
    const ports::PortAccess access = ports::CheckAccess(choice.device);
    if (access.state == ports::Access::Gone)
        throw Failure(kExitCannotOpen,
                      choice.name + ": " + ports::Explain(access, ports::Language::English));
}

// Opens the port for the receiver's line; a refusal says why. The speed is set afterwards,
// so that one the port cannot run is not taken for a port that cannot be opened.
std::unique_ptr<TCommX> openPort(const PortChoice& choice)
{
    auto port = std::make_unique<TCommX>(nullptr);
    port->Language = clEnglish;
    SetReceiverLine(*port);
    port->SetPortNo(choice.number);
    try {
        port->Open();
    } catch (const ECommError& e) {
        ports::PortAccess why = ports::LastOpenRefusal();
        if (why.state == ports::Access::Free)
            why = ports::CheckAccess(choice.device);
        const std::string text = ports::Explain(why, ports::Language::English);
        throw Failure(kExitCannotOpen, choice.name + ": " + (text.empty() ? e.what() : text));
    }
    return port;
}

std::string speedList(std::span<const LineSpeed> speeds)
{
    std::string out;
    for (std::size_t i = 0; i < speeds.size(); ++i)
        out += (i == 0 ? "" : i + 1 == speeds.size() ? " or " : ", ") +
               std::to_string(speeds[i].bitRate);
    return out;
}

std::string cannotRun(const PortChoice& choice, std::span<const LineSpeed> speeds)
{
    return portPrefix(choice) + choice.device + " cannot run at " + speedList(speeds) + " bit/s";
}

// Whether the port runs at the speed; it is left set to it when it does.
bool runsAt(TCommX& port, const PortChoice& choice, const LineSpeed& speed)
{
    try {
        port.SetBitRate(speed.bitRate);
        return true;
    } catch (const ECommError&) {
        failIfGone(choice);
        return false;
    }
}

void requireSpeed(TCommX& port, const PortChoice& choice, const LineSpeed& speed)
{
    if (!runsAt(port, choice, speed))
        throw Failure(kExitCannotOpen, cannotRun(choice, std::span(&speed, 1)));
}

// The speeds to search that the port can run; the others are noted and skipped (a 16550
// UART has no 625000 bit/s). None at all ends the command.
std::vector<LineSpeed> runnableSpeeds(TCommX& port, const PortChoice& choice,
                                      std::span<const LineSpeed> speeds)
{
    std::vector<LineSpeed> runnable;
    std::vector<LineSpeed> skipped;
    for (const LineSpeed& speed : speeds)
        (runsAt(port, choice, speed) ? runnable : skipped).push_back(speed);
    if (runnable.empty())
        throw Failure(kExitCannotOpen, cannotRun(choice, skipped));
    if (!skipped.empty())
        note("zub3ctl: " + cannotRun(choice, skipped) + "; skipped\n");
    return runnable;
}

std::string describe(const ReceiverSettings& s)
{
    return "ID " + std::to_string(s.id) + ", " + std::to_string(s.speed.bitRate) + " bit/s";
}

// The speeds to search: the one --speed names, which the port must run, or those of the
// three that it runs, in the window's order.
std::vector<LineSpeed> speedsToTry(TCommX& port, const PortChoice& choice,
                                   const std::optional<LineSpeed>& asked)
{
    if (asked) {
        requireSpeed(port, choice, *asked);
        return {*asked};
    }
    return runnableSpeeds(port, choice, kLineSpeeds);
}

std::optional<LineSpeed> askedSpeed(const Arguments& args)
{
    const auto s = args.Get("speed");
    return s ? std::optional(ParseSpeed("speed", *s)) : std::nullopt;
}

// ReadSettings, with a refused setting (the device gone meanwhile) as the command's end.
std::optional<ReceiverSettings> searchSettings(TCommX& port, const PortChoice& choice,
                                               std::span<const LineSpeed> speeds,
                                               const std::function<bool()>& cancelled = {})
{
    try {
        return ReadSettings(port, speeds, {}, cancelled);
    } catch (const ECommError& e) {
        failIfGone(choice);
        const std::string text = e.what();
        throw Failure(kExitCannotOpen, choice.name + ": " + text.substr(0, text.find('\n')));
    }
}

// The settings found; nullopt only when cancelled ended the search.
std::optional<ReceiverSettings> readOrFail(TCommX& port, const PortChoice& choice,
                                           std::span<const LineSpeed> speeds,
                                           const std::function<bool()>& cancelled = {})
{
    const auto found = searchSettings(port, choice, speeds, cancelled);
    if (!found && !(cancelled && cancelled()))
        throw Failure(kExitNoAnswer, choice.name + ": no receiver answered at " +
                                         speedList(speeds) + " bit/s");
    return found;
}

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// --- monitor ---

// SIGINT, SIGTERM and SIGHUP become a byte on a pipe, read by the event loop, and a flag for the
// search for the receiver, which runs before that loop.
int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_stopRequested = 0;

void onSignal(int)
{
    g_stopRequested = 1;
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

void catchTerminationSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Failure(kExitNoAnswer,
                      std::string("cannot watch for signals: ") + std::strerror(errno));
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    // A hang-up too (the terminal or SSH session gone), unless it is ignored, as under nohup.
    struct sigaction hup{};
    if (::sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler != SIG_IGN)
        ::sigaction(SIGHUP, &sa, nullptr);
}

struct MonitorSettings {
    int interval = kDefaultInterval;
    std::optional<long long> count;
    std::optional<double> durationMs;
    Format format = Format::Text;
    bool hex = false;
    std::optional<long long> maxFailures;
};

MonitorSettings monitorSettings(const Arguments& args)
{
    MonitorSettings m;
    if (const auto v = args.Get("interval"))
        m.interval = static_cast<int>(std::lround(cmdline::ParseDuration(
            "interval", *v, cmdline::BareUnit::Milliseconds, kMinInterval, kMaxInterval)));
    if (args.Has("count") && args.Has("duration"))
        throw UsageError("give --count or --duration, not both");
    if (const auto v = args.Get("count"))
        m.count = cmdline::ParseInteger("count", *v, 1, 1'000'000'000'000);
    if (const auto v = args.Get("duration"))
        m.durationMs = cmdline::ParseDuration("duration", *v, cmdline::BareUnit::Seconds, 1,
                                              kMaxDurationMs);
    if (const auto v = args.Get("format")) {
        if (*v == "text")
            m.format = Format::Text;
        else if (*v == "csv")
            m.format = Format::Csv;
        else if (*v == "jsonl")
            m.format = Format::Jsonl;
        else
            throw UsageError("--format: '" + *v + "' is not text, csv or jsonl");
    }
    m.hex = args.Has("hex");
    if (const auto v = args.Get("max-failures"))
        m.maxFailures = cmdline::ParseInteger("max-failures", *v, 1, 1'000'000'000);
    return m;
}

// Polls until the count or the time is reached, a signal comes, the reader of the records
// goes away or too many polls fail.
class MonitorRun {
public:
    MonitorRun(TCommX& port, const PortChoice& choice, Byte id, const MonitorSettings& settings)
        : port_(port), choice_(choice), id_(id), s_(settings),
          live_(settings.format == Format::Text && ::isatty(STDOUT_FILENO))
    {
    }

    int Run()
    {
        if (!writeAll(STDOUT_FILENO, Header(s_.format, s_.hex)))
            return outputFailed();
        QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&signalNotifier, &QSocketNotifier::activated, [this] {
            char buf[16];
            while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
            }
            end(kExitDone);
        });
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, [this] { end(kExitDone); });
        if (s_.durationMs)
            deadline.start(static_cast<int>(std::ceil(*s_.durationMs)));
        timer_.start(0);
        loop_.exec();

        if (live_ && last_)
            draw(*last_, true);
        note(summary_.Text());
        if (!error_.empty())
            throw Failure(status_, error_);
        return status_;
    }

private:
    // Ends the run; a poll under way is completed first, as it runs in a nested loop.
    void end(int status, const std::string& error = {})
    {
        if (ended_)
            return;
        ended_ = true;
        status_ = status;
        error_ = error;
        timer_.stop();
        loop_.quit();
    }

    int outputFailed()
    {
        // A reader that has gone is the normal end of "| head".
        if (errno == EPIPE)
            return kExitDone;
        throw Failure(kExitNoAnswer,
                      std::string("cannot write the records: ") + std::strerror(errno));
    }

    void poll()
    {
        // The first poll is time zero.
        const bool first = !clock_.isValid();
        if (first)
            clock_.start();
        const double t = first ? 0.0 : static_cast<double>(clock_.nsecsElapsed()) / 1e6;
        const std::string time = WallClock(QDateTime::currentMSecsSinceEpoch());
        const PollExchange p = zub3::Poll(port_, id_);
        summary_.Poll(t);
        if (!p.Answered()) {
            failed(p.count < 0);
        } else if (!p.data) {
            summary_.Rejected();
        } else {
            summary_.Accepted(*p.data);
            Record r{t, time, *p.data, {}, {}};
            if (s_.hex) {
                r.sent = Dump(p.sent);
                r.received = Dump(p.received);
            }
            record(r);
            if (s_.count && summary_.Records() >= *s_.count)
                end(kExitDone);
        }
        if (!ended_)
            timer_.start(s_.interval);
    }

    // lineLost: the read failed outright (a hang-up, an unplugged adapter) rather than
    // running out of time.
    void failed(bool lineLost)
    {
        summary_.Failure();
        const long long n = summary_.Failures();
        if (lineLost && registry::IsNetworkAddress(choice_.device)) {
            ports::PortAccess lost;
            lost.state = ports::Access::Dropped;
            lost.device = registry::ParseNetworkAddress(choice_.device)->Text();
            end(kExitCannotOpen, choice_.name + ": " + ports::Explain(lost, ports::Language::English));
            return;
        }
        if (lineLost) {
            const ports::PortAccess access = ports::CheckAccess(choice_.device);
            if (access.state == ports::Access::Gone) {
                end(kExitCannotOpen,
                    choice_.name + ": " + ports::Explain(access, ports::Language::English));
                return;
            }
        }
        if (live_)
            draw(last_.value_or(Record{}), true);
        else
            note("zub3ctl: poll " + std::to_string(summary_.Polls()) + ": no reply (" +
                 std::to_string(n) + (n == 1 ? " poll" : " polls") + " without a reply)\n");
        if (s_.maxFailures && n >= *s_.maxFailures)
            end(kExitNoAnswer, choice_.name + ": " + std::to_string(n) +
                                   " polls without a reply; check the connection");
    }

    void draw(const Record& r, bool now)
    {
        if (!now && drawn_ && sinceDrawn_.elapsed() < kLiveViewMs)
            return;
        // A terminal that has gone (a hang-up under nohup) leaves the run going.
        writeAll(STDOUT_FILENO, LiveView(r, summary_.Polls(), summary_.Failures(), drawn_));
        drawn_ = true;
        sinceDrawn_.start();
    }

    void record(const Record& r)
    {
        if (live_) {
            last_ = r;
            draw(r, false);
            return;
        }
        if (!writeAll(STDOUT_FILENO, FormatRecord(s_.format, s_.hex, r))) {
            if (errno == EPIPE)
                end(kExitDone);
            else
                end(kExitNoAnswer,
                    std::string("cannot write the records: ") + std::strerror(errno));
        }
    }

    TCommX& port_;
    const PortChoice& choice_;
    const Byte id_;
    const MonitorSettings s_;
    const bool live_;
    QEventLoop loop_;
    QTimer timer_;
    QElapsedTimer clock_;
    Summary summary_;
    bool ended_ = false;
    int status_ = kExitDone;
    std::string error_;
    std::optional<Record> last_;
    bool drawn_ = false;
    QElapsedTimer sinceDrawn_;
};

// COM2 before COM10, as a person counts; anything else after the COM ports, by name.
std::pair<int, std::string> portOrder(const std::string& name)
{
    int number = 0;
    const char* end = name.data() + name.size();
    if (name.starts_with("COM") && std::from_chars(name.data() + 3, end, number).ptr == end)
        return {number, name};
    return {INT_MAX, name};
}

}  // namespace

void Say(std::string_view text)
{
    say(text);
}

int Ports(const Arguments& args)
{
    const bool json = args.Has("json");
    const bool check = args.Has("check");
    auto values = listedPorts();
    std::stable_sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
        return portOrder(a.data) < portOrder(b.data);
    });
    std::string out = json ? "[" : "";
    bool first = true;
    for (const auto& v : values) {
        const bool network = registry::IsNetworkAddress(v.devicePath);
        // Listing never connects: a network port is asked only with --check.
        const bool known = !network || check;
        const ports::PortDescription d = ports::DescribePort(v.devicePath);
        const ports::PortAccess a =
            network && check ? ports::CheckServer(v.devicePath) : ports::CheckAccess(v.devicePath);
        const std::string why = ports::Explain(a, ports::Language::English);
        if (json) {
            const char* reason = a.state == ports::Access::Denied        ? "\"permission\""
                                 : a.state == ports::Access::Held        ? "\"held\""
                                 : a.state == ports::Access::Gone        ? "\"gone\""
                                 : a.state == ports::Access::Refused     ? "\"refused\""
                                 : a.state == ports::Access::Unreachable ? "\"unreachable\""
                                 : a.state == ports::Access::Unresolved  ? "\"unresolved\""
                                 : a.state == ports::Access::NotRfc2217  ? "\"not-rfc2217\""
                                 : a.state == ports::Access::LookupFailed ? "\"lookup-failed\""
                                                                         : "null";
            out += std::string(first ? "\n" : ",\n") + "  {\"port\": " + jsonString(v.data) +
                   ", \"kind\": " + (network ? "\"network\"" : "\"serial\"") +
                   ", \"device\": " + jsonString(v.devicePath) + ", \"name\": " +
                   jsonString(v.name) + ", \"product\": " + jsonString(d.product) +
                   ", \"manufacturer\": " + jsonString(d.manufacturer) +
                   ", \"serial\": " + jsonString(d.serial) + ", \"available\": " +
                   (!known ? "null" : a.state == ports::Access::Free ? "true" : "false") +
                   ", \"reason\": " + reason + ", \"detail\": " +
                   (why.empty() ? "null" : jsonString(why)) + "}";
        } else {
            std::string what = network ? "network" : d.product;
            if (!d.manufacturer.empty())
                what += (what.empty() ? "" : ", ") + d.manufacturer;
            if (!d.serial.empty())
                what += (what.empty() ? "" : ", ") + std::string("serial ") + d.serial;
            const std::string status = !known        ? "not checked (--check connects to the server)"
                                       : why.empty() ? (network ? "the server answers" : "available")
                                                     : why;
            out += v.data + "  " + v.devicePath + "  " + (what.empty() ? v.name : what) + "\n" +
                   "    " + status + "\n";
        }
        first = false;
    }
    if (json)
        out += first ? "]\n" : "\n]\n";
    else if (first)
        out = "No serial ports.\n";
    say(out);
    return kExitDone;
}

int Read(const Arguments& args)
{
    g_quiet = args.Has("quiet");
    const std::string portText = require(args, "port");
    const auto asked = askedSpeed(args);
    const PortChoice choice = choosePort(portText);
    const auto port = openPort(choice);
    const ReceiverSettings found = *readOrFail(*port, choice, speedsToTry(*port, choice, asked));
    if (args.Has("json"))
        say("{\"id\": " + std::to_string(found.id) + ", \"speed\": " +
            std::to_string(found.speed.bitRate) + "}\n");
    else
        say(describe(found) + "\n");
    return kExitDone;
}

int Write(const Arguments& args)
{
    g_quiet = args.Has("quiet");
    // Everything is checked before the line is touched.
    const std::string portText = require(args, "port");
    const int newID = ParseID("id", require(args, "id"));
    const LineSpeed newSpeed = ParseSpeed("speed", require(args, "speed"));
    if (args.Has("from-id") != args.Has("from-speed"))
        throw UsageError("give --from-id and --from-speed together, or neither");
    std::optional<ReceiverSettings> given;
    if (args.Has("from-id"))
        given = ReceiverSettings{static_cast<Byte>(ParseID("from-id", *args.Get("from-id"))),
                                 ParseSpeed("from-speed", *args.Get("from-speed"))};
    const PortChoice choice = choosePort(portText);
    const auto port = openPort(choice);
    // A receiver set to a speed the port cannot run could not be reached again.
    requireSpeed(*port, choice, newSpeed);

    ReceiverSettings present;
    if (given) {
        requireSpeed(*port, choice, given->speed);
        present = *given;
        say("Present settings (given): " + describe(present) + "\n");
    } else {
        present = *readOrFail(*port, choice, runnableSpeeds(*port, choice, kLineSpeeds));
        say("Read: " + describe(present) + "\n");
    }
    const WriteFrame frame = BuildWriteFrame(present.id, newSpeed.code, newID);
    const ReceiverSettings wanted{static_cast<Byte>(newID), newSpeed};
    say("Write: " + describe(wanted) + ", sent " + Dump(frame) + "\n");
    const WriteExchange reply = zub3::Write(*port, frame);
    if (!reply.Answered())
        throw Failure(kExitNoAnswer, choice.name + ": no reply to the write at " +
                                         std::to_string(present.speed.bitRate) + " bit/s");
    if (!reply.accepted)
        throw Failure(kExitNoAnswer, choice.name + ": the receiver refused the write (reply " +
                                         Dump(reply.received) + ")");
    say("Reply: " + Dump(reply.received) + ", accepted\n");
    const auto check = searchSettings(*port, choice, std::span(&newSpeed, 1));
    if (!check)
        throw Failure(kExitNoAnswer, choice.name + ": no answer at the new speed " +
                                         std::to_string(newSpeed.bitRate) +
                                         " bit/s; the receiver may not have taken the settings");
    if (check->id != newID)
        throw Failure(kExitNoAnswer, choice.name + ": the receiver reports " + describe(*check) +
                                         " instead of " + describe(wanted));
    say("Confirmed: " + describe(*check) + "\n");
    return kExitDone;
}

int Monitor(const Arguments& args)
{
    g_quiet = args.Has("quiet");
    const std::string portText = require(args, "port");
    const MonitorSettings settings = monitorSettings(args);
    if (args.Has("id") && !args.Has("speed"))
        throw UsageError("--id needs --speed");
    const std::optional<int> id =
        args.Has("id") ? std::optional<int>(ParseID("id", *args.Get("id"))) : std::nullopt;
    const auto asked = askedSpeed(args);
    const PortChoice choice = choosePort(portText);
    // Before the port is opened: a signal while the receiver is sought still closes it and
    // removes its lock.
    catchTerminationSignals();
    const auto port = openPort(choice);
    const auto speeds = speedsToTry(*port, choice, asked);
    const auto target = id ? ReceiverSettings{static_cast<Byte>(*id), speeds.front()}
                           : readOrFail(*port, choice, speeds, [] { return g_stopRequested != 0; });
    if (!target) {
        note(Summary().Text());
        return kExitDone;
    }
    return MonitorRun(*port, choice, target->id, settings).Run();
}

}  // namespace zub3::cli
