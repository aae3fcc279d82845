// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/PngFunctions.h"

#include "support/PngEncode.h"

#include <gtest/gtest.h>

#include <QImage>

#include <zlib.h>

#include <cstring>

namespace {

TPngImage decode(const TestPng& png)
{
    TPngImage image;
    image.loadFromData(EncodePng(png));
    return image;
}

// One row of width pixels.
TestPng row(int colorType, int bitDepth, int width, std::vector<unsigned> samples)
{
    TestPng png;
    png.width = width;
    png.colorType = colorType;
    png.bitDepth = bitDepth;
    png.samples = std::move(samples);
    return png;
}

TestPng grey(int bitDepth, std::vector<unsigned> samples)
{
    const int width = static_cast<int>(samples.size());
    return row(PNG_COLOR_TYPE_GRAY, bitDepth, width, std::move(samples));
}

TestPng rgbPixels(std::vector<unsigned> samples)
{
    const int width = static_cast<int>(samples.size() / 3);
    return row(PNG_COLOR_TYPE_RGB, 8, width, std::move(samples));
}

TestPng palettePixels(std::vector<unsigned> indices, std::vector<png_byte> alpha = {})
{
    const int width = static_cast<int>(indices.size());
    TestPng png = row(PNG_COLOR_TYPE_PALETTE, 8, width, std::move(indices));
    png.palette = {{200, 10, 20}, {0, 0, 255}, {9, 8, 7}};
    png.paletteAlpha = std::move(alpha);
    return png;
}

TPngImage rgbaImage(std::vector<std::uint8_t> alphas)
{
    TPngImage image(PngColorType::RGBA, static_cast<int>(alphas.size()), 1);
    for (int x = 0; x < image.width(); ++x) {
        image.setPixel(x, 0, RGB(200, 100, 50));
        image.alphaScanline(0)[x] = alphas[static_cast<std::size_t>(x)];
    }
    return image;
}

std::vector<int> alphaRow(const TPngImage& image)
{
    const std::uint8_t* alpha = image.alphaScanline(0);
    return {alpha, alpha + image.width()};
}

// The file with bytes of a chunk's data overwritten and its checksum made right again, for
// files that libpng would not write.
QByteArray withChunkBytes(QByteArray file, const char* chunk, qsizetype offset, const QByteArray& bytes)
{
    const qsizetype type = file.indexOf(chunk);
    file.replace(type + 4 + offset, bytes.size(), bytes);
    const auto* length = reinterpret_cast<const unsigned char*>(file.constData() + type - 4);
    const qsizetype size = 4 + (length[0] << 24 | length[1] << 16 | length[2] << 8 | length[3]);
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(file.constData() + type), static_cast<uInt>(size));
    for (int i = 0; i < 4; ++i)
        file[type + size + i] = static_cast<char>(crc >> (24 - 8 * i));
    return file;
}

QByteArray bigEndian(std::vector<unsigned> values, int bytes)
{
    QByteArray out;
    for (const unsigned v : values)
        for (int i = bytes - 1; i >= 0; --i)
            out.append(static_cast<char>(v >> (8 * i)));
    return out;
}

// The file's transparent colour replaced by samples that need not fit its bit depth.
QByteArray withTransparentSamples(const QByteArray& file, std::vector<unsigned> values)
{
    return withChunkBytes(file, "tRNS", 0, bigEndian(std::move(values), 2));
}

QImage canvas(int width, int height, QRgb fill)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

}  // namespace

TEST(PngDecoding, EveryColourTypeAndBitDepthComesOutAsEightBitSamples)
{
    struct Case {
        TestPng png;
        PngColorType type;
        std::vector<TColor> colors;
        std::vector<int> alpha;
    };
    const std::vector<Case> cases = {
        {grey(1, {0, 1, 1}), PngColorType::Grey, {RGB(0, 0, 0), RGB(255, 255, 255), RGB(255, 255, 255)}, {}},
        {grey(2, {0, 1, 3}), PngColorType::Grey, {RGB(0, 0, 0), RGB(85, 85, 85), RGB(255, 255, 255)}, {}},
        {grey(4, {1, 7, 15}), PngColorType::Grey, {RGB(17, 17, 17), RGB(119, 119, 119), RGB(255, 255, 255)}, {}},
        {grey(8, {0, 99, 255}), PngColorType::Grey, {RGB(0, 0, 0), RGB(99, 99, 99), RGB(255, 255, 255)}, {}},
        {grey(16, {0x12FF, 0xAB00, 0xFFFF}), PngColorType::Grey, {RGB(0x12, 0x12, 0x12), RGB(0xAB, 0xAB, 0xAB), RGB(255, 255, 255)}, {}},
        {rgbPixels({1, 2, 3, 250, 128, 0}), PngColorType::RGB, {RGB(1, 2, 3), RGB(250, 128, 0)}, {}},
        {row(PNG_COLOR_TYPE_RGB, 16, 2, {0x0100, 0x0200, 0x03FF, 0xFA00, 0x8000, 0x00FF}),
         PngColorType::RGB, {RGB(1, 2, 3), RGB(250, 128, 0)}, {}},
        {row(PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, {10, 255, 20, 7}),
         PngColorType::GreyAlpha, {RGB(10, 10, 10), RGB(20, 20, 20)}, {255, 7}},
        {row(PNG_COLOR_TYPE_GRAY_ALPHA, 16, 2, {0x0A00, 0xFFFF, 0x1400, 0x0700}),
         PngColorType::GreyAlpha, {RGB(10, 10, 10), RGB(20, 20, 20)}, {255, 7}},
        {row(PNG_COLOR_TYPE_RGB_ALPHA, 8, 2, {1, 2, 3, 4, 5, 6, 7, 8}),
         PngColorType::RGBA, {RGB(1, 2, 3), RGB(5, 6, 7)}, {4, 8}},
        {row(PNG_COLOR_TYPE_RGB_ALPHA, 16, 2, {0x0100, 0x0200, 0x0300, 0x0400, 0x0500, 0x0600, 0x0700, 0x0800}),
         PngColorType::RGBA, {RGB(1, 2, 3), RGB(5, 6, 7)}, {4, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "colour type " << c.png.colorType << ", depth " << c.png.bitDepth);
        for (const bool interlaced : {false, true}) {
            TestPng png = c.png;
            png.interlaced = interlaced;
            const TPngImage image = decode(png);
            EXPECT_EQ(image.colorType(), c.type);
            ASSERT_EQ(image.width(), static_cast<int>(c.colors.size()));
            EXPECT_EQ(image.height(), 1);
            for (int x = 0; x < image.width(); ++x)
                EXPECT_EQ(image.pixel(x, 0), c.colors[static_cast<std::size_t>(x)]) << "pixel " << x;
            if (!c.alpha.empty()) {
                EXPECT_EQ(alphaRow(image), c.alpha);
            }
            EXPECT_EQ(image.alphaScanline(0) != nullptr, !c.alpha.empty());
            EXPECT_EQ(image.transparencyMode(), c.alpha.empty() ? PngTransparency::None : PngTransparency::Partial);
        }
    }
}

TEST(PngDecoding, PaletteImagesKeepIndicesAndPaletteAtEveryDepth)
{
    for (const int depth : {1, 2, 4, 8}) {
        SCOPED_TRACE(::testing::Message() << "depth " << depth);
        TestPng png = palettePixels({1, 0, 1});
        png.bitDepth = depth;
        png.palette.resize(2);
        const TPngImage image = decode(png);
        EXPECT_EQ(image.colorType(), PngColorType::Palette);
        EXPECT_EQ(image.palette(), (std::vector<TColor>{RGB(200, 10, 20), RGB(0, 0, 255)}));
        EXPECT_EQ(image.scanline(0)[0], 1);
        EXPECT_EQ(image.scanline(0)[1], 0);
        EXPECT_EQ(image.pixel(2, 0), RGB(0, 0, 255));
    }
}

TEST(PngDecoding, TransparencyChunkGivesKindAndColour)
{
    TestPng g = grey(2, {1, 2});
    g.transparentColor = png_color_16{0, 0, 0, 0, 2};
    const TPngImage greyImage = decode(g);
    EXPECT_EQ(greyImage.transparencyMode(), PngTransparency::SingleColor);
    EXPECT_EQ(greyImage.transparentColor(), RGB(170, 170, 170));
    EXPECT_EQ(greyImage.opacity(0, 0), 255);
    EXPECT_EQ(greyImage.opacity(1, 0), 0);

    TestPng c = rgbPixels({1, 2, 3, 4, 5, 6});
    c.transparentColor = png_color_16{0, 4, 5, 6, 0};
    const TPngImage rgbImage = decode(c);
    EXPECT_EQ(rgbImage.transparencyMode(), PngTransparency::SingleColor);
    EXPECT_EQ(rgbImage.transparentColor(), RGB(4, 5, 6));

    const TPngImage single = decode(palettePixels({0, 1, 2}, {255, 0}));
    EXPECT_EQ(single.transparencyMode(), PngTransparency::SingleColor);
    EXPECT_EQ(single.transparentColor(), RGB(0, 0, 255));
    EXPECT_EQ(single.opacity(1, 0), 0);
    EXPECT_EQ(single.opacity(2, 0), 255);

    const TPngImage partial = decode(palettePixels({0, 1, 2}, {90, 0}));
    EXPECT_EQ(partial.transparencyMode(), PngTransparency::Partial);
    EXPECT_EQ(partial.opacity(0, 0), 90);
    EXPECT_EQ(partial.opacity(2, 0), 255);
    EXPECT_EQ(decode(palettePixels({0}, {255, 255})).transparencyMode(), PngTransparency::Partial);
    EXPECT_EQ(decode(palettePixels({0})).transparencyMode(), PngTransparency::None);
}

TEST(PngDecoding, TransparentColourBeyondTheBitDepthHidesNothing)
{
    TestPng g = grey(8, {0, 255});
    g.transparentColor = png_color_16{0, 0, 0, 0, 0};
    TPngImage image;
    image.loadFromData(withTransparentSamples(EncodePng(g), {256}));
    EXPECT_EQ(image.transparencyMode(), PngTransparency::None);
    EXPECT_EQ(image.opacity(0, 0), 255);  // black stays visible

    TestPng g4 = grey(4, {0, 15});
    g4.transparentColor = png_color_16{0, 0, 0, 0, 0};
    image.loadFromData(withTransparentSamples(EncodePng(g4), {16}));
    EXPECT_EQ(image.transparencyMode(), PngTransparency::None);

    TestPng c = rgbPixels({0, 0, 0, 1, 2, 3});
    c.transparentColor = png_color_16{0, 0, 0, 0, 0};
    image.loadFromData(withTransparentSamples(EncodePng(c), {256, 0, 0}));
    EXPECT_EQ(image.transparencyMode(), PngTransparency::None);
    EXPECT_EQ(image.opacity(0, 0), 255);
    // The same file with a sound colour still has it.
    image.loadFromData(withTransparentSamples(EncodePng(c), {0, 0, 0}));
    EXPECT_EQ(image.opacity(0, 0), 0);
}

TEST(PngDecoding, SixteenBitTransparentColourIsComparedAtSixteenBits)
{
    TestPng g = grey(16, {0x1234, 0x1200, 0x12FF});
    g.transparentColor = png_color_16{0, 0, 0, 0, 0x1200};
    TPngImage grey16 = decode(g);
    EXPECT_EQ(grey16.transparencyMode(), PngTransparency::SingleColor);
    EXPECT_EQ(grey16.pixel(0, 0), RGB(0x12, 0x12, 0x12));  // samples are cut to 8 bits
    EXPECT_EQ(grey16.opacity(0, 0), 255);
    EXPECT_EQ(grey16.opacity(1, 0), 0);
    EXPECT_EQ(grey16.opacity(2, 0), 255);
    FadeImage(grey16, 127);
    EXPECT_EQ(alphaRow(grey16), (std::vector<int>{127, 0, 127}));

    TestPng c = row(PNG_COLOR_TYPE_RGB, 16, 2, {0x1234, 5, 6, 0x1200, 5, 6});
    c.transparentColor = png_color_16{0, 0x1200, 5, 6, 0};
    TPngImage rgb16 = decode(c);
    EXPECT_EQ(rgb16.opacity(0, 0), 255);
    EXPECT_EQ(rgb16.opacity(1, 0), 0);
    rgb16.addAlpha();
    EXPECT_EQ(alphaRow(rgb16), (std::vector<int>{255, 0}));

    // A written 8-bit colour matches when it widens to the key (0x12 to 0x1212).
    c.transparentColor = png_color_16{0, 0x1212, 0x0505, 0x0606, 0};
    TPngImage written = decode(c);
    EXPECT_EQ(written.opacity(0, 0), 255);
    written.setPixel(0, 0, RGB(0x12, 5, 6));
    EXPECT_EQ(written.opacity(0, 0), 0);
    written.setPixel(0, 0, RGB(0x12, 5, 7));
    EXPECT_EQ(written.opacity(0, 0), 255);
}

TEST(PngDecoding, GammaChunkIsTrackedUntilRemoved)
{
    TestPng png = rgbPixels({1, 2, 3});
    EXPECT_FALSE(decode(png).hasGamma());
    png.gamma = true;
    TPngImage image = decode(png);
    EXPECT_TRUE(image.hasGamma());
    image.removeGamma();
    EXPECT_FALSE(image.hasGamma());
}

TEST(PngDecoding, CorruptTruncatedAndOversizedFilesAreRejected)
{
    const QByteArray valid = EncodePng([] {
        TestPng png = row(PNG_COLOR_TYPE_RGB_ALPHA, 8, 3, std::vector<unsigned>(24, 77));
        png.height = 2;
        return png;
    }());
    TPngImage image = decode(rgbPixels({9, 9, 9}));
    const auto rejects = [&image](const QByteArray& data, const char* detail) {
        try {
            image.loadFromData(data);
            ADD_FAILURE() << "accepted: " << detail;
        } catch (const EPngError& e) {
            EXPECT_TRUE(QByteArray(e.what()).startsWith("Invalid PNG image: ")) << e.what();
            EXPECT_GT(std::strlen(e.what()), std::strlen("Invalid PNG image: ")) << detail;
        }
        // A failed load leaves the image as it was.
        EXPECT_EQ(image.pixel(0, 0), RGB(9, 9, 9));
    };

    rejects(QByteArray(), "empty");
    rejects(QByteArray("GIF89a this is no PNG file at all"), "not a PNG file");
    for (qsizetype length = 1; length < valid.size(); ++length)
        rejects(valid.left(length), "truncated");

    QByteArray badCrc = valid;
    badCrc[29] = static_cast<char>(badCrc[29] ^ 0x01);  // inside the header's checksum
    rejects(badCrc, "header checksum");
    QByteArray badData = valid;
    const qsizetype idat = valid.indexOf("IDAT");
    badData[idat + 6] = static_cast<char>(badData[idat + 6] ^ 0x55);
    rejects(badData, "compressed data");

    // A text chunk that claims almost 2 GB.
    QByteArray hugeText = valid.left(valid.indexOf("IDAT") - 4);
    hugeText.append(QByteArray::fromHex("74494169") + "zTXt" + QByteArray(64, 'x'));
    rejects(hugeText, "huge chunk");

    EXPECT_NO_THROW(image.loadFromData(EncodePng(grey(1, std::vector<unsigned>(TPngImage::MaxDimension, 1)))));
}

TEST(PngDecoding, TooLargeImagesAreReportedWithTheLimit)
{
    const auto message = [](const QByteArray& file) {
        TPngImage image;
        try {
            image.loadFromData(file);
        } catch (const EPngError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message(EncodePng(grey(1, std::vector<unsigned>(1025, 0)))),
              "PNG image too large: 1025 x 1 pixels, the limit is 1024 x 1024");
    TestPng high = grey(1, std::vector<unsigned>(1025, 0));
    high.width = 1;
    high.height = 1025;
    EXPECT_EQ(message(EncodePng(high)),
              "PNG image too large: 1 x 1025 pixels, the limit is 1024 x 1024");
    // Beyond what libpng itself accepts by default; the data need not be there to say so.
    EXPECT_EQ(message(withChunkBytes(EncodePng(grey(8, {0})), "IHDR", 0, bigEndian({2000000}, 4))),
              "PNG image too large: 2000000 x 1 pixels, the limit is 1024 x 1024");
    EXPECT_THROW(TPngImage(PngColorType::RGB, 1025, 1), std::invalid_argument);
}

TEST(PngImage, PixelAccessFollowsTheColourType)
{
    TPngImage rgb(PngColorType::RGB, 2, 2);
    rgb.setPixel(1, 1, RGB(10, 20, 30));
    EXPECT_EQ(rgb.pixel(1, 1), RGB(10, 20, 30));
    EXPECT_EQ(rgb.pixel(0, 1), clBlack);
    EXPECT_THROW(rgb.pixel(2, 0), std::out_of_range);
    EXPECT_THROW(rgb.setPixel(0, -1, clWhite), std::out_of_range);

    TPngImage grey(PngColorType::Grey, 1, 1);
    grey.setPixel(0, 0, RGB(255, 0, 0));
    EXPECT_EQ(grey.pixel(0, 0), RGB(77, 77, 77));

    TPngImage palette(PngColorType::Palette, 1, 1);
    palette.setPalette({RGB(0, 0, 0), RGB(250, 250, 250), RGB(200, 0, 0)});
    palette.setPixel(0, 0, RGB(180, 20, 10));
    EXPECT_EQ(palette.scanline(0)[0], 2);
    palette.setPalette(std::vector<TColor>(300, clWhite));
    EXPECT_EQ(palette.palette().size(), 256u);

    EXPECT_TRUE(TPngImage(PngColorType::RGBA, 0, 5).isEmpty());
    EXPECT_THROW(TPngImage(PngColorType::RGBA, -1, 5), std::invalid_argument);
}

TEST(PngImage, AddAlphaKeepsTheTransparentColourInvisible)
{
    TestPng png = rgbPixels({1, 2, 3, 4, 5, 6});
    png.transparentColor = png_color_16{0, 4, 5, 6, 0};
    TPngImage image = decode(png);
    image.addAlpha();
    EXPECT_EQ(image.colorType(), PngColorType::RGBA);
    EXPECT_EQ(alphaRow(image), (std::vector<int>{255, 0}));
    EXPECT_EQ(image.pixel(1, 0), RGB(4, 5, 6));
    EXPECT_EQ(image.transparencyMode(), PngTransparency::Partial);
}

TEST(FadeImage, AlphaIsHalvedWithHalvesToEven)
{
    TPngImage image = rgbaImage({255, 254, 3, 1, 0, 128, 5});
    FadeImage(image, 127);
    EXPECT_EQ(alphaRow(image), (std::vector<int>{128, 127, 2, 0, 0, 64, 2}));
    EXPECT_EQ(image.pixel(0, 0), RGB(200, 100, 50));

    TPngImage full = rgbaImage({255, 77});
    FadeImage(full, 255);
    EXPECT_EQ(alphaRow(full), (std::vector<int>{255, 77}));

    TPngImage greyAlpha = decode(row(PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, {1, 255, 2, 3}));
    FadeImage(greyAlpha, 127);
    EXPECT_EQ(greyAlpha.colorType(), PngColorType::GreyAlpha);
    EXPECT_EQ(alphaRow(greyAlpha), (std::vector<int>{128, 2}));
}

TEST(FadeImage, TypesWithoutAlphaGetOne)
{
    TestPng rgb = rgbPixels({1, 2, 3, 4, 5, 6});
    rgb.transparentColor = png_color_16{0, 4, 5, 6, 0};
    TPngImage rgbImage = decode(rgb);
    FadeImage(rgbImage, 127);
    EXPECT_EQ(rgbImage.colorType(), PngColorType::RGBA);
    EXPECT_EQ(alphaRow(rgbImage), (std::vector<int>{128, 0}));

    TestPng g = grey(8, {40, 50});
    g.transparentColor = png_color_16{0, 0, 0, 0, 50};
    TPngImage greyImage = decode(g);
    FadeImage(greyImage, 127);
    EXPECT_EQ(greyImage.colorType(), PngColorType::RGBA);
    EXPECT_EQ(greyImage.pixel(0, 0), RGB(40, 40, 40));
    EXPECT_EQ(alphaRow(greyImage), (std::vector<int>{127, 0}));

    TPngImage palette = decode(palettePixels({0, 1, 2}));
    FadeImage(palette, 127);
    EXPECT_EQ(palette.colorType(), PngColorType::RGBA);
    EXPECT_EQ(palette.pixel(0, 0), RGB(200, 10, 20));
    EXPECT_EQ(alphaRow(palette), (std::vector<int>{127, 127, 127}));

    TPngImage single = decode(palettePixels({0, 1}, {255, 0}));
    FadeImage(single, 127);
    EXPECT_EQ(alphaRow(single), (std::vector<int>{127, 0}));

    // Entries that were invisible stay so; partly visible ones fade in proportion.
    TPngImage partial = decode(palettePixels({0, 1, 2}, {0, 102}));
    FadeImage(partial, 127);
    EXPECT_EQ(alphaRow(partial), (std::vector<int>{0, 51, 127}));
}

TEST(GreyImage, ColoursBecomeTheirWeightedGreyLevel)
{
    TestPng png = rgbPixels({255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30});
    TPngImage rgb = decode(png);
    GreyImage(rgb);
    EXPECT_EQ(rgb.pixel(0, 0), RGB(77, 77, 77));
    EXPECT_EQ(rgb.pixel(1, 0), RGB(150, 150, 150));
    EXPECT_EQ(rgb.pixel(2, 0), RGB(28, 28, 28));
    EXPECT_EQ(rgb.pixel(3, 0), RGB(18, 18, 18));

    TPngImage rgba = rgbaImage({33});
    GreyImage(rgba);
    EXPECT_EQ(rgba.pixel(0, 0), RGB(125, 125, 125));
    EXPECT_EQ(alphaRow(rgba), std::vector<int>{33});

    TPngImage palette = decode(palettePixels({2, 0}));
    GreyImage(palette);
    EXPECT_EQ(palette.palette(), (std::vector<TColor>{RGB(68, 68, 68), RGB(28, 28, 28), RGB(8, 8, 8)}));
    EXPECT_EQ(palette.scanline(0)[0], 2);

    TPngImage greyAlpha = decode(row(PNG_COLOR_TYPE_GRAY_ALPHA, 8, 1, {90, 80}));
    GreyImage(greyAlpha);
    EXPECT_EQ(greyAlpha.pixel(0, 0), RGB(90, 90, 90));
}

TEST(DrawImage, AlphaIsBlendedOverWhatTheCanvasHolds)
{
    TPngImage image = rgbaImage({128, 255, 0});
    QImage target = canvas(4, 2, qRgb(10, 20, 30));
    target.setPixel(2, 1, qRgb(1, 2, 3));
    image.draw(target, QRect(0, 1, 1, 1));  // drawn at its own size whatever the rectangle
    EXPECT_EQ(target.pixel(0, 1), qRgb(105, 60, 40));
    EXPECT_EQ(target.pixel(1, 1), qRgb(200, 100, 50));
    EXPECT_EQ(target.pixel(2, 1), qRgb(1, 2, 3));
    EXPECT_EQ(target.pixel(0, 0), qRgb(10, 20, 30));

    QImage edge = canvas(2, 2, qRgb(0, 0, 0));
    image.draw(edge, QRect(-2, 1, 3, 1));  // clipped by the canvas
    EXPECT_EQ(edge.pixel(0, 1), qRgb(0, 0, 0));
    EXPECT_EQ(edge.pixel(1, 0), qRgb(0, 0, 0));
}

TEST(DrawImage, OtherKindsAreScaledAndSkipTheTransparentColour)
{
    TestPng png = rgbPixels({255, 0, 0, 0, 0, 255});
    TPngImage plain = decode(png);
    QImage target = canvas(5, 2, qRgb(7, 7, 7));
    plain.draw(target, QRect(0, 0, 4, 2));
    EXPECT_EQ(target.pixel(1, 1), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(2, 0), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(3, 1), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(4, 0), qRgb(7, 7, 7));

    png.transparentColor = png_color_16{0, 255, 0, 0, 0};
    QImage keyed = canvas(2, 1, qRgb(7, 7, 7));
    decode(png).draw(keyed, QRect(0, 0, 2, 1));
    EXPECT_EQ(keyed.pixel(0, 0), qRgb(7, 7, 7));
    EXPECT_EQ(keyed.pixel(1, 0), qRgb(0, 0, 255));

    QImage untouched = canvas(2, 2, qRgb(7, 7, 7));
    const QImage before = untouched;
    TPngImage().draw(untouched, QRect(0, 0, 2, 2));
    plain.draw(untouched, QRect(0, 0, 0, 2));
    EXPECT_EQ(untouched, before);
}

TEST(DrawImageWithOptions, FadesFirstThenGreysAndLeavesTheImageAlone)
{
    // With the transparent colour red, greying first would make it visible.
    TestPng png = rgbPixels({255, 0, 0, 0, 0, 255});
    png.transparentColor = png_color_16{0, 255, 0, 0, 0};
    const TPngImage image = decode(png);
    QImage target = canvas(2, 1, qRgb(100, 100, 100));
    DrawImageWithOptions(image, target, QRect(0, 0, 2, 1), {pngBlendOnDisabled, pngGrayscaleOnDisabled});
    EXPECT_EQ(target.pixel(0, 0), qRgb(100, 100, 100));
    const int grey = (28 * 128 + 100 * 127 + 255) >> 8;
    EXPECT_EQ(target.pixel(1, 0), qRgb(grey, grey, grey));
    EXPECT_EQ(image.colorType(), PngColorType::RGB);

    QImage greyOnly = canvas(2, 1, qRgb(100, 100, 100));
    DrawImageWithOptions(decode(rgbPixels({0, 0, 255, 0, 0, 255})), greyOnly, QRect(0, 0, 2, 1), {pngGrayscaleOnDisabled});
    EXPECT_EQ(greyOnly.pixel(1, 0), qRgb(28, 28, 28));

    // Greyed alone, the transparent colour stays invisible, and a pixel that greys to the
    // transparent colour's level does not vanish.
    TestPng keyed = rgbPixels({255, 0, 0, 77, 77, 77});
    keyed.transparentColor = png_color_16{0, 77, 77, 77, 0};
    QImage keyedGrey = canvas(2, 1, qRgb(100, 100, 100));
    DrawImageWithOptions(decode(keyed), keyedGrey, QRect(0, 0, 2, 1), {pngGrayscaleOnDisabled});
    EXPECT_EQ(keyedGrey.pixel(0, 0), qRgb(77, 77, 77));
    EXPECT_EQ(keyedGrey.pixel(1, 0), qRgb(100, 100, 100));

    QImage plain = canvas(2, 1, qRgb(100, 100, 100));
    DrawImageWithOptions(image, plain, QRect(0, 0, 2, 1), {});
    EXPECT_EQ(plain.pixel(1, 0), qRgb(0, 0, 255));
}

TEST(TakeImageFromList, CopiesPngEntriesOrConvertsIcons)
{
    TPngImageList pngList;
    pngList.addPng(rgbaImage({200, 20}));
    TPngImage image;
    TakeImageFromList(image, pngList, 1);
    EXPECT_TRUE(image.isEmpty());
    TakeImageFromList(image, pngList, 0);
    EXPECT_EQ(alphaRow(image), (std::vector<int>{200, 20}));
    EXPECT_EQ(pngList.count(), 1);
    EXPECT_EQ(pngList.icon(0).mask.pixel(1, 0), qRgb(255, 255, 255));

    QImage color = canvas(2, 1, qRgb(1, 2, 3));
    color.setPixel(1, 0, qRgb(4, 5, 6));
    QImage mask = canvas(2, 1, qRgb(0, 0, 0));
    mask.setPixel(1, 0, qRgb(255, 255, 255));
    TCustomImageList icons;
    icons.add(color, mask);
    TakeImageFromList(image, icons, 0);
    EXPECT_EQ(image.colorType(), PngColorType::RGBA);
    EXPECT_EQ(image.pixel(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(image.pixel(1, 0), RGB(4, 5, 6));
    EXPECT_EQ(alphaRow(image), (std::vector<int>{255, 0}));
    TakeImageFromList(image, icons, 3);
    EXPECT_EQ(image.pixel(1, 0), RGB(4, 5, 6));
}
