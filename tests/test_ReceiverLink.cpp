// SPDX-License-Identifier: GPL-3.0-or-later
// A poll as the front ends pass it on: stamped when sent, with the reply's data or the
// reason there is none, against the virtual receiver and its faults.

#include "core/ReceiverLink.h"
#include "core/Records.h"
#include "sim/VirtualReceiver.h"
#include "support/QuickCommX.h"
#include "support/TempRegistry.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <chrono>

using namespace zub3;
using zub3::sim::Faults;

TEST(ReceiverLink, APollResultCarriesItsTimeAndItsDataOrWhyNot)
{
    TempRegistry registry;
    sim::VirtualReceiver::Config config;
    config.id = 4;
    sim::VirtualReceiver receiver(config);
    receiver.SetChannel(2, 200);
    platform::registry::WriteEntry("zub3sim", platform::registry::ValueType::String, "COM9",
                                   receiver.SlavePath());
    QuickCommX port(nullptr);
    port.SetPortNo(9);
    SetReceiverLine(port);
    port.SetTimeOutReceive(100);  // a missed reply costs no more than that
    port.Open();

    const struct {
        const char* what;
        Faults faults;
        PollFault fault;
    } cases[] = {
        {"a good reply", {}, PollFault::None},
        {"a bad checksum", {.badChecksum = true}, PollFault::Checksum},
        {"a wrong header", {.badHeader = true}, PollFault::Header},
        {"a short reply", {.shortReply = 10}, PollFault::Short},
        {"no reply", {.noReply = true}, PollFault::Missed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        receiver.SetFaults(c.faults);
        const auto before = std::chrono::steady_clock::now();
        const qint64 wallBefore = QDateTime::currentMSecsSinceEpoch();
        PollResult result;
        result.fault = PollFault::Short;  // whatever it held before is replaced
        const PollExchange exchange = Poll(port, 4, result);
        EXPECT_GE(result.sent, before);
        EXPECT_LE(result.sent, std::chrono::steady_clock::now());
        EXPECT_GE(result.sentWallMs, wallBefore);
        EXPECT_EQ(result.fault, c.fault);
        EXPECT_EQ(result.fault, exchange.fault);
        ASSERT_EQ(result.data.has_value(), c.fault == PollFault::None);
        if (result.data) {
            EXPECT_EQ(result.data->channels[2], 200);
        }
    }
    port.Close();
}
