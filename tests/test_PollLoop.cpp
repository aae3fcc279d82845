// SPDX-License-Identifier: GPL-3.0-or-later
// The poll loop of zub3ctl against a virtual receiver in this process: when the next poll
// comes, measured from the records' own times.

#include "session/PollLoop.h"

#include "platform/TerminationSignals.h"
#include "sim/VirtualReceiver.h"
#include "support/TempRegistry.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace zub3::cli;

// What the owner does with a record (serve's fan-out to its clients) runs while the next
// poll's interval already runs: a hand-on that takes most of an interval does not lengthen
// the period by its own length.
TEST(PollLoop, TheIntervalRunsFromTheReplyNotFromTheEndOfTheHandOn)
{
    constexpr int kIntervalMs = 100;
    constexpr auto kHandOn = 80ms;
    constexpr std::size_t kRecords = 6;
    TempRegistry registry;
    zub3::sim::VirtualReceiver::Config config;
    config.bitRate = 115200;
    zub3::sim::VirtualReceiver receiver(config);
    PollSettings settings;
    settings.intervalMs = kIntervalMs;
    platform::TerminationSignals stopSignals;
    std::vector<double> times;
    PollRun* run = nullptr;
    PollLoop loop({receiver.SlavePath(), zub3::kLineSpeeds[0], zub3::Byte{0}},
                  settings,
                  {[&](const zub3::Record& r, const zub3::PollExchange&) {
                       times.push_back(r.tMs);
                       // The owner's work, standing in for hundreds of clients.
                       std::this_thread::sleep_for(kHandOn);
                       if (times.size() == kRecords)
                           run->End(kExitDone);
                   },
                   [](long long) {},
                   [&](int status, const std::string& error) { run->End(status, error); },
                   {}});
    PollRun polling(loop, stopSignals);
    run = &polling;
    ASSERT_TRUE(loop.Start());
    polling.Exec();
    ASSERT_EQ(polling.Result(), kExitDone);
    ASSERT_EQ(times.size(), kRecords);
    const double mean = (times.back() - times.front()) / (kRecords - 1);
    // Were the hand-on added, every period would be 180 ms and more; the margin left is for
    // a loaded machine.
    const double handOnMs = std::chrono::duration<double, std::milli>(kHandOn).count();
    EXPECT_LT(mean, kIntervalMs + 0.5 * handOnMs);
    EXPECT_GE(mean, kIntervalMs);
}
