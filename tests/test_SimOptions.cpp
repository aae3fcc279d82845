// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimOptions.h"

#include <gtest/gtest.h>

using namespace zub3::sim;
using namespace std::chrono_literals;

namespace {

SimOptions parse(std::vector<std::string> args) { return ParseOptions(args); }

std::string errorOf(std::vector<std::string> args)
{
    try {
        ParseOptions(args);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

}  // namespace

TEST(SimOptions, DefaultsAndTheWaysToGiveAValue)
{
    const SimOptions none = parse({});
    EXPECT_FALSE(none.id);
    EXPECT_FALSE(none.bitRate);
    EXPECT_EQ(none.port, 0);
    EXPECT_FALSE(none.demo);
    EXPECT_EQ(none.faults, Faults{});

    EXPECT_EQ(parse({"--id=5"}).id, 5);
    EXPECT_EQ(parse({"--id", "31"}).id, 31);
    EXPECT_EQ(parse({"-i", "0"}).id, 0);
    EXPECT_EQ(parse({"-i7"}).id, 7);

    const SimOptions o = parse({"-s", "1250000", "-p", "60", "--state=/tmp/s", "--registry-dir",
                                "/tmp/r", "-d", "--turnaround=15"});
    EXPECT_EQ(o.bitRate, 1250000);
    EXPECT_EQ(o.port, 60);
    EXPECT_EQ(o.stateFile, "/tmp/s");
    EXPECT_EQ(o.registryDir, "/tmp/r");
    EXPECT_TRUE(o.demo);
    EXPECT_EQ(o.turnaround, 15ms);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"-h"}).help);

    // Shortened names, bundled flags and times with units, as zub3ctl takes them.
    const SimOptions short_ = parse({"-dh", "--turn", "0.02s", "--fault-del=1.5s", "--reg=/r"});
    EXPECT_TRUE(short_.demo && short_.help);
    EXPECT_EQ(short_.turnaround, 20ms);
    EXPECT_EQ(short_.faults.delay, 1500ms);
    EXPECT_EQ(short_.registryDir, "/r");
}

TEST(SimOptions, FaultOptions)
{
    const Faults f = parse({"--fault-no-reply", "--fault-short", "7", "--fault-bad-checksum",
                            "--fault-bad-header", "--fault-noise", "--fault-delay=900",
                            "--fault-any-speed"})
                         .faults;
    EXPECT_TRUE(f.noReply && f.badChecksum && f.badHeader && f.anySpeed);
    EXPECT_EQ(f.shortReply, 7);
    EXPECT_EQ(f.noise, kDefaultNoise);
    EXPECT_EQ(f.delay, 900ms);
    EXPECT_EQ(parse({"--fault-delay"}).faults.delay, kDefaultFaultDelay);
    EXPECT_EQ(parse({"--fault-noise=9"}).faults.noise, 9);
}

TEST(SimOptions, BadOptionsAreNamed)
{
    EXPECT_EQ(errorOf({"--id=32"}), "--id: '32' is not a number from 0 to 31");
    EXPECT_EQ(errorOf({"--id", "x"}), "--id: 'x' is not a number from 0 to 31");
    EXPECT_EQ(errorOf({"--id"}), "--id: needs a value");
    EXPECT_EQ(errorOf({"-s", "9600"}), "--speed: '9600' is not 115200, 625000 or 1250000");
    EXPECT_EQ(errorOf({"--port=0"}), "--port: '0' is not a number from 1 to 255");
    EXPECT_EQ(errorOf({"--demo=yes"}), "--demo: takes no value");
    EXPECT_EQ(errorOf({"-dx"}), "unknown option '-x'");
    EXPECT_EQ(errorOf({"--fault-b"}),
              "ambiguous option '--fault-b': --fault-bad-checksum or --fault-bad-header");
    EXPECT_EQ(errorOf({"--colour"}), "unknown option '--colour'");
    EXPECT_EQ(errorOf({"-x"}), "unknown option '-x'");
    EXPECT_EQ(errorOf({"COM3"}), "unexpected argument 'COM3'");
    EXPECT_EQ(errorOf({"--fault-short"}), "--fault-short: needs a value");
    EXPECT_EQ(errorOf({"--fault-short=300"}), "--fault-short: '300' is not a number from 0 to 255");
    EXPECT_EQ(errorOf({"--fault-no-reply=1"}), "--fault-no-reply: takes no value");
    EXPECT_EQ(errorOf({"--fault-delay", "800"}), "unexpected argument '800'");
    EXPECT_EQ(errorOf({"--turnaround=-1"}),
              "--turnaround: '-1' is not a time such as 10, 500ms, 0.01s, 2m or 1h");
    EXPECT_EQ(errorOf({"--turnaround=2m"}), "--turnaround: '2m' is not a time from 0ms to 1m");
    EXPECT_EQ(errorOf({"--fault-delay=soon"}),
              "--fault-delay: 'soon' is not a time from 0 to 60000 ms, such as 700, 700ms or 0.7s");
}

TEST(SimOptions, ReplayAndItsLoop)
{
    const SimOptions o = parse({"--replay", "/tmp/session.csv", "--loop"});
    EXPECT_EQ(o.replay, "/tmp/session.csv");
    EXPECT_TRUE(o.loop);
    EXPECT_FALSE(parse({"--replay=/tmp/s.jsonl"}).loop);
    EXPECT_EQ(errorOf({"--loop"}), "--loop: give --replay with it");
    EXPECT_EQ(errorOf({"--demo", "--replay=/tmp/s.csv"}), "--demo and --replay: choose one");
    EXPECT_TRUE(parse({"--version"}).version);
}

// Where --listen listens: a host (an IPv6 one in brackets) and a port, 0 for any free one.
TEST(SimOptions, ListenAddresses)
{
    const struct {
        const char* given;
        const char* host;  // nullptr: refused
        const char* port;
    } rows[] = {
        {"127.0.0.1:7000", "127.0.0.1", "7000"},
        {"localhost:0", "localhost", "0"},
        {"[::1]:65535", "::1", "65535"},
        {"7000", nullptr, nullptr},
        {":7000", nullptr, nullptr},
        {"::1:7000", nullptr, nullptr},
        {"[::1:7000", nullptr, nullptr},
        {"host:", nullptr, nullptr},
        {"host:65536", nullptr, nullptr},
        {"host:70x", nullptr, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.given);
        if (!row.host) {
            EXPECT_EQ(errorOf({"--listen", row.given}).rfind("--listen: '", 0), 0u);
            continue;
        }
        const SimOptions o = parse({"--listen", row.given});
        ASSERT_TRUE(o.listen);
        EXPECT_EQ(o.listen->host, row.host);
        EXPECT_EQ(o.listen->port, row.port);
    }
    EXPECT_FALSE(parse({}).listen);
}
