// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// zub3ctl check: the bench check of a controller, for a production line. It asks on
// standard error for every button, diagonal and channel end, ticks off what it sees, and
// writes the JSON report; the exit status is the verdict.

#include "cli/Options.h"

namespace zub3::cli {

int Check(const Arguments& args);

}  // namespace zub3::cli
