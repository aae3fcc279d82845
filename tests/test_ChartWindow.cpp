// SPDX-License-Identifier: GPL-3.0-or-later
// The chart as an instrument: what it keeps, what it draws where polls failed, how the view
// moves, and what its readout and exports say.
#include "app/ChartWindow.h"

#include "core/Records.h"

#include <gtest/gtest.h>

#include <QChart>
#include <QCheckBox>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

#include <cmath>
#include <fstream>

using namespace std::chrono_literals;

namespace {

const auto kStart = std::chrono::steady_clock::time_point{} + 1h;

zub3::PollResult poll(int i, std::chrono::milliseconds every)
{
    return {kStart + i * every, 1'700'000'000'000 + i,
            zub3::PollData{static_cast<std::uint16_t>(i % 2 ? 0x0001 : 0x0200),
                           {static_cast<zub3::Byte>(i % 128), static_cast<zub3::Byte>(i * 3 % 128),
                            static_cast<zub3::Byte>(127 - i % 128), 9}},
            zub3::PollFault::None};
}

zub3::PollResult failed(int i, std::chrono::milliseconds every, zub3::PollFault why)
{
    return {kStart + i * every, 1'700'000'000'000 + i, std::nullopt, why};
}

std::vector<zub3::RecordedPoll> exported(const ChartWindow& chart, ChartWindow::Extent extent)
{
    QTemporaryDir dir;
    const std::string file = dir.filePath("chart.csv").toStdString();
    std::ofstream(file) << chart.Csv(extent);
    return zub3::ReadRecords(file);
}

// As the pointer moving over the plot reaches the chart.
void movePointer(const ChartWindow& chart, QPointF at)
{
    QWidget* viewport = chart.Plot();
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
}

qsizetype numbers(const QList<QPointF>& points)
{
    return std::count_if(points.begin(), points.end(), [](QPointF p) { return !std::isnan(p.y()); });
}

}  // namespace

TEST(ChartWindow, SpanChangesAndExportsKeepTheWholeSession)
{
    ChartWindow chart;
    chart.resize(1400, 600);
    chart.show();
    for (int i = 0; i <= 1200; ++i)  // 12 s at 10 ms
        chart.Add(poll(i, 10ms));
    chart.SetSpan(5s);
    chart.SetSpan(10s);
    // 10 s back from the newest poll, plus the one the line comes in from.
    const QList<QPointF> points = chart.Points(0);
    EXPECT_EQ(points.size(), 1002);
    EXPECT_DOUBLE_EQ(points.back().x(), 12.0);
    EXPECT_EQ(points.back().y(), 1200 % 128);

    chart.SetSpan(5s);
    const auto visible = exported(chart, ChartWindow::Extent::Visible);
    ASSERT_EQ(visible.size(), 501u);
    EXPECT_EQ(visible.front().tMs, 0.0);
    EXPECT_EQ(visible.front().channels[0], 700 % 128);
    const auto session = exported(chart, ChartWindow::Extent::Session);
    ASSERT_EQ(session.size(), 1201u);
    EXPECT_EQ(session.back().tMs, 12000.0);
}

TEST(ChartWindow, FailedPollsBreakTheLinesAndTheHeldButtons)
{
    ChartWindow chart;
    chart.resize(1000, 600);
    chart.show();
    // S1 held throughout; the receiver silent from 4 s to 7 s.
    for (int i = 0; i <= 100; ++i) {
        zub3::PollResult p = i > 40 && i < 70 ? failed(i, 100ms, i % 3 ? zub3::PollFault::Missed
                                                                  : zub3::PollFault::Checksum)
                                        : poll(i, 100ms);
        if (p.data)
            p.data->buttons = 0x0200;
        chart.Add(p);
    }
    chart.Refresh();
    const QList<QPointF> points = chart.Points(0);
    EXPECT_EQ(numbers(points), 72);
    const auto broken = std::find_if(points.begin(), points.end(),
                                     [](QPointF p) { return std::isnan(p.y()); });
    ASSERT_NE(broken, points.end());
    EXPECT_DOUBLE_EQ(std::prev(broken)->x(), 4.0);
    EXPECT_DOUBLE_EQ(std::next(broken)->x(), 7.0);

    // The S1 row of the button lane is filled before the gap and not inside it.
    const QImage image = chart.Image();
    const QRectF area = chart.Chart()->plotArea();
    const int row = image.height() - (12 * 12 + 4) + 2 + 6;
    const auto at = [&](double s) {
        return image.pixelColor(static_cast<int>(area.left() + s / 10.0 * area.width()), row);
    };
    EXPECT_EQ(at(2.0), QColor(0x20, 0x60, 0xC0));
    EXPECT_NE(at(5.5), QColor(0x20, 0x60, 0xC0));

    // The readout over the gap counts its failures by kind.
    movePointer(chart, {area.left() + 0.55 * area.width(), area.center().y()});
    EXPECT_TRUE(chart.ReadoutText().contains(QStringLiteral("受信失敗 29 回（応答なし 19、短い応答 0、"
                                                            "ヘッダ不一致 0、チェックサム不一致 10）")))
        << chart.ReadoutText().toStdString();
}

TEST(ChartWindow, HeldButtonsRunToTheirReleaseOrTheLastPollBeforeASilence)
{
    ChartWindow chart;
    chart.resize(1000, 600);
    chart.show();
    // S1 held 0-1 s, released, held 1.6-2 s; no polls 2-4 s; held 4-5 s, released.
    for (int i = 0; i <= 60; ++i) {
        if (i > 20 && i < 40)
            continue;
        zub3::PollResult p = poll(i, 100ms);
        const bool held = i <= 10 || (i >= 16 && i <= 20) || (i >= 40 && i <= 50);
        p.data->buttons = held ? 0x0200 : 0;
        chart.Add(p);
    }
    const QImage image = chart.Image();
    const QRectF area = chart.Chart()->plotArea();
    const int row = image.height() - (12 * 12 + 4) + 2 + 6;
    const struct {
        double s;
        bool filled;
    } expected[] = {{0.5, true}, {1.3, false}, {1.8, true}, {3.0, false}, {4.5, true}, {5.5, false}};
    for (const auto& e : expected) {
        const QColor c = image.pixelColor(static_cast<int>(area.left() + e.s / 10.0 * area.width()), row);
        EXPECT_EQ(c == QColor(0x20, 0x60, 0xC0), e.filled) << e.s << " s";
    }
}

TEST(ChartWindow, PauseScrollAndZoomMoveOnlyTheView)
{
    ChartWindow chart;
    chart.resize(1000, 600);
    chart.show();
    chart.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&chart));
    for (int i = 0; i <= 3000; ++i)  // 30 s
        chart.Add(poll(i, 10ms));
    chart.Refresh();
    const QValueAxis* time = chart.TimeAxis();
    QTest::keyClick(&chart, Qt::Key_Space);
    EXPECT_TRUE(chart.Paused());
    for (int i = 3001; i <= 3500; ++i)
        chart.Add(poll(i, 10ms));
    chart.Refresh();
    EXPECT_DOUBLE_EQ(time->max(), 30.0);
    EXPECT_EQ(chart.Samples().size(), 3501u);

    chart.ScrollTo(12.5);
    EXPECT_DOUBLE_EQ(time->min(), 2.5);
    EXPECT_DOUBLE_EQ(time->max(), 12.5);

    // A notch of the wheel zooms in around the pointer, which stays at the same time.
    QWidget* viewport = chart.Plot();
    const QRectF area = chart.Chart()->plotArea();
    const QPointF middle(area.center().x(), area.center().y());
    QWheelEvent wheel(middle, viewport->mapToGlobal(middle), {}, {0, 120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(viewport, &wheel);
    EXPECT_EQ(chart.Span(), 8000ms);
    EXPECT_NEAR((time->min() + time->max()) / 2, 7.5, 0.01);

    QTest::keyClick(&chart, Qt::Key_Space);
    EXPECT_FALSE(chart.Paused());
    EXPECT_DOUBLE_EQ(time->max(), 35.0);
}

TEST(ChartWindow, ReadoutFollowsThePlotWithoutWideningTheWindow)
{
    ChartWindow chart;
    chart.resize(chart.minimumSizeHint().width(), 400);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    const int width = chart.width();
    // 18 s at 10 ms, the receiver silent from 13 s to 13.5 s.
    const auto add = [&](int from, int to) {
        for (int i = from; i <= to; ++i)
            chart.Add(i >= 1300 && i < 1350 ? failed(i, 10ms, zub3::PollFault::Short) : poll(i, 10ms));
        chart.Refresh();
    };
    add(0, 1500);
    movePointer(chart, chart.Chart()->plotArea().center());
    EXPECT_TRUE(chart.ReadoutText().startsWith(QStringLiteral("10.000 秒"))) << chart.ReadoutText().toStdString();
    // The plot moves on by 3 s: the gap is under the pointer now.
    add(1501, 1800);
    EXPECT_TRUE(chart.ReadoutText().startsWith(QStringLiteral("13.000〜13.490 秒　受信失敗 50 回")))
        << chart.ReadoutText().toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(chart.width(), width);
}

TEST(ChartWindow, ValueAxisIsTheChannelsRangeUntilAValueAboveIt)
{
    ChartWindow chart;
    chart.Add(poll(0, 10ms));
    chart.Refresh();
    EXPECT_EQ(chart.ValueAxis()->max(), 127);
    zub3::PollResult high = poll(1, 10ms);
    high.data->channels[2] = 200;
    chart.Add(high);
    chart.Add(poll(2, 10ms));
    chart.Refresh();
    EXPECT_EQ(chart.ValueAxis()->max(), 255);
}

// A stick held at an end is drawn at the plot's edge, not cut off by it.
TEST(ChartWindow, ValuesAtTheEndsAreDrawn)
{
    ChartWindow chart;
    chart.resize(800, 500);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    for (int i = 0; i <= 100; ++i) {
        zub3::PollResult p = poll(i, 10ms);
        p.data->channels = {0, 127, 0, 127};
        chart.Add(p);
    }
    const QImage image = chart.Image();
    const QRect area = chart.Chart()->plotArea().toAlignedRect();
    const auto rowsWith = [&](int channel) {
        const QColor colour =
            chart.findChildren<QCheckBox*>()[channel]->palette().color(QPalette::WindowText);
        QList<int> rows;
        for (int y = area.top() - 2; y <= area.bottom() + 2; ++y)
            if (image.pixelColor(area.left() + area.width() / 20, y) == colour)
                rows << y;
        return rows;
    };
    EXPECT_EQ(rowsWith(2).size(), 1);  // PA3, drawn over PA1
    EXPECT_EQ(rowsWith(3).size(), 1);  // PA4, over PA2
}

TEST(ChartWindow, MorePollsThanPixelsKeepEveryPeak)
{
    ChartWindow chart;
    chart.resize(700, 400);
    chart.show();
    // 2 ms apart, PA1 at 0 and 127 in turn.
    for (int i = 0; i <= 5000; ++i) {
        zub3::PollResult p = poll(i, 2ms);
        p.data->channels[0] = i % 2 ? 127 : 0;
        chart.Add(p);
    }
    chart.Refresh();
    const QList<QPointF> points = chart.Points(0);
    EXPECT_LT(points.size(), 2 * 700);
    EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](QPointF p) { return p.y() == 0; }));
    EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](QPointF p) { return p.y() == 127; }));
    EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                               [](QPointF a, QPointF b) { return a.x() < b.x(); }));
}

// The plot keeps what it drew and draws only the new columns as it moves on: followed poll
// by poll, and paused with polls going on beyond its edge, it must show what it shows when
// it draws everything afresh.
TEST(ChartWindow, APlotThatMovedOnLooksAsOneDrawnAfresh)
{
    const auto at = [](int i) {
        // Dense polls, then sparse ones after a silence: both ways of drawing a line.
        zub3::PollResult p = i < 900 ? poll(i, 5ms) : poll(900 + (i - 900) * 20, 5ms);
        p.data->channels[1] = static_cast<zub3::Byte>(i * 37 % 128);
        if (i >= 950 && i < 960)
            p = failed(900 + (i - 900) * 20, 5ms, zub3::PollFault::Missed);
        return p;
    };
    ChartWindow chart;
    chart.resize(900, 500);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    chart.SetSpan(2s);
    // Hiding a channel and showing it again draws the plot afresh.
    const auto drawnAfresh = [&] {
        QCheckBox* pa1 = chart.findChildren<QCheckBox*>().front();
        pa1->click();
        chart.Image();
        pa1->click();
        return chart.Image();
    };
    // A line cut at the plot's edge may come out a pixel apart from the same line drawn
    // whole; a column left stale differs by many.
    constexpr int kEdgePixels = 4;
    const auto differentPixels = [](const QImage& a, const QImage& b) {
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                n += a.pixel(x, y) != b.pixel(x, y);
        return n;
    };
    for (int i = 0; i < 1000; ++i) {
        chart.Add(at(i));
        if (i % 7 == 0) {
            const QImage moved = chart.Image();
            if (i % 140 == 0) {
                EXPECT_LE(differentPixels(moved, drawnAfresh()), kEdgePixels) << "after " << i << " polls";
            }
        }
    }
    chart.SetPaused(true);
    chart.Image();
    for (int i = 1000; i < 1003; ++i)
        chart.Add(at(i));
    EXPECT_LE(differentPixels(chart.Image(), drawnAfresh()), kEdgePixels);
}

TEST(ChartWindow, HistoryIsBounded)
{
    ChartWindow chart;
    const int extra = 5;
    for (int i = 0; i < static_cast<int>(ChartWindow::kHistoryPolls) + extra; ++i)
        chart.Add(poll(i, 5ms));
    EXPECT_EQ(chart.Samples().size(), ChartWindow::kHistoryPolls);
    EXPECT_EQ(chart.Samples().front().sentWallMs, 1'700'000'000'000 + extra);
}
