// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Timer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

TEST(Timer, TicksEveryIntervalUntilStopped)
{
    TTimer timer;
    timer.setInterval(20);
    EXPECT_FALSE(timer.isActive());
    EXPECT_EQ(timer.remainingTime(), -1);

    QSignalSpy ticks(&timer, &TTimer::timeout);
    QElapsedTimer clock;
    clock.start();
    timer.start();
    EXPECT_TRUE(timer.isActive());
    EXPECT_LE(timer.remainingTime(), 20);
    ASSERT_TRUE(ticks.wait(2000));
    EXPECT_GE(clock.nsecsElapsed(), 20'000'000);  // never early
    ASSERT_TRUE(ticks.wait(2000));                // and again, without a new start
    EXPECT_GE(clock.nsecsElapsed(), 40'000'000);

    timer.stop();
    const auto seen = ticks.count();
    QTest::qWait(80);
    EXPECT_EQ(ticks.count(), seen);
    EXPECT_FALSE(timer.isActive());
}

TEST(Timer, ATickThatCameButWasNotHandledIsDroppedByStopOrRestart)
{
    TTimer timer;
    QSignalSpy ticks(&timer, &TTimer::timeout);
    timer.setInterval(5);
    timer.start();
    usleep(20'000);  // due while the event loop is busy elsewhere
    timer.stop();
    QTest::qWait(50);
    EXPECT_EQ(ticks.count(), 0);

    timer.start();
    usleep(20'000);
    timer.setInterval(200);  // a running timer counts the new interval from now
    QTest::qWait(50);
    EXPECT_EQ(ticks.count(), 0);
    EXPECT_GT(timer.remainingTime(), 100);
    timer.stop();
}
