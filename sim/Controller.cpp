// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Controller.h"

#include <algorithm>
#include <cctype>

namespace zub3::sim {
namespace {

constexpr std::chrono::milliseconds kDemoButtonStep{400};
constexpr std::chrono::milliseconds kDemoChannelStep{16};

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<std::uint16_t> ButtonBit(std::string_view name)
{
    for (const auto& b : kButtons)
        if (equalsIgnoringCase(name, b.name) || name == b.symbol)
            return b.bit;
    return std::nullopt;
}

std::string ButtonNames(std::uint16_t word)
{
    std::string out;
    for (const auto& b : kButtons)
        if (word & b.bit) {
            if (!out.empty())
                out += ' ';
            out += b.symbol;
        }
    return out.empty() ? "none" : out;
}

ControllerState DemoStateAt(std::chrono::milliseconds t)
{
    ControllerState s;
    constexpr auto patterns = static_cast<long>(kButtons.size() + kDiagonals.size());
    const long step = (t / kDemoButtonStep) % patterns;
    s.buttons = step < static_cast<long>(kButtons.size())
                    ? kButtons[static_cast<std::size_t>(step)].bit
                    : kDiagonals[static_cast<std::size_t>(step) - kButtons.size()];

    // A triangle wave 0..127..0, each channel a quarter period behind the one before.
    constexpr long period = 2 * kChannelMax;
    for (int i = 0; i < kChannelCount; ++i) {
        const long phase = (t / kDemoChannelStep + i * period / kChannelCount) % period;
        s.channels[static_cast<std::size_t>(i)] =
            static_cast<Byte>(phase <= kChannelMax ? phase : period - phase);
    }
    return s;
}

}  // namespace zub3::sim
