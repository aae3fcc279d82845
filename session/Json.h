// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace zub3::cli {

// text as a JSON string, quotes included: quotes, backslashes and control characters
// escaped, everything else (UTF-8 among it) as it is.
std::string JsonString(std::string_view text);

}  // namespace zub3::cli
