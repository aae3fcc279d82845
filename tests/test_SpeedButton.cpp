// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/SpeedButton.h"

#include "toolkit/Graphics.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QFont>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

namespace {

QRgb face() { return ToQColor(clBtnFace).rgb(); }
QRgb shadow() { return ToQColor(clBtnShadow).rgb(); }
QRgb highlight() { return QApplication::palette().color(QPalette::Light).rgb(); }

QImage render(TSpeedButton& button)
{
    return button.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Cells of 4 by 4 side by side in the key colour magenta; pixel (1, 1) of each cell carries
// a mark that shows which cell was drawn.
QImage glyph(int cells, std::initializer_list<QRgb> marks)
{
    QImage image(4 * cells, 4, QImage::Format_RGB32);
    image.fill(qRgb(255, 0, 255));
    int cell = 0;
    for (const QRgb mark : marks)
        image.setPixel(4 * cell++ + 1, 1, mark);
    return image;
}

}  // namespace

TEST(SpeedButton, FlatFrameShowsOnlyUnderTheMouseOrPressed)
{
    TSpeedButton button;
    button.resize(25, 25);
    button.SetFlat(true);
    EXPECT_EQ(button.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(render(button).pixel(0, 0), face());

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
    QImage shot = render(button);
    EXPECT_EQ(shot.pixel(0, 0), highlight());
    EXPECT_EQ(shot.pixel(24, 24), shadow());
    EXPECT_EQ(shot.pixel(1, 1), face());

    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    shot = render(button);
    EXPECT_EQ(shot.pixel(0, 0), shadow());
    EXPECT_EQ(shot.pixel(24, 24), highlight());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(5, 5));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(render(button).pixel(0, 0), face());
    button.SetDown(true);
    EXPECT_EQ(render(button).pixel(0, 0), shadow());

    button.SetDown(false);
    button.SetFlat(false);
    shot = render(button);
    EXPECT_EQ(shot.pixel(0, 0), highlight());
    EXPECT_EQ(shot.pixel(24, 24), ToQColor(cl3DDkShadow).rgb());
    EXPECT_EQ(shot.pixel(23, 23), shadow());
}

TEST(SpeedButton, GlyphCellsFollowTheStateAndTheKeyColourIsTransparent)
{
    TSpeedButton button;
    button.resize(25, 25);
    button.SetGlyph(glyph(4, {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(9, 9, 9)}));
    button.SetNumGlyphs(4);
    // A 4 by 4 glyph, centred: the margin rounds down, the cross axis up: at (10, 11).
    QImage shot = render(button);
    EXPECT_EQ(shot.pixel(11, 12), qRgb(255, 0, 0));
    EXPECT_EQ(shot.pixel(10, 11), face());
    EXPECT_EQ(shot.pixel(10, 14), face());

    button.setEnabled(false);
    EXPECT_EQ(render(button).pixel(11, 12), qRgb(0, 255, 0));
    button.setEnabled(true);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(render(button).pixel(12, 13), qRgb(0, 0, 255));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(5, 5));
    button.SetDown(true);
    EXPECT_EQ(render(button).pixel(12, 13), qRgb(9, 9, 9));

    // A single glyph is engraved when disabled.
    button.SetDown(false);
    button.SetGlyph(glyph(1, {qRgb(255, 0, 0)}));
    button.SetNumGlyphs(1);
    button.setEnabled(false);
    shot = render(button);
    EXPECT_EQ(shot.pixel(11, 12), shadow());
    EXPECT_EQ(shot.pixel(12, 13), highlight());
    button.SetNumGlyphs(9);
    EXPECT_EQ(button.NumGlyphs(), 4);
}

TEST(SpeedButton, CaptionIsMeasuredByLinesAndDrawnBesideTheGlyph)
{
    const QFont font;
    EXPECT_EQ(CaptionExtent(font, {}), QSize(0, 0));
    const QSize one = CaptionExtent(font, QStringLiteral("Read"));
    const QSize two = CaptionExtent(font, QStringLiteral("Read\nRead"));
    EXPECT_EQ(two.width(), one.width());
    EXPECT_GT(two.height(), one.height());

    TSpeedButton button;
    button.resize(80, 25);
    button.SetCaption(QStringLiteral("Read"));
    button.SetHint(QStringLiteral("ZUB-3から設定値を読み込みます。"));
    EXPECT_EQ(button.toolTip(), QStringLiteral("ZUB-3から設定値を読み込みます。"));
    const QImage shot = render(button);
    int inked = 0;
    for (int y = 2; y < 23; ++y)
        for (int x = 2; x < 78; ++x)
            inked += shot.pixel(x, y) != face();
    EXPECT_GT(inked, 0);

    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(40, 12));
    EXPECT_EQ(clicks.count(), 1);
}
