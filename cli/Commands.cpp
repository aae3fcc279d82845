// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Commands.h"

#include "session/Changes.h"
#include "session/Json.h"
#include "session/Output.h"
#include "session/PollLoop.h"
#include "session/Port.h"
#include "session/Summary.h"
#include "core/Records.h"
#include "platform/PortAccess.h"
#include "platform/PortTexts.h"
#include "platform/SerialRegistry.h"
#include "platform/TerminationSignals.h"
#include "platform/WriteAll.h"
#include "serial/CommX.h"

#include <QElapsedTimer>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

namespace zub3::cli {
namespace {

namespace registry = platform::registry;
namespace ports = platform::ports;
using platform::WriteAll;

// A QTimer counts in int milliseconds: a run may last up to 24 days.
constexpr double kMaxDurationMs = 24.0 * 24 * 3'600'000;
constexpr qint64 kLiveViewMs = 50;  // the live view redraws no faster than this

std::string require(const Arguments& args, std::string_view name)
{
    const auto value = args.Get(name);
    if (!value)
        throw UsageError("--" + std::string(name) + " is required");
    return *value;
}

// --- monitor ---

struct MonitorSettings {
    PollSettings poll;
    std::optional<long long> count;
    std::optional<double> durationMs;
    Format format = Format::Text;
    bool hex = false;
    std::optional<double> heartbeatMs;  // set: only changes and heartbeats are written
};

MonitorSettings monitorSettings(const Arguments& args)
{
    MonitorSettings m;
    m.poll = ReadPollSettings(args);
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
    if (args.Has("heartbeat") && !args.Has("changes"))
        throw UsageError("--heartbeat needs --changes");
    if (args.Has("changes"))
        m.heartbeatMs = kDefaultHeartbeatMs;
    if (const auto v = args.Get("heartbeat"))
        m.heartbeatMs = cmdline::ParseDuration("heartbeat", *v, cmdline::BareUnit::Seconds,
                                               kMinIntervalMs, kMaxDurationMs);
    return m;
}

// Writes the records of a poll loop until the count or the time is reached, a signal
// comes, the reader of the records goes away or the loop ends by itself.
class MonitorRun {
public:
    MonitorRun(const PollTarget& target, const MonitorSettings& settings,
               platform::TerminationSignals& stopSignals)
        : s_(settings),
          live_(settings.format == Format::Text && ::isatty(STDOUT_FILENO)),
          changes_(settings.heartbeatMs),
          loop_(target, settings.poll,
                {[this](const Record& r, const PollExchange& p) { accepted(r, p); },
                 [this](long long failures) { unanswered(failures); },
                 [this](int status, const std::string& error) { run_.End(status, error); },
                 {}}),
          run_(loop_, stopSignals)
    {
    }

    int Run()
    {
        if (!loop_.Start()) {
            Note(summary());
            return kExitDone;
        }
        if (!WriteAll(STDOUT_FILENO, Header(s_.format, s_.hex)))
            return outputFailed();
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, [this] { run_.End(kExitDone); });
        if (s_.durationMs)
            deadline.start(static_cast<int>(std::ceil(*s_.durationMs)));
        run_.Exec();

        if (live_ && last_)
            draw(*last_, true);
        Note(summary());
        return run_.Result();
    }

private:
    // Polls and records apart: with --changes most polls write nothing, and a record whose
    // reader had gone was not written.
    std::string summary() const
    {
        const std::string what = live_           ? "shown"
                                 : s_.heartbeatMs ? "written (changes and heartbeats)"
                                                  : "written";
        return loop_.Figures().Text(RecordCount(written_, what));
    }

    int outputFailed()
    {
        // A reader that has gone is the normal end of "| head".
        if (errno == EPIPE)
            return kExitDone;
        throw Failure(kExitNoAnswer,
                      std::string("cannot write the records: ") + std::strerror(errno));
    }

    void unanswered(long long failures)
    {
        if (live_)
            draw(last_.value_or(Record{}), true);
        else
            Note("zub3ctl: poll " + std::to_string(loop_.Figures().Polls()) + ": no reply (" +
                 std::to_string(failures) + (failures == 1 ? " poll" : " polls") +
                 " without a reply)\n");
    }

    void draw(const Record& r, bool now)
    {
        if (!now && drawn_ && sinceDrawn_.elapsed() < kLiveViewMs)
            return;
        // A terminal that has gone (a hang-up under nohup) leaves the run going.
        WriteAll(STDOUT_FILENO,
                 LiveView(r, loop_.Figures().Polls(), loop_.Figures().Failures(), drawn_));
        drawn_ = true;
        sinceDrawn_.start();
    }

    void accepted(Record r, const PollExchange& p)
    {
        // The live view shows every record: it overwrites itself and never piles up.
        if (!changes_.Pass(r, live_))
            return;
        if (s_.hex) {
            r.sent = Dump(p.sent);
            r.received = Dump(p.received);
        }
        if (live_) {
            last_ = r;
            draw(r, false);
        } else if (!WriteAll(STDOUT_FILENO, FormatRecord(s_.format, s_.hex, r))) {
            if (errno == EPIPE)
                run_.End(kExitDone);
            else
                run_.End(kExitNoAnswer,
                    std::string("cannot write the records: ") + std::strerror(errno));
            return;
        }
        ++written_;
        if (s_.count && written_ >= *s_.count)
            run_.End(kExitDone);
    }

    const MonitorSettings s_;
    const bool live_;
    ChangeFilter changes_;
    PollLoop loop_;
    PollRun run_;
    std::optional<Record> last_;         // the live view's
    long long written_ = 0;
    bool drawn_ = false;
    QElapsedTimer sinceDrawn_;
};

// COM2 before COM10, as a person counts; anything else after the COM ports, by name.
std::pair<int, std::string> portOrder(const std::string& name)
{
    const int number = registry::PortNumber(name);
    return {number < 0 ? INT_MAX : number, name};
}

}  // namespace




int Ports(const Arguments& args)
{
    const bool json = args.Has("json");
    const bool check = args.Has("check");
    auto values = ListedPorts();
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
            out += std::string(first ? "\n" : ",\n") + "  {\"port\": " + JsonString(v.data) +
                   ", \"kind\": " + (network ? "\"network\"" : "\"serial\"") +
                   ", \"device\": " + JsonString(v.devicePath) + ", \"name\": " +
                   JsonString(v.name) + ", \"product\": " + JsonString(d.product) +
                   ", \"manufacturer\": " + JsonString(d.manufacturer) +
                   ", \"serial\": " + JsonString(d.serial) + ", \"available\": " +
                   (!known ? "null" : a.state == ports::Access::Free ? "true" : "false") +
                   ", \"reason\": " + reason + ", \"detail\": " +
                   (why.empty() ? "null" : JsonString(why)) + "}";
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
    Say(out);
    return kExitDone;
}

int Read(const Arguments& args)
{
    SetQuiet(args.Has("quiet"));
    const std::string portText = PortText(args);
    const auto asked = AskedSpeed(args);
    const PortChoice choice = ChoosePort(portText);
    const auto port = OpenPort(choice);
    const ReceiverSettings found = *ReadOrFail(*port, choice, SpeedsToTry(*port, choice, asked));
    if (args.Has("json"))
        Say("{\"id\": " + std::to_string(found.id) + ", \"speed\": " +
            std::to_string(found.speed.bitRate) + "}\n");
    else
        Say(Describe(found) + "\n");
    return kExitDone;
}

int Write(const Arguments& args)
{
    SetQuiet(args.Has("quiet"));
    // Everything is checked before the line is touched.
    const std::string portText = PortText(args);
    const int newID = ParseID("id", require(args, "id"));
    const LineSpeed newSpeed = ParseSpeed("speed", require(args, "speed"));
    if (args.Has("from-id") != args.Has("from-speed"))
        throw UsageError("give --from-id and --from-speed together, or neither");
    std::optional<ReceiverSettings> given;
    if (args.Has("from-id"))
        given = ReceiverSettings{static_cast<Byte>(ParseID("from-id", *args.Get("from-id"))),
                                 ParseSpeed("from-speed", *args.Get("from-speed"))};
    const PortChoice choice = ChoosePort(portText);
    const auto port = OpenPort(choice);
    // A receiver set to a speed the port cannot run could not be reached again.
    RequireSpeed(*port, choice, newSpeed);

    ReceiverSettings present;
    if (given) {
        RequireSpeed(*port, choice, given->speed);
        present = *given;
        Say("Present settings (given): " + Describe(present) + "\n");
    } else {
        present = *ReadOrFail(*port, choice, SpeedsToTry(*port, choice, std::nullopt));
        Say("Read: " + Describe(present) + "\n");
    }
    const WriteResult result = WriteSettings(*port, choice, present,
                                             {static_cast<Byte>(newID), newSpeed},
                                             [](const std::string& line) { Say(line + "\n"); });
    if (!result.error.empty())
        throw Failure(kExitNoAnswer, result.error);
    return kExitDone;
}

int Monitor(const Arguments& args)
{
    SetQuiet(args.Has("quiet"));
    const PollTarget target = ReadPollTarget(args);
    const MonitorSettings settings = monitorSettings(args);
    RequireStandardOutput("records");
    // Before the port is opened: a signal while the receiver is sought still closes it and
    // removes its lock.
    const auto stopSignals = WatchTerminationSignals();
    return MonitorRun(target, settings, *stopSignals).Run();
}

}  // namespace zub3::cli
