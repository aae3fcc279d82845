// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PngEncode.h"

#include <csetjmp>
#include <stdexcept>

namespace {

struct Output {
    std::vector<png_byte>* bytes;
};

void writeData(png_structp png, png_bytep data, size_t length)
{
    auto* out = static_cast<Output*>(png_get_io_ptr(png));
    out->bytes->insert(out->bytes->end(), data, data + length);
}

void flushData(png_structp) {}

int channels(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

// libpng's errors longjmp here: only trivially destructible locals.
bool encode(const TestPng* in, png_bytepp rows, Output* out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    volatile bool ok = false;
    if (!setjmp(png_jmpbuf(png))) {
        png_set_write_fn(png, out, writeData, flushData);
        png_set_IHDR(png, info, static_cast<png_uint_32>(in->width),
                     static_cast<png_uint_32>(in->height), in->bitDepth, in->colorType,
                     in->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (!in->palette.empty())
            png_set_PLTE(png, info, in->palette.data(), static_cast<int>(in->palette.size()));
        if (!in->paletteAlpha.empty())
            png_set_tRNS(png, info, in->paletteAlpha.data(),
                         static_cast<int>(in->paletteAlpha.size()), nullptr);
        if (in->transparentColor) {
            png_color_16 color = *in->transparentColor;
            png_set_tRNS(png, info, nullptr, 1, &color);
        }
        if (in->gamma)
            png_set_gAMA_fixed(png, info, 45455);
        png_write_info(png, info);
        png_write_image(png, rows);
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return ok;
}

}  // namespace

QByteArray EncodePng(const TestPng& in)
{
    const int perRow = in.width * channels(in.colorType);
    const std::size_t rowBytes = (static_cast<std::size_t>(perRow) * in.bitDepth + 7) / 8;
    std::vector<png_byte> raw(rowBytes * static_cast<std::size_t>(in.height), 0);
    for (int y = 0; y < in.height; ++y) {
        png_byte* row = raw.data() + rowBytes * static_cast<std::size_t>(y);
        for (int i = 0; i < perRow; ++i) {
            const unsigned v = in.samples.at(static_cast<std::size_t>(y * perRow + i));
            if (in.bitDepth == 16) {
                row[2 * i] = static_cast<png_byte>(v >> 8);
                row[2 * i + 1] = static_cast<png_byte>(v);
            } else if (in.bitDepth == 8) {
                row[i] = static_cast<png_byte>(v);
            } else {
                const int bit = i * in.bitDepth;
                row[bit / 8] |= static_cast<png_byte>(v << (8 - in.bitDepth - bit % 8));
            }
        }
    }
    std::vector<png_bytep> rows;
    for (int y = 0; y < in.height; ++y)
        rows.push_back(raw.data() + rowBytes * static_cast<std::size_t>(y));
    std::vector<png_byte> bytes;
    Output out{&bytes};
    if (!encode(&in, rows.data(), &out))
        throw std::runtime_error("test PNG could not be written");
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

std::vector<QByteArray> PngChunkNames(const QByteArray& file)
{
    std::vector<QByteArray> names;
    qsizetype at = 8;
    while (at + 8 <= file.size()) {
        const auto length = (static_cast<quint32>(static_cast<quint8>(file[at])) << 24)
                            | (static_cast<quint32>(static_cast<quint8>(file[at + 1])) << 16)
                            | (static_cast<quint32>(static_cast<quint8>(file[at + 2])) << 8)
                            | static_cast<quint32>(static_cast<quint8>(file[at + 3]));
        names.push_back(file.mid(at + 4, 4));
        at += 12 + static_cast<qsizetype>(length);
    }
    return names;
}
