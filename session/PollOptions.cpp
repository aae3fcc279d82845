// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/PollOptions.h"

#include "session/Port.h"
#include "platform/TerminationSignals.h"

#include <cmath>
#include <system_error>

namespace zub3::cli {
namespace {

constexpr int kDefaultIntervalMs = 10;

}  // namespace

PollSettings ReadPollSettings(const Arguments& args)
{
    PollSettings poll;
    poll.intervalMs = kDefaultIntervalMs;
    if (const auto v = args.Get("interval"))
        poll.intervalMs = static_cast<int>(std::lround(cmdline::ParseDuration(
            "interval", *v, cmdline::BareUnit::Milliseconds, kMinIntervalMs, kMaxIntervalMs)));
    if (const auto v = args.Get("max-failures"))
        poll.maxFailures = cmdline::ParseInteger("max-failures", *v, 1, 1'000'000'000);
    poll.wait = args.Has("wait");
    return poll;
}

PollTarget ReadPollTarget(const Arguments& args)
{
    PollTarget target{PortText(args), AskedSpeed(args), std::nullopt};
    if (args.Has("id") && !args.Has("speed"))
        throw UsageError("--id needs --speed");
    if (const auto id = args.Get("id"))
        target.id = static_cast<Byte>(cmdline::ParseID("id", *id));
    return target;
}

std::unique_ptr<platform::TerminationSignals> WatchTerminationSignals()
{
    try {
        return std::make_unique<platform::TerminationSignals>();
    } catch (const std::system_error& e) {
        throw Failure(kExitNoAnswer, e.what());
    }
}

}  // namespace zub3::cli
