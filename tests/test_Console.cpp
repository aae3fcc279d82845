// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Console.h"

#include <gtest/gtest.h>

using namespace zub3::sim;

namespace {

class ConsoleTest : public ::testing::Test {
protected:
    VirtualReceiver rx{VirtualReceiver::Config{}};
    Console console{rx, false};

    std::string run(std::string_view line) { return console.Run(line).output; }
};

}  // namespace

TEST_F(ConsoleTest, PressAndReleaseByNameOrSymbol)
{
    EXPECT_EQ(run("press up right"), "buttons: ↑ → (0x0005)\n");
    run("press △ s1");
    EXPECT_EQ(rx.State().buttons, 0x0215);
    run("release →");
    EXPECT_EQ(rx.State().buttons, 0x0211);
    run("release all");
    EXPECT_EQ(rx.State().buttons, 0);

    // A bad name changes nothing, not even the good names beside it.
    EXPECT_EQ(run("press up bogus"), "no button named 'bogus'; type help\n");
    EXPECT_EQ(run("press"), "press: name the buttons, e.g. press up\n");
    EXPECT_EQ(rx.State().buttons, 0);
}

TEST_F(ConsoleTest, WordAndChannels)
{
    run("word 0x1234");
    EXPECT_EQ(rx.State().buttons, 0x1234);
    run("word 4660");
    EXPECT_EQ(rx.State().buttons, 4660);
    for (const char* bad : {"word 0x10000", "word -1", "word 0x", "word 12ab", "word"})
        EXPECT_NE(run(bad).find("word: give one value"), std::string::npos) << bad;
    EXPECT_EQ(rx.State().buttons, 4660);

    EXPECT_EQ(run("channel 1 64"), "PA1 = 64\n");
    run("channel 4 127");
    EXPECT_EQ(rx.State().channels, (std::array<zub3::Byte, 4>{64, 0, 0, 127}));
    for (const char* bad :
         {"channel 0 1", "channel 5 1", "channel 1 128", "channel 1", "channel 1 x"})
        EXPECT_NE(run(bad).find("channel: give"), std::string::npos) << bad;
    EXPECT_EQ(rx.State().channels, (std::array<zub3::Byte, 4>{64, 0, 0, 127}));
}

TEST_F(ConsoleTest, SettingTheControllerByHandStopsTheDemo)
{
    EXPECT_EQ(run("demo on"), "demo on\n");
    EXPECT_TRUE(console.Demo());
    run("press up");
    EXPECT_FALSE(console.Demo());
    run("demo on");
    run("channel 2 5");
    EXPECT_FALSE(console.Demo());
    EXPECT_EQ(run("demo maybe"), "demo: on or off\n");
}

TEST_F(ConsoleTest, FaultsOnAndOff)
{
    EXPECT_EQ(run("fault short 5"), "faults: short=5\n");
    EXPECT_EQ(run("fault delay"), "faults: short=5, delay=700\n");
    run("fault noise 2");
    run("fault any-speed");
    const Faults f = rx.GetFaults();
    EXPECT_EQ(f.shortReply, 5);
    EXPECT_EQ(f.delay, kDefaultFaultDelay);
    EXPECT_EQ(f.noise, 2);
    EXPECT_TRUE(f.anySpeed);
    EXPECT_FALSE(f.noReply || f.badChecksum || f.badHeader);

    EXPECT_EQ(run("fault short"), "fault short: needs a value\n");
    EXPECT_EQ(run("fault no-reply 3"), "fault no-reply: takes no value\n");
    EXPECT_EQ(run("fault noise 0"), "fault noise: '0' is not a number from 1 to 255\n");
    EXPECT_EQ(run("fault loud"), "fault loud: no such fault\n");
    EXPECT_EQ(rx.GetFaults(), f);

    EXPECT_EQ(run("fault off"), "faults: none\n");
    EXPECT_EQ(rx.GetFaults(), Faults{});
}

TEST_F(ConsoleTest, StatusHelpQuit)
{
    run("word 0x0201");
    const std::string status = run("status");
    EXPECT_NE(status.find("ID 0, 115200 bit/s on " + rx.SlavePath()), std::string::npos);
    EXPECT_NE(status.find("buttons: S1 ↑ (0x0201)"), std::string::npos);
    EXPECT_NE(status.find("faults: none"), std::string::npos);
    EXPECT_NE(run("help").find("press NAME"), std::string::npos);
    EXPECT_EQ(run("jump"), "unknown command 'jump'; type help\n");
    EXPECT_EQ(run("   "), "");
    EXPECT_FALSE(console.Run("status").quit);
    EXPECT_TRUE(console.Run("quit").quit);
}
