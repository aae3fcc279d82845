// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Changes.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zub3;
using namespace zub3::cli;

namespace {

struct Step {
    double tMs;
    std::uint16_t buttons;
    bool forced;
    bool passes;
};

struct Case {
    const char* name;
    std::optional<double> heartbeatMs;
    std::vector<Step> steps;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class ChangeFilterTest : public ::testing::TestWithParam<Case> {};

TEST_P(ChangeFilterTest, PassesWhatTheReaderAskedFor)
{
    ChangeFilter filter(GetParam().heartbeatMs);
    for (const Step& s : GetParam().steps) {
        SCOPED_TRACE("at " + std::to_string(s.tMs) + " ms");
        EXPECT_EQ(filter.Pass(Record{s.tMs, "T", {s.buttons, {}}, {}, {}}, s.forced), s.passes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangeFilterTest,
    ::testing::Values(
        Case{"every_record_without_a_heartbeat", std::nullopt,
             {{0, 1, false, true}, {10, 1, false, true}, {20, 1, false, true}}},
        Case{"a_still_controller_once_a_heartbeat", 1000,
             {{0, 0, false, true}, {10, 0, false, false}, {999, 0, false, false},
              {1000, 0, false, true}, {1010, 0, false, false}}},
        // The heartbeat counts from the record passed last, a change among them.
        Case{"a_change_at_once_and_the_heartbeat_from_it", 1000,
             {{0, 0, false, true}, {500, 4, false, true}, {1200, 4, false, false},
              {1500, 4, false, true}, {1510, 0, false, true}}},
        // A forced record (a link that changed) goes, and the heartbeat starts again from it.
        Case{"a_forced_record_goes_and_restarts_the_heartbeat", 1000,
             {{0, 0, false, true}, {300, 0, true, true}, {1100, 0, false, false},
              {1300, 0, false, true}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
