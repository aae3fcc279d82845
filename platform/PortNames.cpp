// SPDX-License-Identifier: GPL-3.0-or-later
// The reading of a "COMn" name, the same on every system.
#include "platform/SerialRegistry.h"

#include <algorithm>
#include <charconv>

namespace platform::registry {

int PortNumber(std::string_view portName)
{
    if (portName.size() < 4 || portName.compare(0, 3, "COM") != 0)
        return -1;
    const std::string_view digits = portName.substr(3);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    int n = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return n;
}

}  // namespace platform::registry
