// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Canvas.h"
#include "toolkit/Shape.h"
#include "support/Scaled.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>

#include <cmath>
#include <set>
#include <utility>

namespace {

constexpr TColor kPaper = RGB(250, 250, 250);

QImage Paper(int w = 16, int h = 12)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(ToQColor(kPaper));
    return image;
}

TColor At(const QImage& image, int x, int y)
{
    return FromQColor(image.pixelColor(x, y));
}

// Every pixel of the given colour, as (x, y).
std::set<std::pair<int, int>> PixelsOf(const QImage& image, TColor color)
{
    std::set<std::pair<int, int>> found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (At(image, x, y) == color)
                found.insert({x, y});
    return found;
}

std::set<std::pair<int, int>> Block(int x1, int y1, int x2, int y2)
{
    std::set<std::pair<int, int>> block;
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x)
            block.insert({x, y});
    return block;
}

}  // namespace

TEST(Canvas, FillLeavesOutTheRightColumnAndBottomRow)
{
    QImage image = Paper();
    {
        Canvas canvas(image);
        canvas.brush = {clRed, bsSolid};
        canvas.fillRect(2, 3, 6, 8);
        canvas.fillRect(12, 5, 9, 9);   // inverted: nothing
        canvas.fillRect(-5, -5, 1, 1);  // partly outside: clipped
        canvas.brush = {clBlue, bsClear};
        canvas.fillRect(0, 0, 16, 12);  // a clear brush fills nothing
    }
    auto expected = Block(2, 3, 5, 7);
    expected.insert({0, 0});
    EXPECT_EQ(PixelsOf(image, clRed), expected);
}

TEST(Canvas, LineLeavesOutItsEndPointInEveryDirection)
{
    QImage image = Paper(12, 12);
    {
        Canvas canvas(image);
        canvas.pen = {clRed, 1, psSolid};
        canvas.moveTo(1, 1);
        canvas.lineTo(6, 1);   // right
        canvas.moveTo(6, 3);
        canvas.lineTo(1, 3);   // left
        canvas.moveTo(9, 10);
        canvas.lineTo(9, 5);   // up
        canvas.moveTo(11, 5);
        canvas.lineTo(11, 10); // down
        canvas.moveTo(1, 5);
        canvas.lineTo(5, 9);   // diagonal
        EXPECT_EQ(canvas.penPos(), QPoint(5, 9));
    }
    auto expected = Block(1, 1, 5, 1);
    expected.merge(Block(2, 3, 6, 3));
    expected.merge(Block(9, 6, 9, 10));
    expected.merge(Block(11, 5, 11, 9));
    for (int i = 0; i < 4; ++i)
        expected.insert({1 + i, 5 + i});
    EXPECT_EQ(PixelsOf(image, clRed), expected);
}

TEST(Canvas, ClearPenMovesWithoutDrawing)
{
    QImage image = Paper();
    {
        Canvas canvas(image);
        canvas.pen = {clRed, 1, psClear};
        canvas.moveTo(0, 0);
        canvas.lineTo(10, 0);
        canvas.pen.style = psSolid;
        canvas.lineTo(10, 4);  // continues from where the clear line ended
    }
    EXPECT_EQ(PixelsOf(image, clRed), Block(10, 0, 10, 3));
}

TEST(Canvas, RectanglePenRunsInsideAndBrushFillsWithin)
{
    QImage image = Paper();
    {
        Canvas canvas(image);
        canvas.pen = {clBlack, 1, psSolid};
        canvas.brush = {clRed, bsSolid};
        canvas.rectangle(1, 1, 8, 7);
        // Without a pen the fill stops one short of the pen's place.
        canvas.pen.style = psClear;
        canvas.brush.color = clBlue;
        canvas.rectangle(10, 1, 14, 5);
    }
    auto outline = Block(1, 1, 7, 6);
    for (const auto& p : Block(2, 2, 6, 5))
        outline.erase(p);
    EXPECT_EQ(PixelsOf(image, clBlack), outline);
    EXPECT_EQ(PixelsOf(image, clRed), Block(2, 2, 6, 5));
    EXPECT_EQ(PixelsOf(image, clBlue), Block(10, 1, 12, 3));
}

TEST(Canvas, RoundedRectangleCutsItsCornersInsideTheSameBounds)
{
    QImage image = Paper(16, 12);
    {
        Canvas canvas(image);
        canvas.pen = {clBlack, 1, psSolid};
        canvas.brush = {clRed, bsClear};
        canvas.roundRect(1, 1, 15, 11, 5, 5);
    }
    const auto pen = PixelsOf(image, clBlack);
    for (const auto& [x, y] : pen) {
        EXPECT_TRUE(x >= 1 && x <= 14 && y >= 1 && y <= 10) << x << "," << y;
        EXPECT_TRUE(x == 1 || x == 14 || y == 1 || y == 10 || (x <= 3 || x >= 12)) << x << "," << y;
    }
    // The corners are cut, the straight sides are drawn, a clear brush leaves the inside.
    for (const auto& corner : {std::pair{1, 1}, {14, 1}, {1, 10}, {14, 10}})
        EXPECT_FALSE(pen.count(corner)) << corner.first << "," << corner.second;
    for (const auto& side : {std::pair{8, 1}, {8, 10}, {1, 6}, {14, 6}})
        EXPECT_TRUE(pen.count(side)) << side.first << "," << side.second;
    EXPECT_EQ(At(image, 8, 6), kPaper);
}

TEST(Canvas, TextSitsWithItsCellAtThePointOverClearOrSolidBackground)
{
    QImage image = Paper(80, 40);
    int tw = 0, th = 0;
    {
        Canvas canvas(image);
        canvas.font.setPixelSize(14);
        canvas.fontColor = clRed;
        tw = canvas.textWidth("88");
        th = canvas.textHeight();
        EXPECT_GT(tw, canvas.textWidth("8"));
        EXPECT_GE(th, 14);
        canvas.brush = {clBlue, bsSolid};
        canvas.textOut(2, 3, "88");
        canvas.brush.style = bsClear;
        canvas.textOut(40, 20, "88");
    }
    const QRect first(2, 3, tw, th);
    const QRect second(40, 20, tw, th);
    // Glyphs in the font colour only, inside the two cells.
    const auto ink = PixelsOf(image, clRed);
    bool inFirst = false, inSecond = false;
    for (const auto& [x, y] : ink) {
        EXPECT_TRUE(first.contains(x, y) || second.contains(x, y)) << x << "," << y;
        inFirst |= first.contains(x, y);
        inSecond |= second.contains(x, y);
    }
    EXPECT_TRUE(inFirst);
    EXPECT_TRUE(inSecond);
    // Solid: the rest of the first cell takes the brush colour; clear: the paper shows.
    auto cell = Block(2, 3, 2 + tw - 1, 3 + th - 1);
    for (const auto& p : ink)
        cell.erase(p);
    EXPECT_EQ(PixelsOf(image, clBlue), cell);
    EXPECT_EQ(At(image, 40, 20), kPaper);
}

TEST(Canvas, SignedFontHeightGivesTheCharacterHeightNegative)
{
    QFont points;
    points.setPointSizeF(9);
    EXPECT_EQ(SignedFontHeight(points, 96), -12);
    EXPECT_EQ(SignedFontHeight(points, 120), -15);
    QFont pixels;
    pixels.setPixelSize(13);
    EXPECT_EQ(SignedFontHeight(pixels, 96), -13);

    QImage image = Paper();
    Canvas canvas(image);
    canvas.font = points;
    EXPECT_EQ(canvas.fontHeight(), SignedFontHeight(points, image.logicalDpiY()));
}

TEST(Canvas, PixelRulesHoldOnAScaledScreen)
{
    // A widget painted through an off-screen image, shown at two device pixels per pixel.
    class Marks : public QWidget {
    protected:
        void paintEvent(QPaintEvent*) override
        {
            PaintThroughImage(*this, [](QPaintDevice& device) {
                Canvas canvas(device);
                canvas.pen.color = clRed;
                canvas.moveTo(3, 0);
                canvas.lineTo(3, 9);
                canvas.brush = {clBlue, bsSolid};
                canvas.fillRect(0, 0, 2, 10);
            });
        }
    } marks;
    marks.resize(8, 10);
    QImage scaled(16, 20, QImage::Format_RGB32);
    scaled.setDevicePixelRatio(2);
    scaled.fill(Qt::white);
    marks.render(&scaled, QPoint(), QRegion(), QWidget::DrawChildren);
    scaled.setDevicePixelRatio(1);
    for (int y = 0; y < 20; ++y) {
        for (int x : {6, 7})  // the line at x 3, whole, except its end point (rows 18, 19)
            EXPECT_EQ(FromQColor(scaled.pixelColor(x, y)), y < 18 ? clRed : clWhite) << x << "," << y;
        for (int x : {0, 1, 2, 3})
            EXPECT_EQ(FromQColor(scaled.pixelColor(x, y)), clBlue) << x << "," << y;
    }
}

TEST(Canvas, CircleOutlineIsDrawnAtTheDeviceResolution)
{
    TShape shape;
    shape.SetShape(stCircle);
    shape.resize(41, 41);
    const QImage image = RenderScaled(shape, 2, ToQColor(kPaper));
    const auto pen = PixelsOf(image, clBlack);
    ASSERT_FALSE(pen.empty());
    // Along a curve drawn at the device's resolution, blocks are split between the pen and
    // what lies beside it.
    EXPECT_GT(SplitBlocks(pen), static_cast<int>(pen.size()) / 4);
    // The outline runs round the whole figure, one pixel of the shape (two device pixels)
    // wide at its sides, and the brush fills the inside.
    for (const int x : {0, 1, 80, 81})
        EXPECT_EQ(At(image, x, 41), clBlack) << x;
    EXPECT_EQ(At(image, 2, 41), clWhite);
    EXPECT_EQ(At(image, 41, 41), clWhite);
}

TEST(Canvas, RectanglePenCoversItsPixelsAtEveryRatio)
{
    TShape shape;
    shape.resize(10, 8);
    for (const double ratio : {1.25, 1.5, 2.0, 3.0}) {
        const QImage image = RenderScaled(shape, ratio, ToQColor(kPaper));
        // Device pixel d belongs to the shape's pixel its centre falls in (a centre on the
        // line between two goes to the one before, as Qt fills).
        const auto pixelOf = [ratio](int d) {
            return static_cast<int>(std::ceil((d + 0.5) / ratio)) - 1;
        };
        for (int d = 0; d < image.width(); ++d) {
            const int x = pixelOf(d);
            const TColor expected = x == 0 || x == 9 ? clBlack : clWhite;
            EXPECT_EQ(At(image, d, image.height() / 2), expected) << ratio << " " << d;
        }
        for (int d = 0; d < image.height(); ++d) {
            const int y = pixelOf(d);
            const TColor expected = y == 0 || y == 7 ? clBlack : clWhite;
            EXPECT_EQ(At(image, image.width() / 2, d), expected) << ratio << " " << d;
        }
    }
}
