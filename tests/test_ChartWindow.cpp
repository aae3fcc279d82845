// SPDX-License-Identifier: GPL-3.0-or-later
// The chart's series: the values polled, in order, nothing older than the span, and as many
// points as the plot can show without losing a peak.
#include "app/ChartWindow.h"

#include "core/Records.h"

#include <gtest/gtest.h>

#include <QLineSeries>
#include <QTemporaryDir>

#include <fstream>

using namespace std::chrono_literals;

namespace {

const auto kStart = std::chrono::steady_clock::time_point{} + 1h;

zub3::PollResult poll(int i, std::chrono::milliseconds every)
{
    return {kStart + i * every, 1'700'000'000'000 + i,
            zub3::PollData{static_cast<std::uint16_t>(i % 2 ? 0x0001 : 0x0200),
                           {static_cast<zub3::Byte>(i), static_cast<zub3::Byte>(i * 3),
                            static_cast<zub3::Byte>(255 - i % 256), 9}}};
}

}  // namespace

TEST(ChartWindow, SeriesHoldThePolledValuesOfTheSpan)
{
    ChartWindow chart;
    chart.resize(1400, 600);
    chart.show();
    // 12 s at 10 ms, a poll without a reply among them.
    for (int i = 0; i <= 1200; ++i) {
        zub3::PollResult p = poll(i, 10ms);
        if (i == 1100)
            p.data.reset();
        chart.Add(p);
    }
    chart.Refresh();
    // The newest poll is at 0 s, the oldest kept 10 s before it.
    for (int c = 0; c < 4; ++c) {
        const QList<QPointF> points = chart.Series(c)->points();
        ASSERT_EQ(points.size(), 1000) << c;  // 200 .. 1200 without 1100
        EXPECT_DOUBLE_EQ(points.front().x(), -10.0);
        EXPECT_DOUBLE_EQ(points.back().x(), 0.0);
        EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                                   [](QPointF a, QPointF b) { return a.x() < b.x(); }));
    }
    const QList<QPointF> pa2 = chart.Series(1)->points();
    EXPECT_EQ(pa2.front().y(), static_cast<zub3::Byte>(200 * 3));
    EXPECT_EQ(pa2[899].y(), static_cast<zub3::Byte>(1099 * 3));
    EXPECT_EQ(pa2[900].y(), static_cast<zub3::Byte>(1101 * 3));

    chart.SetSpan(5s);
    EXPECT_EQ(chart.Series(0)->points().size(), 500);  // 700 .. 1200 without 1100

    // Saved as zub3ctl's records, timed from the oldest shown.
    QTemporaryDir dir;
    const std::string file = dir.filePath("chart.csv").toStdString();
    std::ofstream(file) << chart.Csv();
    const auto records = zub3::ReadRecords(file);
    ASSERT_EQ(records.size(), 500u);
    EXPECT_EQ(records.front().tMs, 0.0);
    EXPECT_EQ(records.front().channels[0], 700 % 256);
    EXPECT_EQ(records.back().tMs, 5000.0);
    EXPECT_EQ(records.back().buttons, 0x0200);
}

TEST(ChartWindow, MorePollsThanPixelsKeepEveryPeak)
{
    ChartWindow chart;
    chart.resize(700, 400);
    chart.show();
    // 2 ms apart, PA1 at 0 and 255 in turn.
    for (int i = 0; i <= 5000; ++i) {
        zub3::PollResult p = poll(i, 2ms);
        p.data->channels[0] = i % 2 ? 255 : 0;
        chart.Add(p);
    }
    chart.Refresh();
    const QList<QPointF> points = chart.Series(0)->points();
    EXPECT_LT(points.size(), 2 * 700);
    EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](QPointF p) { return p.y() == 0; }));
    EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](QPointF p) { return p.y() == 255; }));
    EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                               [](QPointF a, QPointF b) { return a.x() < b.x(); }));
}
