// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The hand-held controller as the virtual receiver sees it: the button word, the four
// analogue channels, the buttons' names, and the demo animation.

#include "core/Protocol.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zub3::sim {

struct ControllerState {
    std::uint16_t buttons = 0;
    std::array<Byte, 4> channels{};  // PA1..PA4
    bool operator==(const ControllerState&) const = default;
};

inline constexpr int kChannelCount = 4;
inline constexpr int kChannelMax = 127;

// The bit of a button by its name ("S1", "up", "triangle" ...) or symbol ("↑", "△" ...);
// ASCII names in any case.
std::optional<std::uint16_t> ButtonBit(std::string_view name);

// The names of the buttons held in a word, in the order S1..S4, pads; "none" when empty.
std::string ButtonNames(std::uint16_t word);

// The demo at time t since it started: each button in turn, then each diagonal, while the
// channels sweep up and down out of phase.
ControllerState DemoStateAt(std::chrono::milliseconds t);

}  // namespace zub3::sim
