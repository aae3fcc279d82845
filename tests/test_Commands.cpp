// SPDX-License-Identifier: GPL-3.0-or-later
// zub3ctl's commands run in this process, where the fake serial device can stand in for a
// port that refuses a line speed, and where a test can end a receiver in the middle of a
// command: what the commands then say and the status they end with.

#include "cli/Commands.h"

#include "platform/SerialRegistry.h"
#include "support/FakeComm.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace zub3::cli;

namespace {

struct Outcome {
    int status = 0;
    std::string message;  // the Failure's line, "" when none
    std::string errors;   // what went to standard error before it
};

Outcome run(const std::vector<std::string>& commandLine)
{
    const std::string& name = commandLine.front();
    const std::vector<std::string> rest(commandLine.begin() + 1, commandLine.end());
    const Arguments args = zub3::cmdline::Parse(rest, FindCommand(name)->options);
    testing::internal::CaptureStderr();
    Outcome o;
    try {
        o.status = name == "read" ? Read(args) : name == "write" ? Write(args) : Monitor(args);
    } catch (const Failure& f) {
        o.status = f.Status();
        o.message = f.what();
    }
    o.errors = testing::internal::GetCapturedStderr();
    return o;
}

}  // namespace

// A port whose driver cannot make 625000 bit/s, as a 16550 UART cannot: the speed is named
// as the reason, a search goes on without it, and a command bound to it ends with status 3
// before anything is sent.
TEST(Commands, ASpeedThePortCannotRunIsNamedAndSkipped)
{
    TempRegistry registry;
    PtyPair node;  // the device node the port lists; the fake device stands in for it
    platform::registry::WriteEntry("uart", platform::registry::ValueType::String, "COM60",
                                   node.SlavePath());
    platform::win::FakeComm uart(60);
    uart.RefuseState([](const platform::win::DCB& d) { return d.BaudRate == 625000; });
    const std::string cannot = "COM60: " + node.SlavePath() + " cannot run at 625000 bit/s";

    const Outcome search = run({"read", "--port", "COM60"});
    EXPECT_EQ(search.status, 1);
    EXPECT_EQ(search.message, "COM60: no receiver answered at 115200 or 1250000 bit/s");
    EXPECT_EQ(search.errors, "zub3ctl: " + cannot + "; skipped\n");

    const std::vector<std::vector<std::string>> bound{
        {"read", "--port", "COM60", "--speed", "625000"},
        {"monitor", "--port", "COM60", "--speed", "625000", "--id", "3", "--count", "1"},
        {"write", "--port", "COM60", "--id", "3", "--speed", "625000"},
        {"write", "--port", "COM60", "--id", "3", "--speed", "115200", "--from-id", "2",
         "--from-speed", "625000"},
    };
    const auto writtenBefore = uart.Written().size();
    for (const auto& commandLine : bound) {
        SCOPED_TRACE(::testing::PrintToString(commandLine));
        const Outcome o = run(commandLine);
        EXPECT_EQ(o.status, 3);
        EXPECT_EQ(o.message, cannot);
    }
    EXPECT_EQ(uart.Written().size(), writtenBefore);
}

// A virtual receiver that ends during a search takes its registration and its device
// with it; the command names the device it had, in one line.
TEST(Commands, AReceiverEndingDuringASearchIsReportedByItsDevice)
{
    TempRegistry registry;
    PtyPair far;
    auto registration = std::make_unique<platform::registry::Registration>(7, far.SlavePath(), "sim");
    std::thread receiver([&] {
        far.Read(4, 5000ms);  // the first ID query
        registration.reset();
        far.CloseMaster();
    });
    const Outcome o = run({"read", "--port", "COM7"});
    receiver.join();
    EXPECT_EQ(o.status, 3);
    EXPECT_EQ(o.message, "COM7: " + far.SlavePath() +
                             " is no longer there: plug the adapter in again or choose another "
                             "port.");
}
