// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/PngSpeedButton.h"

#include "support/PngEncode.h"
#include "support/Scaled.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Graphics.h"
#include "widgets/PngButtonFunctions.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

namespace {

// A 16 by 16 RGBA image in one colour; the first row carries the given alpha values.
TPngImage rgbaIcon(TColor color, std::vector<std::uint8_t> firstRow = {})
{
    TPngImage image(PngColorType::RGBA, 16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            image.setPixel(x, y, color);
    std::copy(firstRow.begin(), firstRow.end(), image.alphaScanline(0));
    return image;
}

TPngImage decoded(const TestPng& png)
{
    TPngImage image;
    image.loadFromData(EncodePng(png));
    return image;
}

// 16 by 16, colour type and depth 8, every sample the same; the first pixel differs.
TestPng plainPng(int colorType, unsigned sample, unsigned first)
{
    TestPng png;
    png.width = 16;
    png.height = 16;
    png.colorType = colorType;
    const std::size_t channels = colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    png.samples.assign(16 * 16 * channels, sample);
    std::fill_n(png.samples.begin(), channels, first);
    return png;
}

struct ProgramButton {
    TPngSpeedButton button;
    ProgramButton()
    {
        button.resize(25, 25);
        button.SetFlat(true);
    }
    QImage render() { return button.grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

QRgb face()
{
    return ToQColor(clBtnFace).rgb();
}

int blend(int image, int background, int alpha)
{
    return (image * alpha + background * (255 - alpha) + 255) >> 8;
}

QRgb blendOverFace(TColor color, int alpha)
{
    const QRgb bg = face();
    return qRgb(blend(GetRValue(color), qRed(bg), alpha), blend(GetGValue(color), qGreen(bg), alpha),
                blend(GetBValue(color), qBlue(bg), alpha));
}

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class ActionProbe : public TPngSpeedButton {
public:
    using TPngSpeedButton::actionChange;
};

const TColor orange = RGB(240, 130, 20);

}  // namespace

TEST(PngSpeedButton, StartsEmptyWithBlendOption)
{
    TPngSpeedButton button;
    EXPECT_TRUE(button.PngImage().isEmpty());
    EXPECT_EQ(button.PngOptions(), TPngOptions{pngBlendOnDisabled});
    EXPECT_FALSE(button.imageFromAction());
    EXPECT_EQ(button.Margin(), -1);
    EXPECT_EQ(button.Spacing(), 4);
    EXPECT_EQ(button.Layout(), blGlyphLeft);
}

TEST(PngSpeedButton, ImageSitsAtFourFiveAndMovesWhenPressedOrDown)
{
    ProgramButton b;
    const TPngImage icon = rgbaIcon(orange);
    b.button.SetPngImage(icon);
    QImage shot = b.render();
    EXPECT_EQ(shot.pixel(4, 5), ToQColor(orange).rgb());
    EXPECT_EQ(shot.pixel(19, 20), ToQColor(orange).rgb());
    EXPECT_EQ(shot.pixel(3, 5), face());
    EXPECT_EQ(shot.pixel(4, 4), face());
    EXPECT_EQ(shot.pixel(20, 20), face());

    QSignalSpy clicks(&b.button, &QAbstractButton::clicked);
    QTest::mousePress(&b.button, Qt::LeftButton, {}, QPoint(12, 12));
    shot = b.render();
    EXPECT_EQ(shot.pixel(5, 6), ToQColor(orange).rgb());
    EXPECT_EQ(shot.pixel(4, 6), face());
    EXPECT_EQ(shot.pixel(20, 21), ToQColor(orange).rgb());
    QTest::mouseRelease(&b.button, Qt::LeftButton, {}, QPoint(12, 12));
    EXPECT_EQ(clicks.count(), 1);

    b.button.SetDown(true);
    shot = b.render();
    EXPECT_EQ(shot.pixel(5, 6), ToQColor(orange).rgb());
    EXPECT_EQ(shot.pixel(4, 5), face());
}

TEST(PngSpeedButton, DisabledButtonBlendsTheFadedImageOverTheFace)
{
    ProgramButton b;
    const TPngImage icon = rgbaIcon(orange, {255, 254, 3, 0});
    b.button.SetPngImage(icon);
    b.button.setEnabled(false);
    for (int paint = 0; paint < 2; ++paint) {  // made afresh each time
        const QImage shot = b.render();
        EXPECT_EQ(shot.pixel(4, 5), blendOverFace(orange, 128));
        EXPECT_EQ(shot.pixel(5, 5), blendOverFace(orange, 127));
        EXPECT_EQ(shot.pixel(6, 5), blendOverFace(orange, 2));
        EXPECT_EQ(shot.pixel(7, 5), face());
        EXPECT_EQ(shot.pixel(4, 6), blendOverFace(orange, 128));
    }
    EXPECT_EQ(b.button.PngImage().alphaScanline(0)[0], 255);

    b.button.SetPngOptions({pngBlendOnDisabled, pngGrayscaleOnDisabled});
    const int g = (30 * 240 + 59 * 130 + 11 * 20 + 50) / 100;
    EXPECT_EQ(b.render().pixel(4, 6), blendOverFace(RGB(g, g, g), 128));

    b.button.SetPngOptions({pngGrayscaleOnDisabled});
    EXPECT_EQ(b.render().pixel(4, 6), blendOverFace(RGB(g, g, g), 255));

    b.button.SetPngOptions({});
    EXPECT_EQ(b.render().pixel(4, 6), ToQColor(orange).rgb());
    EXPECT_EQ(b.render().pixel(5, 5), blendOverFace(orange, 254));

    b.button.setEnabled(true);
    b.button.SetPngOptions({pngBlendOnDisabled, pngGrayscaleOnDisabled});
    EXPECT_EQ(b.render().pixel(4, 6), ToQColor(orange).rgb());
}

TEST(PngSpeedButton, GreyAndPaletteImagesFadeTo127AndRgbTo128)
{
    ProgramButton b;
    b.button.setEnabled(false);

    TestPng greyPng = plainPng(PNG_COLOR_TYPE_GRAY, 200, 50);
    greyPng.transparentColor = png_color_16{0, 0, 0, 0, 50};
    const TPngImage grey = decoded(greyPng);
    b.button.SetPngImage(grey);
    QImage shot = b.render();
    EXPECT_EQ(shot.pixel(4, 5), face());
    EXPECT_EQ(shot.pixel(5, 5), blendOverFace(RGB(200, 200, 200), 127));

    TestPng palettePng = plainPng(PNG_COLOR_TYPE_PALETTE, 1, 0);
    palettePng.palette = {{10, 20, 30}, {240, 130, 20}};
    const TPngImage palette = decoded(palettePng);
    b.button.SetPngImage(palette);
    shot = b.render();
    EXPECT_EQ(shot.pixel(4, 5), blendOverFace(RGB(10, 20, 30), 127));
    EXPECT_EQ(shot.pixel(5, 5), blendOverFace(orange, 127));

    TestPng rgbPng = plainPng(PNG_COLOR_TYPE_RGB, 100, 100);
    const TPngImage rgb = decoded(rgbPng);
    b.button.SetPngImage(rgb);
    EXPECT_EQ(b.render().pixel(9, 9), blendOverFace(RGB(100, 100, 100), 128));
}

TEST(PngSpeedButton, OptionsWriteRepaintsOnlyWhenTheyChange)
{
    TPngSpeedButton button;
    button.resize(25, 25);
    button.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
    PaintCounter counter;
    button.installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;

    button.SetPngOptions({pngBlendOnDisabled});
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);

    button.SetPngOptions({pngGrayscaleOnDisabled});
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 1);
    EXPECT_EQ(button.PngOptions(), TPngOptions{pngGrayscaleOnDisabled});

    counter.paints = 0;
    button.SetPngOptions({pngGrayscaleOnDisabled});
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
}

TEST(PngSpeedButton, ImageWriteCopiesDropsGammaAndFitsTheSpacer)
{
    ProgramButton b;
    b.button.SetNumGlyphs(3);
    TestPng png = plainPng(PNG_COLOR_TYPE_RGB, 9, 9);
    png.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    png.samples.assign(16 * 16 * 4, 200);
    png.gamma = true;
    TPngImage source = decoded(png);
    b.button.SetPngImage(source);
    EXPECT_FALSE(b.button.PngImage().hasGamma());
    EXPECT_TRUE(source.hasGamma());
    source.setPixel(0, 0, clBlack);
    EXPECT_EQ(b.button.PngImage().pixel(0, 0), RGB(200, 200, 200));

    const QImage& glyph = b.button.Glyph();
    ASSERT_EQ(glyph.size(), QSize(16, 16));
    EXPECT_EQ(b.button.NumGlyphs(), 1);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(glyph.pixel(x, y), face());

    TestPng greyPng = plainPng(PNG_COLOR_TYPE_GRAY, 9, 9);
    greyPng.gamma = true;
    const TPngImage grey = decoded(greyPng);
    b.button.SetPngImage(grey);
    EXPECT_TRUE(b.button.PngImage().hasGamma());

    b.button.SetPngImage(TPngImage());
    EXPECT_TRUE(b.button.PngImage().isEmpty());
    EXPECT_EQ(b.button.Glyph().size(), QSize(0, 0));
    EXPECT_EQ(b.button.NumGlyphs(), 1);
    const QImage shot = b.render();
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 25; ++x)
            ASSERT_EQ(shot.pixel(x, y), face()) << x << "," << y;
}

TEST(PngSpeedButton, FormLoadingKeepsTheStoredFileAsItIs)
{
    ProgramButton b;
    TestPng png = plainPng(PNG_COLOR_TYPE_RGB, 9, 9);
    png.gamma = true;
    b.button.PngImage().loadFromData(EncodePng(png));
    b.button.loaded();
    EXPECT_TRUE(b.button.PngImage().hasGamma());
    EXPECT_EQ(b.button.Glyph().size(), QSize(16, 16));
}

TEST(PngSpeedButton, ActionWithAnImageListLendsItsImage)
{
    TPngImageList images;
    images.addPng(rgbaIcon(orange));
    images.addPng(rgbaIcon(clBlue));
    TCustomActionList actions;
    actions.SetImages(&images);
    TCustomAction action;
    action.setActionList(&actions);
    action.SetCaption(QStringLiteral("読込"));
    action.SetHint(QStringLiteral("ヒント"));
    action.SetImageIndex(0);

    ActionProbe button;
    button.setAction(&action);
    EXPECT_EQ(button.Caption(), QStringLiteral("読込"));
    EXPECT_EQ(button.Hint(), QStringLiteral("ヒント"));
    EXPECT_TRUE(button.imageFromAction());
    EXPECT_EQ(button.PngImage().pixel(0, 0), orange);
    EXPECT_EQ(button.Glyph().size(), QSize(16, 16));

    action.SetImageIndex(1);
    EXPECT_EQ(button.PngImage().pixel(0, 0), clBlue);
    action.SetImageIndex(2);
    action.SetImageIndex(-1);
    EXPECT_EQ(button.PngImage().pixel(0, 0), clBlue);
    action.SetEnabled(false);
    EXPECT_FALSE(button.isEnabled());

    // Only actions are listened to, and an image of the button's own is kept.
    QObject stranger;
    button.actionChange(&stranger);
    const TPngImage own = rgbaIcon(clRed);
    button.SetPngImage(own);
    EXPECT_FALSE(button.imageFromAction());
    action.SetImageIndex(0);
    EXPECT_EQ(button.PngImage().pixel(0, 0), clRed);
    EXPECT_FALSE(button.imageFromAction());

    QSignalSpy executed(&action, &TCustomAction::executed);
    button.setEnabled(true);
    button.click();
    EXPECT_EQ(executed.count(), 1);
}

TEST(PngSpeedButton, PublishesTheImageFirstAndStoresItOnlyWhileItIsItsOwn)
{
    TPngSpeedButton button;
    const QMetaObject* meta = button.metaObject();
    QStringList names;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        names << meta->property(i).name();
    EXPECT_EQ(names, (QStringList{"PngImage", "PngOptions", "Glyph", "NumGlyphs"}));

    // A stored form applies the image by name, through the write that fits the glyph.
    EXPECT_TRUE(button.setProperty("PngImage", QVariant::fromValue(rgbaIcon(orange))));
    EXPECT_EQ(button.PngImage().pixel(0, 0), orange);
    EXPECT_EQ(button.Glyph().size(), QSize(16, 16));
    EXPECT_EQ(button.property("PngImage").value<TPngImage>().width(), 16);

    EXPECT_EQ(TPngSpeedButton::DeclaredDefault("PngOptions"),
              QVariant::fromValue(TPngOptions{pngBlendOnDisabled}));
    EXPECT_FALSE(TPngSpeedButton::DeclaredDefault("PngImage"));
    EXPECT_TRUE(button.StoredInForm("PngImage"));
    EXPECT_FALSE(button.StoredInForm("PngOptions"));
    EXPECT_FALSE(button.StoredInForm("Glyph"));
    EXPECT_FALSE(button.StoredInForm("NumGlyphs"));
    button.SetPngOptions({});
    EXPECT_TRUE(button.StoredInForm("PngOptions"));

    // An image lent by an action is the action's to store.
    TPngImageList images;
    images.addPng(rgbaIcon(clBlue));
    TCustomActionList actions;
    actions.SetImages(&images);
    TCustomAction action;
    action.setActionList(&actions);
    action.SetImageIndex(0);
    button.SetPngImage(TPngImage());
    button.setAction(&action);
    ASSERT_TRUE(button.imageFromAction());
    EXPECT_FALSE(button.StoredInForm("PngImage"));
    button.SetPngImage(rgbaIcon(orange));
    EXPECT_TRUE(button.StoredInForm("PngImage"));
}

TEST(PngSpeedButton, AnOversizedImageFromAnActionIsReportedNotThrown)
{
    SetApplicationTitle("ZUB-3 Manager");
    std::vector<MessageRecord> seen;
    const MessageBoxHook previous =
        SetMessageBoxHook([&seen](const MessageRecord& m) { seen.push_back(m); });
    QImage color(1025, 1, QImage::Format_RGB32);
    color.fill(qRgb(1, 2, 3));
    QImage mask(1025, 1, QImage::Format_RGB32);
    mask.fill(qRgb(0, 0, 0));
    TCustomImageList icons;
    icons.add(color, mask);
    TCustomActionList actions;
    actions.SetImages(&icons);
    TCustomAction action;
    action.setActionList(&actions);
    TPngSpeedButton button;
    button.setAction(&action);

    EXPECT_NO_THROW(action.SetImageIndex(0));
    SetMessageBoxHook(previous);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, MessageKind::Error);
    EXPECT_EQ(seen[0].text, "PNG image too large: 1025 x 1 pixels, the limit is 1024 x 1024.");
    EXPECT_TRUE(button.PngImage().isEmpty());
    EXPECT_FALSE(button.imageFromAction());
}

TEST(PngSpeedButton, ImageSitsWhereTheBaseButtonPutsItsGlyph)
{
    // A glyph the base button shows: one colour but for its lower-left pixel, the key.
    QImage glyph(16, 16, QImage::Format_RGB32);
    glyph.fill(qRgb(255, 0, 0));
    glyph.setPixel(0, 15, qRgb(255, 0, 255));
    const TPngImage image = rgbaIcon(orange);
    for (const QSize size : {QSize(25, 25), QSize(26, 24), QSize(60, 25), QSize(61, 25)}) {
        for (const QString& caption : {QString(), QStringLiteral("Ab"), QStringLiteral("Abc")}) {
            if (size.width() < 60 && !caption.isEmpty())
                continue;  // no room for a caption beside the glyph
            TSpeedButton base;
            base.resize(size);
            base.SetGlyph(glyph);
            base.SetCaption(caption);
            const QImage shot = base.grab().toImage().convertToFormat(QImage::Format_RGB32);
            QPoint corner(-1, -1);
            for (int y = 0; y < shot.height() && corner.x() < 0; ++y)
                for (int x = 0; x < shot.width() && corner.x() < 0; ++x)
                    if (shot.pixel(x, y) == qRgb(255, 0, 0))
                        corner = QPoint(x, y);
            EXPECT_EQ(corner, CalcImagePosition(base.rect(), image, caption, base.font(),
                                                blGlyphLeft, -1, 4, false, false, false))
                << size.width() << "x" << size.height() << " '" << caption.toStdString() << "'";
        }
    }
}

TEST(PngSpeedButton, ScaledScreensShowTheLargeImagePixelForPixel)
{
    // A checkerboard that a small image blown up could not give.
    TPngImage large(PngColorType::RGBA, 32, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            large.setPixel(x, y, (x + y) % 2 ? clRed : clBlue);
    ProgramButton b;
    b.button.SetPngImage(rgbaIcon(clGreen));
    b.button.SetPngImage2x(large);
    const auto count = [&](double ratio, QRgb color) {
        const QImage shot = RenderScaled(b.button, ratio, Qt::black);
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                n += shot.pixel(x, y) == color;
        return n;
    };
    const QRgb red = ToQColor(clRed).rgb(), blue = ToQColor(clBlue).rgb();
    const QRgb green = ToQColor(clGreen).rgb();
    EXPECT_EQ(count(2, red), 512);
    EXPECT_EQ(count(2, blue), 512);
    EXPECT_EQ(count(2, green), 0);
    EXPECT_EQ(count(1, green), 256);  // unscaled: the small image

    // Disabled, the large image is greyed like the small one.
    b.button.SetPngOptions({pngGrayscaleOnDisabled});
    b.button.setEnabled(false);
    const int greyRed = (30 * 255 + 50) / 100, greyBlue = (11 * 255 + 50) / 100;
    EXPECT_EQ(count(2, qRgb(greyRed, greyRed, greyRed)), 512);
    EXPECT_EQ(count(2, qRgb(greyBlue, greyBlue, greyBlue)), 512);
    b.button.setEnabled(true);

    // A large image of another size is not used; a new image drops the large one.
    b.button.SetPngImage2x(rgbaIcon(clRed));
    EXPECT_EQ(count(2, red), 0);
    b.button.SetPngImage2x(large);
    b.button.SetPngImage(rgbaIcon(clGreen));
    EXPECT_EQ(count(2, red), 0);
    EXPECT_TRUE(b.button.PngImage2x().isEmpty());
}
