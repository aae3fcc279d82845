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

#include <array>
#include <cmath>
#include <fstream>
#include <functional>

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

// On screen at a size that leaves room for the plot; false when it never showed.
bool showChart(ChartWindow& chart)
{
    chart.resize(800, 500);
    chart.show();
    return QTest::qWaitForWindowExposed(&chart);
}

// A second of polls every 10 ms with the channels held at these values.
void addHeld(ChartWindow& chart, std::array<zub3::Byte, 4> channels)
{
    for (int i = 0; i <= 100; ++i) {
        zub3::PollResult p = poll(i, 10ms);
        p.data->channels = channels;
        chart.Add(p);
    }
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

TEST(ChartWindow, ValueAxisIsTheChannelsRangeWhileNoValueAboveItIsInView)
{
    ChartWindow chart;
    chart.SetSpan(1s);
    chart.Add(poll(0, 10ms));
    chart.Refresh();
    EXPECT_EQ(chart.ValueAxis()->max(), 127);
    zub3::PollResult high = poll(1, 10ms);
    high.data->channels[2] = 200;
    chart.Add(high);
    for (int i = 2; i <= 100; ++i)
        chart.Add(poll(i, 10ms));
    chart.Refresh();
    EXPECT_EQ(chart.ValueAxis()->max(), 255);
    // Once the 200 has left the view, back to the range the channels use.
    for (int i = 101; i <= 200; ++i)
        chart.Add(poll(i, 10ms));
    chart.Refresh();
    EXPECT_EQ(chart.ValueAxis()->min(), 0);
    EXPECT_EQ(chart.ValueAxis()->max(), 127);
    chart.ScrollTo(0.9);
    EXPECT_EQ(chart.ValueAxis()->max(), 255);
}

// Grid lines fall on times their labels name exactly.
TEST(ChartWindow, TimeGridLinesFallOnRoundTimes)
{
    ChartWindow chart;
    const struct {
        std::chrono::milliseconds span;
        double step;
    } rows[] = {{500ms, 0.1}, {1s, 0.2}, {10s, 2}, {60s, 10}, {3600s, 600}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.span.count());
        chart.SetSpan(r.span);
        const QValueAxis* time = chart.TimeAxis();
        EXPECT_EQ(time->tickType(), QValueAxis::TicksDynamic);
        EXPECT_EQ(time->tickAnchor(), 0);
        EXPECT_DOUBLE_EQ(time->tickInterval(), r.step);
        for (int k = 1; k <= 7; ++k) {
            const QString label = QString::asprintf(time->labelFormat().toLatin1().constData(), k * r.step);
            EXPECT_NEAR(label.toDouble(), k * r.step, 1e-9) << label.toStdString();
        }
    }
}

// Fitted to the values in view, zoomed and moved by hand within 0 to 255, and back.
TEST(ChartWindow, ValueAxisFitsZoomsAndMoves)
{
    ChartWindow chart;
    addHeld(chart, {40, 50, 60, 55});
    using VS = ChartWindow::ValueScale;
    const struct {
        const char* step;
        std::function<void()> act;
        double min, max;
        VS scale;
    } steps[] = {
        {"fit", [&] { chart.SetValueScale(VS::Fit); }, 39, 61, VS::Fit},
        {"full", [&] { chart.SetValueScale(VS::Full); }, 0, 127, VS::Full},
        {"zoom in around 64", [&] { chart.ZoomValues(0.5, 64); }, 32, 95.5, VS::Manual},
        {"move up", [&] { chart.PanValues(100); }, 132, 195.5, VS::Manual},
        {"move past the top", [&] { chart.PanValues(100); }, 191.5, 255, VS::Manual},
        {"zoom out past everything", [&] { chart.ZoomValues(10, 200); }, 0, 255, VS::Manual},
        {"zoom in to nothing", [&] { chart.ZoomValues(0, 100); }, 98, 102, VS::Manual},
        {"full again", [&] { chart.SetValueScale(VS::Full); }, 0, 127, VS::Full},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        s.act();
        EXPECT_NEAR(chart.ValueAxis()->min(), s.min, 0.01);
        EXPECT_NEAR(chart.ValueAxis()->max(), s.max, 0.01);
        EXPECT_EQ(chart.GetValueScale(), s.scale);
    }
}

// Ctrl and the wheel zoom the values around the one under the pointer, leaving time; the
// lines are drawn on the axis so chosen.
TEST(ChartWindow, CtrlAndTheWheelZoomTheValuesTheLinesFollow)
{
    ChartWindow chart;
    ASSERT_TRUE(showChart(chart));
    addHeld(chart, {60, 60, 60, 60});
    chart.Refresh();
    const QRectF area = chart.Chart()->plotArea();
    const double pointerValue = 127 * (area.bottom() - area.center().y()) / area.height();
    QWidget* viewport = chart.Plot();
    QWheelEvent wheel(area.center(), viewport->mapToGlobal(area.center()), {}, {0, 120},
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(viewport, &wheel);
    EXPECT_EQ(chart.Span(), 10000ms);
    EXPECT_NEAR(chart.ValueAxis()->max() - chart.ValueAxis()->min(), 127 * 0.8, 0.01);
    EXPECT_NEAR((pointerValue - chart.ValueAxis()->min()) / (chart.ValueAxis()->max() - chart.ValueAxis()->min()),
                pointerValue / 127, 0.01);

    chart.ZoomValues(0.25, 60);  // 60 near the middle of the plot
    const QImage image = chart.Image();
    const QColor colour = chart.findChildren<QCheckBox*>()[3]->palette().color(QPalette::WindowText);
    const double expected = area.top() + (area.height() - 1) *
                                             (1 - (60 - chart.ValueAxis()->min()) /
                                                      (chart.ValueAxis()->max() - chart.ValueAxis()->min()));
    int row = -1;
    for (int y = area.toAlignedRect().top(); y <= area.toAlignedRect().bottom(); ++y)
        if (image.pixelColor(area.toAlignedRect().left() + area.toAlignedRect().width() / 20, y) == colour)
            row = y;
    EXPECT_NEAR(row, expected, 1.0);
}

// A stick held at an end is drawn at the plot's edge, not cut off by it.
TEST(ChartWindow, ValuesAtTheEndsAreDrawn)
{
    ChartWindow chart;
    ASSERT_TRUE(showChart(chart));
    addHeld(chart, {0, 127, 0, 127});
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

// Each channel's statistics over the view, or over a span dragged across the plot; a click
// goes back to the view. Failed polls count for nothing.
TEST(ChartWindow, StatisticsOverTheViewOrADraggedSpan)
{
    ChartWindow chart;
    ASSERT_TRUE(showChart(chart));
    for (int i = 0; i < 100; ++i) {
        zub3::PollResult p = i == 50 ? failed(i, 10ms, zub3::PollFault::Missed) : poll(i, 10ms);
        if (p.data)
            p.data->channels = {static_cast<zub3::Byte>(i % 10), static_cast<zub3::Byte>(i), 7, 9};
        chart.Add(p);
    }
    const struct {
        const char* span;
        std::optional<std::pair<double, double>> selection;
        std::size_t polls;
        double mean1, deviation1, change2;
    } rows[] = {
        // 0 to 9 ten times, less the failed poll 50.
        {"view", std::nullopt, 99, 450.0 / 99, std::sqrt(2850.0 / 99 - std::pow(450.0 / 99, 2)), 99},
        {"polls 20 to 29", std::pair(0.295, 0.195), 10, 4.5, std::sqrt(8.25), 9},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.span);
        r.selection ? chart.Select(r.selection->first, r.selection->second) : chart.ClearSelection();
        const auto stats = chart.Statistics();
        ASSERT_TRUE(stats[0] && stats[1] && stats[2]);
        EXPECT_EQ(stats[0]->polls, r.polls);
        EXPECT_EQ(stats[0]->min, 0);
        EXPECT_EQ(stats[0]->max, 9);
        EXPECT_NEAR(stats[0]->mean, r.mean1, 1e-9);
        EXPECT_NEAR(stats[0]->deviation, r.deviation1, 1e-9);
        EXPECT_EQ(stats[1]->change, r.change2);
        EXPECT_EQ(stats[2]->deviation, 0);  // a channel that never moved
    }
    chart.Select(0.495, 0.505);  // the failed poll alone
    EXPECT_FALSE(chart.Statistics()[0]);

    // A drag across the plot selects; a click clears.
    QWidget* viewport = chart.Plot();
    const QRectF area = chart.Chart()->plotArea();
    const QPoint from(qRound(area.left() + area.width() / 50), qRound(area.center().y()));
    const QPoint to(qRound(area.left() + area.width() * 8 / 100), from.y());
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(viewport, &move);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
    ASSERT_TRUE(chart.Selection());
    EXPECT_NEAR(chart.Selection()->first, 0.2, 0.03);
    EXPECT_NEAR(chart.Selection()->second, 0.8, 0.03);
    EXPECT_TRUE(chart.StatisticsText().startsWith(QStringLiteral("選択 "))) << chart.StatisticsText().toStdString();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, from);
    EXPECT_FALSE(chart.Selection());
    EXPECT_TRUE(chart.StatisticsText().startsWith(QStringLiteral("表示中 ")));
}

// Markers with their notes: on the plot, and in the CSV on the first answered poll at or
// after each, as a column the record reader passes over.
TEST(ChartWindow, MarkersShowOnThePlotAndTravelInTheCsv)
{
    ChartWindow chart;
    ASSERT_TRUE(showChart(chart));
    for (int i = 0; i < 100; ++i)
        chart.Add(i == 30 ? failed(i, 10ms, zub3::PollFault::Missed) : poll(i, 10ms));
    EXPECT_EQ(chart.Csv(ChartWindow::Extent::Session).find("marker"), std::string::npos);
    chart.AddMarker(0.5, QStringLiteral("stick, \"left\""));
    chart.AddMarker(0.295, QStringLiteral("after the gap"));  // poll 30 failed: on poll 31
    chart.AddMarker(0.2, QStringLiteral("one"));
    chart.AddMarker(0.2, QStringLiteral("two"));
    ASSERT_EQ(chart.Markers().size(), 4u);
    EXPECT_EQ(chart.Markers().front().note, "one");

    const std::string csv = chart.Csv(ChartWindow::Extent::Session);
    std::vector<std::string> lines;
    for (std::size_t at = 0, next; (next = csv.find('\n', at)) != std::string::npos; at = next + 1)
        lines.push_back(csv.substr(at, next - at));
    ASSERT_EQ(lines.size(), 100u);  // the header and 99 answered polls
    EXPECT_TRUE(lines[0].ends_with(",pa4,marker")) << lines[0];
    const struct {
        std::size_t row;  // the poll's number, less one from 31 on for the failed one
        const char* ending;
    } rows[] = {{20, ",9,one; two"}, {30, ",9,after the gap"}, {49, ",9,\"stick, \"\"left\"\"\""}, {1, ",9,"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.ending);
        EXPECT_TRUE(lines[r.row + 1].ends_with(r.ending)) << lines[r.row + 1];
    }
    EXPECT_EQ(exported(chart, ChartWindow::Extent::Session).size(), 99u);

    // Drawn where it was dropped, in its own colour.
    const QImage image = chart.Image();
    const QRectF area = chart.Chart()->plotArea();
    const int x = static_cast<int>(std::floor(area.left() + 0.5 / 10 * area.width()));
    int marked = 0;
    for (int y = static_cast<int>(area.top()); y < static_cast<int>(area.bottom()); ++y)
        marked += image.pixelColor(x, y) == QColor(0xC0, 0x60, 0x00);
    EXPECT_GT(marked, area.height() / 4);
}

// A saved picture names where and when it was taken and which colour is which channel.
TEST(ChartWindow, ThePictureSavedDescribesItself)
{
    ChartWindow chart;
    ASSERT_TRUE(showChart(chart));
    addHeld(chart, {10, 20, 30, 40});
    chart.SetSource(QStringLiteral("COM51  ID 5  625000 bit/s"));
    chart.Refresh();
    // 1'700'000'000'000 ms is 22:13:20 UTC on 14 November 2023.
    EXPECT_EQ(chart.Caption(), QStringLiteral("ZUB-3 Manager　COM51  ID 5  625000 bit/s　"
                                              "2023-11-14T22:13:20.000Z　表示 10 秒"));
    const QImage plot = chart.Image();
    const QImage saved = chart.ExportImage();
    ASSERT_GT(saved.height(), plot.height());
    EXPECT_EQ(saved.width(), plot.width());
    const int band = saved.height() - plot.height();
    EXPECT_EQ(saved.copy(0, band, plot.width(), plot.height()), plot);
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(c);
        const QColor colour = chart.findChildren<QCheckBox*>()[c]->palette().color(QPalette::WindowText);
        bool found = false;
        for (int y = 0; y < band && !found; ++y)
            for (int x = 0; x < saved.width() && !found; ++x)
                found = saved.pixelColor(x, y) == colour;
        EXPECT_TRUE(found);
    }
}
