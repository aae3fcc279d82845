// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Memo.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

TEST(Memo, TheSameTextAgainChangesNothing)
{
    TMemo memo;
    QSignalSpy changed(&memo, &QLineEdit::textChanged);
    memo.setPlainText("A5 7F 00 07 ");
    memo.setPlainText("A5 7F 00 07 ");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(memo.toPlainText(), "A5 7F 00 07 ");
    EXPECT_EQ(memo.cursorPosition(), 0);  // shown from its start
}

TEST(Memo, TabIsTypedUnlessItChangesFocus)
{
    QWidget window;
    auto* memo = new TMemo(&window);
    auto* next = new TMemo(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    memo->setFocus();
    ASSERT_TRUE(memo->hasFocus());

    QTest::keyClick(memo, Qt::Key_Tab);
    EXPECT_EQ(memo->toPlainText(), "\t");
    EXPECT_TRUE(memo->hasFocus());

    memo->setTabChangesFocus(true);
    QTest::keyClick(memo, Qt::Key_Tab);
    EXPECT_TRUE(next->hasFocus());
    EXPECT_EQ(memo->toPlainText(), "\t");
    next->setTabChangesFocus(true);
    QTest::keyClick(next, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(memo->hasFocus());
}

TEST(Memo, FitFontKeepsTheFaceAndShrinksOnlyToFit)
{
    TMemo memo;
    memo.resize(120, 20);
    QFont big = memo.font();
    big.setPixelSize(16);
    memo.setFont(big);

    memo.FitFont("88 88");  // fits as it is
    EXPECT_EQ(QFontInfo(memo.font()).pixelSize(), 16);

    const QString wide = QString("88 ").repeated(8).trimmed();
    memo.FitFont(wide);
    const QFont fitted = memo.font();
    EXPECT_LT(QFontInfo(fitted).pixelSize(), 16);
    EXPECT_EQ(QFontInfo(fitted).family(), QFontInfo(big).family());
    EXPECT_LE(QFontMetrics(fitted).horizontalAdvance(wide), memo.width());
}
