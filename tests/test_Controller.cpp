// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace zub3::sim;
using namespace std::chrono_literals;

TEST(Controller, ButtonsByNameAndSymbol)
{
    const std::pair<const char*, std::uint16_t> names[] = {
        {"up", 0x0001},     {"↑", 0x0001},     {"down", 0x0002},   {"↓", 0x0002},
        {"right", 0x0004},  {"→", 0x0004},     {"left", 0x0008},   {"←", 0x0008},
        {"triangle", 0x0010}, {"△", 0x0010},   {"cross", 0x0020},  {"×", 0x0020},
        {"circle", 0x0040}, {"○", 0x0040},     {"square", 0x0100}, {"□", 0x0100},
        {"S1", 0x0200},     {"s2", 0x0400},    {"S3", 0x0800},     {"S4", 0x1000},
        {"UP", 0x0001},
    };
    for (const auto& [name, bit] : names)
        EXPECT_EQ(ButtonBit(name), bit) << name;
    EXPECT_FALSE(ButtonBit("S5"));
    EXPECT_FALSE(ButtonBit(""));
    EXPECT_FALSE(ButtonBit("upp"));

    EXPECT_EQ(ButtonNames(0x1234), "S1 S4 → △ ×");
    EXPECT_EQ(ButtonNames(0x0080), "none");  // no button sits on that bit
    EXPECT_EQ(ButtonNames(0), "none");
}

TEST(Controller, DemoShowsEveryButtonAndDiagonalAndSweepsTheChannels)
{
    std::vector<std::uint16_t> words;
    for (int step = 0; step < 20; ++step)
        words.push_back(DemoStateAt(step * 400ms + 200ms).buttons);
    const std::vector<std::uint16_t> expected{
        0x0200, 0x0400, 0x0800, 0x1000, 0x0001, 0x0002, 0x0004, 0x0008, 0x0010, 0x0020,
        0x0040, 0x0100, 0x0009, 0x000A, 0x0005, 0x0006, 0x0110, 0x0120, 0x0050, 0x0060};
    EXPECT_EQ(words, expected);
    EXPECT_EQ(DemoStateAt(20 * 400ms).buttons, 0x0200);  // and round again

    for (std::size_t ch = 0; ch < 4; ++ch) {
        std::set<int> seen;
        for (auto t = 0ms; t < 5000ms; t += 16ms)
            seen.insert(DemoStateAt(t).channels[ch]);
        EXPECT_EQ(*seen.begin(), 0) << ch;
        EXPECT_EQ(*seen.rbegin(), 127) << ch;
        EXPECT_EQ(seen.size(), 128u) << ch;  // a sweep, not a jump
    }
    const auto s = DemoStateAt(0ms);
    EXPECT_EQ(std::set<int>(s.channels.begin(), s.channels.end()).size(), 4u);
}
