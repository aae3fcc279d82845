// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Check.h"

#include "Version.h"
#include "cli/Commands.h"
#include "session/Output.h"
#include "session/PollLoop.h"
#include "core/ControllerCheck.h"
#include "platform/TerminationSignals.h"
#include "platform/WriteAll.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

namespace zub3::cli {
namespace {

constexpr int kCheckInterval = 10;
constexpr double kDefaultTimeoutMs = 60'000;
constexpr double kMaxTimeoutMs = 3'600'000;

double parseDecimal(std::string_view option, const std::string& text)
{
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        throw UsageError("--" + std::string(option) + ": '" + text + "' is not a number");
    return v;
}

CheckLimits checkLimits(const Arguments& args)
{
    CheckLimits l;
    if (const auto v = args.Get("end-tolerance"))
        l.endTolerance = static_cast<int>(cmdline::ParseInteger("end-tolerance", *v, 0, 63));
    if (const auto v = args.Get("centre-tolerance"))
        l.centreTolerance = static_cast<int>(cmdline::ParseInteger("centre-tolerance", *v, 0, 63));
    if (const auto v = args.Get("noise-sd"))
        l.noiseSd = parseDecimal("noise-sd", *v);
    if (const auto v = args.Get("noise-p2p"))
        l.noisePeakToPeak = static_cast<int>(cmdline::ParseInteger("noise-p2p", *v, 0, 1000));
    if (const std::string fault = CheckLimitsFault(l); !fault.empty())
        throw UsageError(fault);
    return l;
}

// What the check asks for, ticked off on standard error as it is seen.
class Ticks {
public:
    void Update(const ControllerCheck& check)
    {
        for (int i = 0; i < kIndicatorCount; ++i)
            if (!seen_[static_cast<std::size_t>(i)] && check.Seen(i)) {
                seen_[static_cast<std::size_t>(i)] = true;
                Note("  seen " + IndicatorName(i) + " (" + std::to_string(check.SeenCount()) +
                     "/" + std::to_string(kIndicatorCount) + ")\n");
            }
        for (int c = 0; c < 4; ++c) {
            const std::string name = "PA" + std::to_string(c + 1);
            if (!low_[static_cast<std::size_t>(c)] && check.LowReached(c)) {
                low_[static_cast<std::size_t>(c)] = true;
                Note("  " + name + " reached its low end\n");
            }
            if (!high_[static_cast<std::size_t>(c)] && check.HighReached(c)) {
                high_[static_cast<std::size_t>(c)] = true;
                Note("  " + name + " reached its high end\n");
            }
        }
    }

private:
    std::array<bool, kIndicatorCount> seen_{};
    std::array<bool, 4> low_{}, high_{};
};

// The report's file, opened before the port so that a path that cannot be written is said
// before anyone presses a button.
int openReport(const Arguments& args)
{
    const auto file = args.Get("report");
    if (!file)
        return STDOUT_FILENO;
    const int fd = ::open(file->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw Failure(kExitNoAnswer, "cannot write the report to " + *file + ": " +
                                         std::strerror(errno));
    return fd;
}

}  // namespace

int Check(const Arguments& args)
{
    SetQuiet(args.Has("quiet"));
    const PollTarget target = ReadPollTarget(args);
    const CheckLimits limits = checkLimits(args);
    double timeoutMs = kDefaultTimeoutMs;
    if (const auto v = args.Get("timeout"))
        timeoutMs = cmdline::ParseDuration("timeout", *v, cmdline::BareUnit::Seconds, 1000,
                                           kMaxTimeoutMs);
    const int reportFd = openReport(args);
    struct Closer {
        int fd;
        ~Closer()
        {
            if (fd != STDOUT_FILENO)
                ::close(fd);
        }
    } closer{reportFd};

    const auto stopSignals = WatchTerminationSignals();
    ControllerCheck check(limits);
    Ticks ticks;
    std::unique_ptr<PollRun> run;
    PollLoop loop(target, {kCheckInterval, std::nullopt, false},
                  {[](const Record&, const PollExchange&) {}, [](long long) {},
                   [&run](int status, const std::string& error) { run->End(status, error); },
                   {},
                   [&](const PollResult& poll) {
                       check.Add(poll);
                       ticks.Update(check);
                       if (check.Complete()) {
                           Note("  let go: at rest\n");
                           run->End(kExitDone);
                       }
                   }});
    run = std::make_unique<PollRun>(loop, *stopSignals);
    if (!loop.Start())
        return kExitNoAnswer;  // a signal ended the search: nothing was checked
    const auto receiver = loop.Receiver();
    Note("Checking the controller on " + loop.PortName() + " (" + Describe(*receiver) +
         ") for up to " + Decimal(timeoutMs / 1000, 0) +
         " s:\n  press every button and diagonal, move each channel to both ends, then let go.\n");
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        Note("  time is up\n");
        run->End(kExitDone);
    });
    deadline.start(static_cast<int>(timeoutMs));
    run->Exec();
    run->Result();  // the port lost or the receiver gone: that status, not a verdict

    const CheckReport report = check.Report();
    const CheckContext context{"zub3ctl", kVersion, loop.PortName(), receiver->id,
                               receiver->speed.bitRate};
    if (!platform::WriteAll(reportFd, CheckReportJson(report, context)) &&
        !(reportFd == STDOUT_FILENO && errno == EPIPE))
        throw Failure(kExitNoAnswer,
                      std::string("cannot write the report: ") + std::strerror(errno));
    std::string verdict = report.pass ? "PASS\n" : "FAIL\n";
    for (const CheckReason& reason : report.reasons)
        verdict += "  " + DescribeReason(reason) + "\n";
    Note(verdict);
    return report.pass ? kExitDone : kExitNoAnswer;
}

}  // namespace zub3::cli
