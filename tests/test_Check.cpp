// SPDX-License-Identifier: GPL-3.0-or-later
// zub3ctl check as a production line runs it, against a virtual receiver in this process
// whose controller the test moves poll by poll: the verdict, its reasons and the exit
// status for a good controller, a stuck button, a channel short of its ends and a noisy
// rest, and the report's file.
#include "sim/VirtualReceiver.h"
#include "support/Program.h"
#include "support/Wait.h"

#include "Version.h"
#include "core/ControllerCheck.h"
#include "platform/SerialRegistry.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>

using namespace std::chrono_literals;
using zub3::sim::ControllerState;

namespace {

struct BenchSession {
    const char* name;
    std::uint16_t stuck;      // held all along
    int pa3Reach;             // how far PA3 stays short of each end
    std::vector<int> jitter;  // PA1 at rest, poll by poll
    int status;
    std::vector<std::string> reasons;  // "code subject"
};

void PrintTo(const BenchSession& s, std::ostream* os)
{
    *os << s.name;
}

class CheckCommand : public ::testing::TestWithParam<BenchSession> {
protected:
    CheckCommand()
    {
        platform::registry::WriteEntry("zub3sim", platform::registry::ValueType::String, "COM9",
                                       receiver_.SlavePath());
    }

    // The controller in this state until the check has had a reply with it.
    void hold(ControllerState state)
    {
        receiver_.SetState(state);
        const auto polls = receiver_.GetCounters().polls;
        ASSERT_TRUE(WaitUntil([&] { return receiver_.GetCounters().polls >= polls + 2; }));
    }

    ControllerState at(std::uint16_t buttons, std::array<int, 4> channels) const
    {
        ControllerState s{static_cast<std::uint16_t>(buttons | GetParam().stuck), {}};
        for (std::size_t c = 0; c < 4; ++c)
            s.channels[c] = static_cast<zub3::Byte>(channels[c]);
        return s;
    }

    zub3::sim::VirtualReceiver receiver_{{}};
};

QJsonObject readJson(const QString& file)
{
    std::ifstream in(file.toStdString());
    return QJsonDocument::fromJson(
               QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {})))
        .object();
}

TEST_P(CheckCommand, VerdictReasonsAndReport)
{
    const BenchSession& s = GetParam();
    QTemporaryDir dir;
    const QString report = dir.filePath("unit-17.json");
    Program check(ZUB3CTL_PATH, {"check", "--port", "COM9", "--timeout", "60", "--report",
                                 report.toStdString()});
    ASSERT_NE(check.ErrorLine(), "");  // the receiver is found: the check has begun
    const std::array<int, 4> rest{64, 64, 64, 64};
    for (int i = 0; i < zub3::kIndicatorCount; ++i) {
        hold(at(zub3::IndicatorMask(i), rest));
        hold(at(0, rest));
    }
    for (std::size_t c = 0; c < 4; ++c) {
        const int reach = c == 2 ? s.pa3Reach : 0;
        std::array<int, 4> v = rest;
        hold(at(0, (v[c] = reach, v)));
        hold(at(0, (v[c] = 127 - reach, v)));
    }
    // Let go: a good or noisy controller ends the check by itself after a second at rest;
    // the others are stopped, as a person at the bench would, once they have rested as long.
    const auto letGo = std::chrono::steady_clock::now();
    for (std::size_t i = 0; std::chrono::steady_clock::now() - letGo < 1500ms; ++i) {
        std::array<int, 4> v = rest;
        v[0] += s.jitter[i % s.jitter.size()];
        receiver_.SetState(at(0, v));
        const auto polls = receiver_.GetCounters().polls;
        if (!WaitUntil([&] { return receiver_.GetCounters().polls > polls; }, 2s))
            break;  // the check has ended
    }
    check.Signal(SIGINT);
    EXPECT_EQ(check.Wait(), s.status) << check.Errors();
    EXPECT_EQ(check.Output(), "");
    EXPECT_NE(check.Errors().find("\n  seen cross+circle (20/20)\n"), std::string::npos)
        << check.Errors();
    EXPECT_NE(check.Errors().find(s.status == 0 ? "\nPASS\n" : "\nFAIL\n"), std::string::npos);

    const QJsonObject o = readJson(report);
    EXPECT_EQ(o["verdict"].toString(), s.status == 0 ? "PASS" : "FAIL");
    EXPECT_EQ(o["tool"].toString(), "zub3ctl");
    EXPECT_EQ(o["version"].toString(), zub3::kVersion);
    EXPECT_EQ(o["port"].toString(), "COM9");
    EXPECT_EQ(o["receiver"].toObject()["id"].toInt(), 0);
    EXPECT_EQ(o["receiver"].toObject()["speed"].toInt(), 115200);
    std::vector<std::string> reasons;
    for (const auto& reason : o["reasons"].toArray())
        reasons.push_back((reason.toObject()["code"].toString() + " " +
                           reason.toObject()["subject"].toString())
                              .toStdString());
    EXPECT_EQ(reasons, s.reasons);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, CheckCommand,
    ::testing::Values(
        BenchSession{"good_controller", 0, 0, {0}, 0, {}},
        BenchSession{"stuck_button", 0x0400, 0, {0}, 1, {"held-at-end S2"}},
        BenchSession{"channel_short_of_its_ends", 0, 20, {0}, 1,
                     {"low-end PA3", "high-end PA3"}},
        BenchSession{"noisy_rest", 0, 0, {-4, 0, 4, 0}, 1,
                     {"noisy-sd PA1", "noisy-peak-to-peak PA1"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckCommandRun, NoOneAtTheBenchFailsWhenTimeIsUp)
{
    zub3::sim::VirtualReceiver receiver({});
    platform::registry::WriteEntry("zub3sim", platform::registry::ValueType::String, "COM9",
                                   receiver.SlavePath());
    receiver.SetState({0, {64, 64, 64, 64}});
    Program check(ZUB3CTL_PATH, {"check", "--port", "COM9", "--timeout", "1.5s", "-q"});
    EXPECT_EQ(check.Wait(), 1);
    EXPECT_EQ(check.Errors(), "");
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(check.Output())).object();
    EXPECT_EQ(o["verdict"].toString(), "FAIL");
    int notSeen = 0;
    for (const auto& reason : o["reasons"].toArray())
        notSeen += reason.toObject()["code"].toString() == "not-seen";
    EXPECT_EQ(notSeen, zub3::kIndicatorCount);
    EXPECT_GE(o["duration_s"].toDouble(), 1.0);
}

TEST(CheckCommandRun, AReportThatCannotBeWrittenIsSaidBeforeThePortIsOpened)
{
    Program check(ZUB3CTL_PATH, {"check", "--port", "COM99", "--report", "/nonexistent/r.json"});
    EXPECT_EQ(check.Wait(), 1);
    EXPECT_EQ(check.Errors(),
              "zub3ctl: cannot write the report to /nonexistent/r.json: No such file or directory\n");
}

}  // namespace
