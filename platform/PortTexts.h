// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a port that cannot be had says to the user, in the window's two languages; zub3ctl
// takes the English one.

#include "platform/PortAccess.h"

#include <string>

namespace platform::ports {

enum class Language { Japanese, English };
// One line naming the device and what to do about it; "" for Access::Free. English lines
// end with a full stop, Japanese ones with no closing mark.
std::string Explain(const PortAccess& access, Language language);

}  // namespace platform::ports
