// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The four commands of zub3ctl. Each returns the exit status or throws Failure.

#include "cli/Options.h"
#include "cli/PollLoop.h"

namespace zub3::cli {

int Ports(const Arguments& args);
int Read(const Arguments& args);
int Write(const Arguments& args);
int Monitor(const Arguments& args);

// --interval, --max-failures and --wait, as monitor reads them, for the commands that poll.
PollSettings ReadPollSettings(const Arguments& args);

}  // namespace zub3::cli
