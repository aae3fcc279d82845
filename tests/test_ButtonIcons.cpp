// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/icons/ButtonIcons.h"

#include "support/PngEncode.h"
#include "widgets/PngFunctions.h"

#include <gtest/gtest.h>

namespace {

struct Census {
    int soft = 0;  // partly transparent pixels
    int opaque = 0;
};

Census census(const TPngImage& image, const QRect& area, bool (*matches)(TColor))
{
    Census c;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const int a = image.alphaScanline(y)[x];
            if (a > 0 && a < 255)
                ++c.soft;
            if (a == 255 && matches(image.pixel(x, y)))
                ++c.opaque;
        }
    }
    return c;
}

bool lightBlue(TColor c) { return GetBValue(c) > 200 && GetBValue(c) > GetRValue(c) + 20; }
bool orange(TColor c) { return GetRValue(c) > 200 && GetGValue(c) > 80 && GetGValue(c) < 200 && GetBValue(c) < 100; }
bool red(TColor c) { return GetRValue(c) > 150 && GetGValue(c) < 120 && GetBValue(c) < 120; }
bool blue(TColor c) { return GetBValue(c) > 180 && GetRValue(c) < 100; }

}  // namespace

TEST(ButtonIcons, AreSixteenBySixteenRgbaFilesWithTheFourChunks)
{
    for (const auto& [name, file] : {std::pair{"read", ReadIconPng()}, std::pair{"write", WriteIconPng()}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(PngChunkNames(file), (std::vector<QByteArray>{"IHDR", "pHYs", "IDAT", "IEND"}));
        TPngImage image;
        image.loadFromData(file);
        EXPECT_EQ(image.width(), 16);
        EXPECT_EQ(image.height(), 16);
        EXPECT_EQ(image.colorType(), PngColorType::RGBA);
        EXPECT_GT(census(image, QRect(0, 0, 16, 16), [](TColor) { return true; }).soft, 10);
    }
}

TEST(ButtonIcons, ShowAMagnifyingGlassAndAPencil)
{
    TPngImage glass;
    glass.loadFromData(ReadIconPng());
    EXPECT_GT(census(glass, QRect(8, 0, 8, 8), lightBlue).opaque + census(glass, QRect(8, 0, 8, 8), lightBlue).soft, 6);
    EXPECT_GT(census(glass, QRect(0, 10, 6, 6), orange).opaque, 4);
    EXPECT_EQ(census(glass, QRect(0, 0, 4, 4), [](TColor) { return true; }).opaque, 0);

    TPngImage pencil;
    pencil.loadFromData(WriteIconPng());
    EXPECT_GT(census(pencil, QRect(5, 3, 8, 8), red).opaque, 10);
    EXPECT_GT(census(pencil, QRect(2, 14, 10, 2), blue).opaque, 8);
    EXPECT_EQ(census(pencil, QRect(0, 0, 4, 4), [](TColor) { return true; }).opaque, 0);
}
