// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The four commands of zub3ctl. Each returns the exit status or throws Failure.

#include "cli/Options.h"
#include "cli/PollLoop.h"

#include <memory>

namespace zub3::cli {

int Ports(const Arguments& args);
int Read(const Arguments& args);
int Write(const Arguments& args);
int Monitor(const Arguments& args);

// --interval, --max-failures and --wait, as monitor reads them, for the commands that poll.
PollSettings ReadPollSettings(const Arguments& args);
// --port (or $ZUB3_PORT), --speed and --id, as monitor reads them.
PollTarget ReadPollTarget(const Arguments& args);

// A signal becomes a readable byte for the event loop, and a flag for the search for the
// receiver, which runs before that loop.
std::unique_ptr<platform::TerminationSignals> WatchTerminationSignals();

}  // namespace zub3::cli
