// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// zub3ctl serve: the receiver shared with browsers, programs and an MQTT broker.

#include "session/Failure.h"

namespace zub3::cli {

int Serve(const Arguments& args);

}  // namespace zub3::cli
