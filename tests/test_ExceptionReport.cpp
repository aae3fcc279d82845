// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ExceptionReport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

// Without message boxes linked in, an uncaught exception is a line on standard error; a
// program can install its own report, and the guard lets nothing through.
TEST(ExceptionReport, GuardHandsExceptionsToTheInstalledReportOrStandardError)
{
    testing::internal::CaptureStderr();
    RunGuarded([] { throw std::runtime_error("Can not open port."); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can not open port.\n");

    std::vector<std::string> seen;
    const ExceptionReport previous =
        SetExceptionReport([&](const std::exception& e) { seen.emplace_back(e.what()); });
    EXPECT_FALSE(previous);
    bool after = false;
    RunGuarded([] { throw std::logic_error("first"); });
    RunGuarded([&] { after = true; });
    EXPECT_TRUE(after);
    EXPECT_EQ(seen, std::vector<std::string>{"first"});
    EXPECT_TRUE(SetExceptionReport(previous));
}
