// SPDX-License-Identifier: GPL-3.0-or-later
// The bench check's verdicts on sessions of polls: a good controller and each way one can
// fail, the limits that change a verdict, and what the JSON and HTML reports carry.
#include "core/ControllerCheck.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

using namespace zub3;
using namespace std::chrono_literals;
using K = CheckReason::Kind;

namespace {

const auto kStart = std::chrono::steady_clock::time_point{} + 1h;
constexpr std::int64_t kWallStart = 1'800'000'000'000;

// A controller on the bench, polled every 20 ms: what it does, and how it is broken.
struct Bench {
    std::uint16_t stuck = 0;   // always held
    std::uint16_t dead = 0;    // never seen
    std::array<int, 4> reach{0, 0, 0, 0};  // how near an end each channel gets, short of it
    std::array<int, 4> overshoot{};        // beyond 127
    std::array<int, 4> rest{64, 64, 64, 64};
    std::vector<int> jitter{0};            // added to PA1 at rest, poll by poll
    int restPolls = 60;
    std::vector<PollResult> polls;
    double tMs = 0;

    void poll(std::uint16_t buttons, std::array<int, 4> channels,
              PollFault fault = PollFault::None)
    {
        PollResult p{kStart + std::chrono::microseconds(static_cast<long long>(tMs * 1000)),
                     kWallStart + static_cast<std::int64_t>(tMs), std::nullopt, fault};
        if (fault == PollFault::None) {
            PollData d;
            d.buttons = static_cast<std::uint16_t>((buttons | stuck) & ~dead);
            for (std::size_t c = 0; c < 4; ++c)
                d.channels[c] = static_cast<Byte>(channels[c]);
            p.data = d;
        }
        polls.push_back(p);
        tMs += 20;
    }

    // Every indicator pressed for two polls, each channel to both ends, then let go.
    std::vector<PollResult> Session()
    {
        for (int i = 0; i < kIndicatorCount; ++i) {
            poll(IndicatorMask(i), rest);
            poll(IndicatorMask(i), rest);
            poll(0, rest);
        }
        for (std::size_t c = 0; c < 4; ++c) {
            std::array<int, 4> v = rest;
            for (int x = rest[c]; x >= reach[c]; x -= 8)
                poll(0, (v[c] = x, v));
            poll(0, (v[c] = reach[c], v));
            for (int x = reach[c]; x <= 127 - reach[c] + overshoot[c]; x += 8)
                poll(0, (v[c] = x, v));
            poll(0, (v[c] = 127 - reach[c] + overshoot[c], v));
        }
        for (int i = 0; i < restPolls; ++i) {
            std::array<int, 4> v = rest;
            v[0] += jitter[static_cast<std::size_t>(i) % jitter.size()];
            poll(0, v);
        }
        return polls;
    }
};

struct Expected {
    K kind;
    std::string subject;
};

struct Case {
    const char* name;
    std::function<void(Bench&)> make;
    bool pass;
    bool complete;  // the verdict could be given before the end
    std::vector<Expected> reasons;
    CheckLimits limits{};
};

class Verdict : public ::testing::TestWithParam<Case> {};

TEST_P(Verdict, NamesEveryReason)
{
    const Case& c = GetParam();
    Bench bench;
    c.make(bench);
    ControllerCheck check(c.limits);
    for (const PollResult& p : bench.Session())
        check.Add(p);
    const CheckReport report = check.Report();
    std::vector<std::pair<K, std::string>> got, want;
    for (const CheckReason& r : report.reasons)
        got.emplace_back(r.kind, r.subject);
    for (const Expected& e : c.reasons)
        want.emplace_back(e.kind, e.subject);
    EXPECT_EQ(got, want);
    EXPECT_EQ(report.pass, c.pass);
    EXPECT_EQ(check.Complete(), c.complete);
}

const Case kCases[] = {
    {"good", [](Bench&) {}, true, true, {}},
    {"stuck_button", [](Bench& b) { b.stuck = button::kS2; }, false, false,
     {{K::HeldAtEnd, "S2"}}},
    {"dead_button", [](Bench& b) { b.dead = button::kCircle; }, false, false,
     {{K::NotSeen, "circle"}, {K::NotSeen, "triangle+circle"}, {K::NotSeen, "cross+circle"}}},
    {"short_of_an_end", [](Bench& b) { b.reach[2] = 17; }, false, false,
     {{K::LowEnd, "PA3"}, {K::HighEnd, "PA3"}}},
    {"within_the_end_tolerance", [](Bench& b) { b.reach[2] = 5; }, true, true, {}},
    {"past_the_range", [](Bench& b) { b.overshoot[3] = 60; }, false, true,
     {{K::AboveRange, "PA4"}}},
    {"noisy_rest", [](Bench& b) { b.jitter = {-4, 0, 4, 0}; }, false, true,
     {{K::NoisySd, "PA1"}, {K::NoisyPeakToPeak, "PA1"}}},
    {"noisy_rest_within_wider_limits", [](Bench& b) { b.jitter = {-4, 0, 4, 0}; }, true, true,
     {}, {5, 6, 3.0, 8}},
    {"off_centre", [](Bench& b) { b.rest[1] = 75; }, false, true, {{K::OffCentre, "PA2"}}},
    {"ended_while_moving", [](Bench& b) { b.restPolls = 10; }, false, false,
     {{K::NotSettled, "PA3"}, {K::NotSettled, "PA4"}}},
    {"moving_at_rest", [](Bench& b) { b.jitter = {-20, 20}; }, false, false,
     {{K::NotSettled, "PA1"}}},
};

INSTANTIATE_TEST_SUITE_P(Sessions, Verdict, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ControllerCheck, CountsRejectedRepliesAndOnePollPressesWithoutFailing)
{
    Bench bench;
    bench.poll(button::kS1, bench.rest);  // a press the window may not have painted
    bench.poll(0, bench.rest);
    for (const PollFault f : {PollFault::Missed, PollFault::Short, PollFault::Header,
                              PollFault::Checksum, PollFault::Checksum})
        bench.poll(0, bench.rest, f);
    ControllerCheck check;
    for (const PollResult& p : bench.Session())
        check.Add(p);
    const CheckReport r = check.Report();
    EXPECT_TRUE(r.pass);
    EXPECT_EQ(r.byFault, (std::array<int, 5>{r.polls - 5, 1, 1, 1, 2}));
    EXPECT_EQ(r.indicators[0].presses, 2);
    EXPECT_EQ(r.indicators[0].onePollPresses, 1);
    EXPECT_EQ(r.indicators[1].onePollPresses, 0);
}

TEST(ControllerCheck, NothingAnsweredIsOneReason)
{
    ControllerCheck check;
    Bench bench;
    bench.poll(0, bench.rest, PollFault::Missed);
    check.Add(bench.polls[0]);
    const CheckReport r = check.Report();
    EXPECT_FALSE(r.pass);
    ASSERT_EQ(r.reasons.size(), 1u);
    EXPECT_EQ(r.reasons[0].kind, K::NoAnswer);
}

TEST(ControllerCheck, CompleteOnlyOnceLetGo)
{
    struct Row {
        const char* name;
        int restPolls;
        int pa4AtRest;
        bool complete;
    };
    const Row rows[] = {
        {"a second of rest", 51, 64, true},
        {"not yet a second", 49, 64, false},
        {"PA4 still held up", 80, 127, false},
        {"PA4 still held down", 80, 2, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.restPolls = row.restPolls;
        std::vector<PollResult> polls = bench.Session();
        for (auto it = polls.end() - row.restPolls; it != polls.end(); ++it)
            it->data->channels[3] = static_cast<Byte>(row.pa4AtRest);
        ControllerCheck check;
        for (const PollResult& p : polls)
            check.Add(p);
        EXPECT_EQ(check.Complete(), row.complete);
        EXPECT_EQ(check.SeenCount(), kIndicatorCount);
    }
}

TEST(ControllerCheck, LimitsOutsideTheirRangeAreRefused)
{
    struct Row {
        const char* name;
        CheckLimits limits;
        bool usable;
    };
    const Row rows[] = {
        {"defaults", {}, true},
        {"negative end", {-1, 6, 1.0, 3}, false},
        {"end beyond half the range", {64, 6, 1.0, 3}, false},
        {"noise sd not a number", {5, 6, std::nan(""), 3}, false},
        {"peak to peak above a moving stick", {5, 6, 1.0, 17}, false},
        {"zero everywhere", {0, 0, 0, 0}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CheckLimitsFault(row.limits).empty(), row.usable) << CheckLimitsFault(row.limits);
    }
}

TEST(ControllerCheck, ReportsNameTheToolReceiverAndEveryResult)
{
    Bench bench;
    bench.dead = button::kS4;
    bench.jitter = {-4, 0, 4, 0};
    ControllerCheck check;
    for (const PollResult& p : bench.Session())
        check.Add(p);
    const CheckReport report = check.Report();
    const CheckContext context{"zub3ctl", "9.8.7", "COM<9>", 7, 625000};

    QJsonParseError error{};
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(CheckReportJson(report, context)), &error)
            .object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_EQ(o["verdict"].toString(), "FAIL");
    EXPECT_EQ(o["version"].toString(), "9.8.7");
    EXPECT_EQ(o["port"].toString(), "COM<9>");
    EXPECT_EQ(o["receiver"].toObject()["id"].toInt(), 7);
    EXPECT_EQ(o["receiver"].toObject()["speed"].toInt(), 625000);
    EXPECT_TRUE(o["started"].toString().startsWith("2027-01-15T"));
    QStringList codes;
    for (const auto& r : o["reasons"].toArray())
        codes << r.toObject()["code"].toString() + " " + r.toObject()["subject"].toString();
    EXPECT_EQ(codes, (QStringList{"not-seen S4", "noisy-sd PA1", "noisy-peak-to-peak PA1"}));
    ASSERT_EQ(o["indicators"].toArray().size(), kIndicatorCount);
    EXPECT_FALSE(o["indicators"][3]["seen"].toBool());
    EXPECT_EQ(o["indicators"][19]["name"].toString(), "cross+circle");
    EXPECT_EQ(o["channels"][0]["peak_to_peak"].toInt(), 8);
    EXPECT_NEAR(o["channels"][0]["sd"].toDouble(), 2.83, 0.05);
    EXPECT_EQ(o["channels"][2]["highest"].toInt(), 127);
    EXPECT_EQ(o["link"].toObject()["polls"].toInt(), report.polls);

    CheckPageTexts texts;
    texts.verdictFail = "FAIL";
    texts.reasons = {"<S4>"};
    const std::string html = CheckReportHtml(report, context, texts);
    EXPECT_NE(html.find("class=\"fail\" id=\"verdict\">FAIL"), std::string::npos);
    EXPECT_NE(html.find("<li>&lt;S4&gt;</li>"), std::string::npos);
    // The given words first, the program's own for a reason without them.
    EXPECT_NE(html.find("<li>PA1 is noisy at rest: standard deviation 2.8"), std::string::npos);
    EXPECT_NE(html.find("COM&lt;9&gt;"), std::string::npos);
    std::size_t plots = 0;
    for (auto at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1))
        ++plots;
    EXPECT_EQ(plots, 4u);
    EXPECT_EQ(html.find("src="), std::string::npos) << "the page must fetch nothing";
    EXPECT_EQ(html.find("href="), std::string::npos) << "the page must fetch nothing";
}

TEST(ControllerCheck, ALongCheckKeepsABoundedPlot)
{
    ControllerCheck check;
    Bench bench;
    for (int i = 0; i < 30'000; ++i)
        bench.poll(0, {i % 128, 64, 64, 64});
    for (const PollResult& p : bench.polls)
        check.Add(p);
    const CheckReport r = check.Report();
    EXPECT_LE(r.samples.size(), 4000u);
    EXPECT_GE(r.samples.size(), 1000u);
    EXPECT_DOUBLE_EQ(r.samples.front().tMs, 0);
    EXPECT_GT(r.samples.back().tMs, bench.tMs - 20 * 64);
}

}  // namespace
