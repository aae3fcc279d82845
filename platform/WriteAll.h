// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace platform {

// Writes all of text to a descriptor, through short writes and interruptions; false with
// errno set (EIO for a write that took nothing) when it could not.
bool WriteAll(int fd, std::string_view text);

}  // namespace platform
