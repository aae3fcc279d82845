// SPDX-License-Identifier: GPL-3.0-or-later
// Stick travel and the resting value; the link's counts by the reason the poll gave, read
// from the panel of a window polling a virtual receiver whose faults change.
#include "app/StickView.h"

#include "app/WindowExtras.h"
#include "support/Wait.h"
#include "support/WindowRig.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using zub3::PollFault;

namespace {

const auto kStart = StickTravel::Clock::time_point{} + 1h;

// The panel shown beside a window on a virtual receiver.
class StickPanel : public ::testing::Test {
protected:
    StickPanel() { view.show(); }

    QTemporaryDir dir;
    WindowRig rig;
    std::unique_ptr<TMainForm> form = rig.OpenWindow();
    WindowExtras extras{*form, dir.filePath("ZUB3Manager.conf")};
    StickView& view = extras.Sticks();
};

}  // namespace

TEST(StickTravel, RestsAtTheMedianOfTheLastStillSecond)
{
    struct Case {
        const char* name;
        std::vector<int> values;  // PA1, one poll each 20 ms
        std::optional<int> rest;
        int min, max;
    };
    const auto repeat = [](std::initializer_list<int> pattern, int times) {
        std::vector<int> v;
        for (int i = 0; i < times; ++i)
            v.insert(v.end(), pattern);
        return v;
    };
    const auto join = [](std::vector<int> a, const std::vector<int>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<int> sweep = [] {
        std::vector<int> v;
        for (int i = 0; i <= 127; i += 2)
            v.push_back(i);
        return v;
    }();
    const Case cases[] = {
        {"jitter of a count", repeat({63, 64, 64, 65}, 13), 64, 63, 65},
        {"still for less than a second", repeat({64}, 40), std::nullopt, 64, 64},
        {"moving all the time", sweep, std::nullopt, 0, 126},
        {"moved, then still elsewhere", join(join(repeat({64}, 60), sweep), repeat({70}, 60)), 70, 0, 126},
        {"still, then moving: the last rest stays", join(repeat({60}, 60), sweep), 60, 0, 126},
    };
    for (const Case& c : cases) {
        StickTravel travel;
        for (std::size_t i = 0; i < c.values.size(); ++i)
            travel.Add(kStart + i * 20ms, {static_cast<zub3::Byte>(c.values[i]), 0, 0, 0});
        const auto& pa1 = travel.Channels()[0];
        EXPECT_EQ(pa1.rest, c.rest) << c.name;
        EXPECT_EQ(pa1.min, c.min) << c.name;
        EXPECT_EQ(pa1.max, c.max) << c.name;
    }
}

TEST_F(StickPanel, PanelCountsEachRejectionAndShowsTheTravel)
{
    rig.receiver->SetChannel(0, 127);
    rig.receiver->SetChannel(1, 3);
    WindowRig::Choose(form->cbxBaudRate, "115200");
    WindowRig::Choose(form->cbxInterval, "5");
    WindowRig::ClickSwitch(*form);
    const LinkQuality& link = view.Link();
    const auto through = [&](zub3::sim::Faults faults, PollFault counted) {
        rig.receiver->SetFaults(faults);
        const int before = link.Count(counted);
        EXPECT_TRUE(WaitUntil([&] { return link.Count(counted) > before; }));
    };
    through({}, PollFault::None);
    through({.badChecksum = true}, PollFault::Checksum);
    through({.badHeader = true}, PollFault::Header);
    through({.shortReply = 5}, PollFault::Short);
    through({.noReply = true}, PollFault::Missed);
    through({}, PollFault::None);
    WindowRig::ClickSwitch(*form);
    ASSERT_TRUE(WaitUntil([&] { return !form->ExchangeRunning(); }));
    view.Refresh();

    EXPECT_EQ(link.Polls(), link.Count(PollFault::None) + link.Rejected() + link.Count(PollFault::Missed));
    const QString text = view.LinkText();
    EXPECT_TRUE(text.contains(QStringLiteral("拒否 %1").arg(link.Rejected()))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("チェックサム不一致 %1").arg(link.Count(PollFault::Checksum))));
    EXPECT_TRUE(text.contains(QStringLiteral("応答なし %1").arg(link.Count(PollFault::Missed))));
    EXPECT_EQ(view.Text(0, 2), QStringLiteral("127"));  // PA1's highest
    EXPECT_EQ(view.Text(1, 1), QStringLiteral("3"));    // PA2's lowest

    // The next switch-on counts afresh; the travel is kept until its reset.
    WindowRig::ClickSwitch(*form);
    EXPECT_EQ(link.Polls(), 0);
    WindowRig::ClickSwitch(*form);
    EXPECT_FALSE(view.Travel().Empty());
    view.ResetTravel();
    EXPECT_EQ(view.Text(0, 2), QStringLiteral("-"));
}

// The panel opens as wide as the counts of a long run need: it does not depend on being
// widened as they grow (a window manager may not be there to do it), and cuts none.
TEST_F(StickPanel, OpensWideEnoughForTheCountsOfALongRun)
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const int opened = view.width();
    const auto now = std::chrono::steady_clock::now();
    const PollFault faults[] = {PollFault::Short, PollFault::Header, PollFault::Checksum,
                                PollFault::Missed, PollFault::None};
    for (int i = 0; i < 150'000; ++i) {
        zub3::PollResult p{now, 0, std::nullopt, faults[i % 5]};
        if (p.fault == PollFault::None)
            p.data = zub3::PollData{0, {64, 64, 64, 64}};
        view.Add(p);
    }
    view.Refresh();
    QCoreApplication::processEvents();
    EXPECT_TRUE(view.LinkText().contains(QStringLiteral("ポーリング 150000 回"))) << view.LinkText().toStdString();
    EXPECT_GE(opened, view.minimumSizeHint().width());
    EXPECT_EQ(view.width(), opened);
}
