// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The options every command that polls reads alike (monitor, serve, check): which port and
// receiver, how often, how many failures, whether to wait for the port. Each command reads
// its own options besides; none reads another's.

#include "session/Failure.h"
#include "session/PollLoop.h"

#include <memory>

namespace platform {
class TerminationSignals;
}

namespace zub3::cli {

// From a reply to the next poll, as the window allows it.
inline constexpr double kMinIntervalMs = 5;
inline constexpr double kMaxIntervalMs = 500;

// --interval, --max-failures and --wait.
PollSettings ReadPollSettings(const Arguments& args);
// --port (or $ZUB3_PORT), --speed and --id.
PollTarget ReadPollTarget(const Arguments& args);

// A signal becomes a readable byte for the event loop, and a flag for the search for the
// receiver, which runs before that loop.
std::unique_ptr<platform::TerminationSignals> WatchTerminationSignals();

}  // namespace zub3::cli
