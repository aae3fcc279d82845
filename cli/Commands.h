// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The commands of zub3ctl that need no service. Each returns the exit status or throws Failure.

#include "cli/Options.h"
#include "session/PollOptions.h"

#include <memory>

namespace zub3::cli {

int Ports(const Arguments& args);
int Read(const Arguments& args);
int Write(const Arguments& args);
int Monitor(const Arguments& args);

}  // namespace zub3::cli
