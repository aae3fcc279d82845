// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/FramePacer.h"

#include "toolkit/Shape.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QTest>
#include <QWidget>

namespace {

// Paints the last value it was given and remembers what it painted.
class Dial : public QWidget {
public:
    using QWidget::QWidget;
    void Set(int value)
    {
        value_ = value;
        update();
    }
    int paints = 0;
    int painted = -1;

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++paints;
        painted = value_;
    }

private:
    int value_ = 0;
};

}  // namespace

TEST(FramePacer, ChangesWithinAFrameCostOnePaintAndTheLastIsAlwaysShown)
{
    QWidget window;
    window.resize(100, 50);
    auto* dial = new Dial(&window);
    dial->resize(50, 50);
    new TFramePacer(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    dial->paints = 0;

    // A change every millisecond for 300 ms, as a fast poll brings them.
    QElapsedTimer clock;
    clock.start();
    int value = 0;
    while (clock.elapsed() < 300) {
        dial->Set(++value);
        QCoreApplication::processEvents();
        QTest::qSleep(1);
    }
    const int during = dial->paints;
    EXPECT_GE(during, 3);   // still painted while it changes
    EXPECT_LE(during, 40);  // about 18 at 60 Hz, not one per change (about 250)

    // The last change is painted without another to push it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dial->painted == value; }, 1000));

    // Once quiet, a change is painted at once: nothing is held back then.
    QTest::qWait(100);
    dial->Set(++value);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(dial->painted, value);
}

// Colours given faster than frames come are each painted, in order, and the last stays.
TEST(FramePacer, EveryColourAShapeIsGivenIsPaintedInOrder)
{
    QWidget window;
    window.resize(100, 50);
    auto* shape = new TShape(&window);
    shape->resize(20, 20);
    TFramePacer pacer(&window);

    // A hidden window paints nothing: nothing waits for it.
    pacer.SetBrushColor(shape, clRed);
    pacer.SetBrushColor(shape, clGreen);
    EXPECT_EQ(shape->BrushColor(), clGreen);

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    QList<TColor> painted;
    struct Recorder : QObject {
        TShape* shape;
        QList<TColor>& painted;
        Recorder(TShape* s, QList<TColor>& p) : shape(s), painted(p) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint &&
                (painted.isEmpty() || painted.last() != shape->BrushColor()))
                painted.append(shape->BrushColor());
            return false;
        }
    } recorder(shape, painted);
    shape->installEventFilter(&recorder);

    const QList<TColor> given{clRed, clBlue, clGreen, clWhite, clRed};
    for (const TColor c : given) {
        pacer.SetBrushColor(shape, c);
        EXPECT_EQ(pacer.BrushColor(shape), c);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return shape->BrushColor() == clRed; }, 1000));
    QTest::qWait(50);
    EXPECT_EQ(painted, given);
}
