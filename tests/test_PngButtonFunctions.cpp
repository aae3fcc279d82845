// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/PngButtonFunctions.h"

#include "widgets/PngFunctions.h"

#include <gtest/gtest.h>

#include <QFont>

namespace {

const TPngImage icon(PngColorType::RGBA, 16, 16);

QPoint position(const QRect& client, const TPngImage& image, const QString& caption,
                TButtonLayout layout, int margin, int spacing, bool rightToLeft = false,
                bool pressed = false, bool down = false)
{
    return CalcImagePosition(client, image, caption, QFont(), layout, margin, spacing, rightToLeft,
                             pressed, down);
}

}  // namespace

TEST(CalcImagePosition, ProgramButtonsPutTheImageAtFourFive)
{
    const QRect client(0, 0, 25, 25);
    EXPECT_EQ(position(client, icon, {}, blGlyphLeft, -1, 4), QPoint(4, 5));
    EXPECT_EQ(position(client, icon, {}, blGlyphLeft, -1, 4, false, true, false), QPoint(5, 6));
    EXPECT_EQ(position(client, icon, {}, blGlyphLeft, -1, 4, false, false, true), QPoint(5, 6));
    EXPECT_EQ(position(client, icon, {}, blGlyphLeft, -1, 4, false, true, true), QPoint(5, 6));
    EXPECT_EQ(position(QRect(10, 20, 25, 25), icon, {}, blGlyphLeft, -1, 4), QPoint(14, 25));
}

TEST(CalcImagePosition, CentredMarginsWithACaption)
{
    const QString caption = QStringLiteral("読込");
    const QSize text = CaptionExtent(QFont(), caption);
    ASSERT_GT(text.width(), 0);
    const QRect client(0, 0, 101, 40);

    // Margin and spacing -1: a third of the free space on each side and between.
    EXPECT_EQ(position(client, icon, caption, blGlyphLeft, -1, -1),
              QPoint((101 - 16 - text.width()) / 3, (40 - 16 + 1) / 2));
    EXPECT_EQ(position(client, icon, caption, blGlyphTop, -1, -1),
              QPoint((101 - 16 + 1) / 2, (40 - 16 - text.height()) / 3));
    // A fixed spacing: half the rest, rounded down.
    EXPECT_EQ(position(client, icon, caption, blGlyphLeft, -1, 3).x(),
              (101 - (16 + 3 + text.width())) / 2);
    EXPECT_EQ(position(client, icon, caption, blGlyphBottom, -1, 3).y(),
              40 - (40 - (16 + 3 + text.height())) / 2 - 16);
}

TEST(CalcImagePosition, FixedMarginsFromEachEdgeAndRightToLeft)
{
    const QRect client(0, 0, 30, 20);
    EXPECT_EQ(position(client, icon, {}, blGlyphLeft, 2, 4), QPoint(2, 2));
    EXPECT_EQ(position(client, icon, {}, blGlyphRight, 2, 4), QPoint(12, 2));
    EXPECT_EQ(position(client, icon, {}, blGlyphTop, 1, 4), QPoint(7, 1));
    EXPECT_EQ(position(client, icon, {}, blGlyphBottom, 1, 4), QPoint(7, 3));
    // Right-to-left reading swaps left and right only.
    EXPECT_EQ(position(client, icon, {}, blGlyphLeft, 2, 4, true), QPoint(12, 2));
    EXPECT_EQ(position(client, icon, {}, blGlyphRight, 2, 4, true), QPoint(2, 2));
    EXPECT_EQ(position(client, icon, {}, blGlyphTop, 1, 4, true), QPoint(7, 1));
}

TEST(CalcImagePosition, NoImageDropsTheSpacing)
{
    const TPngImage none;
    const QString caption = QStringLiteral("W");
    const int tw = CaptionExtent(QFont(), caption).width();
    EXPECT_EQ(position(QRect(0, 0, 40, 20), none, caption, blGlyphLeft, -1, 6).x(), (40 - tw) / 2);
    EXPECT_EQ(position(QRect(0, 0, 40, 20), none, {}, blGlyphLeft, -1, 6), QPoint(20, 10));
}
