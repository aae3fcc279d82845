// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writes PNG files of any colour type and bit depth with libpng, so that tests can feed the
// decoder files they know the contents of.

#include <QByteArray>

#include <png.h>

#include <optional>
#include <vector>

struct TestPng {
    int width = 1;
    int height = 1;
    int colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    int bitDepth = 8;
    // Row by row, pixel by pixel, channel by channel, at the bit depth.
    std::vector<unsigned> samples;
    std::vector<png_color> palette;
    // The transparency chunk: alpha per palette entry, or one colour for grey and RGB.
    std::vector<png_byte> paletteAlpha;
    std::optional<png_color_16> transparentColor;
    bool gamma = false;
    bool interlaced = false;
};

QByteArray EncodePng(const TestPng& png);

// The chunk names of a PNG file in order.
std::vector<QByteArray> PngChunkNames(const QByteArray& file);
