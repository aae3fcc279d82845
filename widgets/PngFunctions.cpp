// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/PngFunctions.h"

#include <QImage>

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

// --- decoding ---
//
// libpng reports errors by longjmp. The jumps land in readHeader and readRows, which,
// like the callbacks between them and libpng, hold only trivially destructible locals,
// so no C++ object is ever skipped by a jump; the C++ caller turns a failure into an
// EPngError.

namespace {

constexpr std::size_t messageSize = 200;

struct PngReadState {
    const unsigned char* data;
    std::size_t size;
    std::size_t position;
    char message[messageSize];
};

// What the file says before its image data, taken before libpng's transformations
// rewrite it.
struct PngHeader {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    std::size_t rowBytes;
    int paletteSize;
    png_color palette[PNG_MAX_PALETTE_LENGTH];
    int transparencyCount;
    unsigned char paletteAlpha[PNG_MAX_PALETTE_LENGTH];
    png_color_16 transparentColor;
    bool hasGamma;
};

void readData(png_structp png, png_bytep out, size_t length)
{
    auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
    if (length > state->size - state->position)
        png_error(png, "the data ends before the image does");
    std::memcpy(out, state->data + state->position, length);
    state->position += length;
}

[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngReadState*>(png_get_error_ptr(png));
    std::snprintf(state->message, messageSize, "%s", message);
    png_longjmp(png, 1);
}

// Warnings are about ancillary chunks that libpng skips; the picture is still sound.
void onWarning(png_structp, png_const_charp) {}

bool readHeader(png_structp png, png_infop info, PngHeader* header)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    png_get_IHDR(png, info, &header->width, &header->height, &header->bitDepth,
                 &header->colorType, nullptr, nullptr, nullptr);
    // The caller refuses a too large image before libpng sizes any row buffer for it.
    if (header->width > TPngImage::MaxDimension || header->height > TPngImage::MaxDimension)
        return true;

    png_colorp palette = nullptr;
    header->paletteSize = 0;
    if (png_get_PLTE(png, info, &palette, &header->paletteSize) != 0)
        std::memcpy(header->palette, palette,
                    sizeof(png_color) * static_cast<std::size_t>(header->paletteSize));

    png_bytep alpha = nullptr;
    png_color_16p color = nullptr;
    header->transparencyCount = 0;
    if (png_get_tRNS(png, info, &alpha, &header->transparencyCount, &color) != 0) {
        if (header->colorType == PNG_COLOR_TYPE_PALETTE && header->transparencyCount > 0)
            std::memcpy(header->paletteAlpha, alpha,
                        static_cast<std::size_t>(header->transparencyCount));
        else
            header->transparentColor = *color;
    }
    header->hasGamma = png_get_valid(png, info, PNG_INFO_gAMA) != 0;

    // Everything to 8-bit samples, except that 16-bit samples come whole: the transparent
    // colour is compared at their full precision before they are cut. Palette images keep
    // one index a pixel.
    if (header->bitDepth < 8 && header->colorType == PNG_COLOR_TYPE_GRAY)
        png_set_expand_gray_1_2_4_to_8(png);
    else if (header->bitDepth < 8)
        png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    header->rowBytes = png_get_rowbytes(png, info);
    return true;
}

bool readRows(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

// A transparent colour whose samples do not fit the bit depth (libpng only warns about it)
// matches no pixel.
bool fitsBitDepth(const png_color_16& c, int colorType, int bitDepth)
{
    const unsigned max = (1u << bitDepth) - 1;
    if (colorType == PNG_COLOR_TYPE_GRAY)
        return c.gray <= max;
    return c.red <= max && c.green <= max && c.blue <= max;
}

// A sample of the file's bit depth brought to 8 bits, as libpng brings the pixels.
std::uint8_t eightBit(png_uint_16 value, int bitDepth)
{
    switch (bitDepth) {
    case 1: return static_cast<std::uint8_t>(value * 255);
    case 2: return static_cast<std::uint8_t>(value * 85);
    case 4: return static_cast<std::uint8_t>(value * 17);
    case 16: return static_cast<std::uint8_t>(value >> 8);
    default: return static_cast<std::uint8_t>(value);
    }
}

std::uint8_t greyLevel(TColor color)
{
    return static_cast<std::uint8_t>(
        (30 * GetRValue(color) + 59 * GetGValue(color) + 11 * GetBValue(color) + 50) / 100);
}

QRgb toRgb(TColor color)
{
    return qRgb(GetRValue(color), GetGValue(color), GetBValue(color));
}

TColor fromRgb(QRgb rgb)
{
    return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

bool hasAlphaChannel(PngColorType type)
{
    return type == PngColorType::GreyAlpha || type == PngColorType::RGBA;
}

std::string tooLargeMessage(int width, int height)
{
    return "PNG image too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, the limit is " + std::to_string(TPngImage::MaxDimension) + " x " +
           std::to_string(TPngImage::MaxDimension);
}

}  // namespace

class PngDecoder {
public:
    static TPngImage decode(const QByteArray& data);
};

TPngImage PngDecoder::decode(const QByteArray& data)
{
    PngReadState state{reinterpret_cast<const unsigned char*>(data.constData()),
                       static_cast<std::size_t>(data.size()), 0, {}};
    struct Structs {
        png_structp png = nullptr;
        png_infop info = nullptr;
        ~Structs() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
    } structs;
    structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    if (structs.png)
        structs.info = png_create_info_struct(structs.png);
    if (!structs.info)
        throw EPngError("Invalid PNG image: out of memory");
    png_set_read_fn(structs.png, &state, readData);
    // Our own size limit is checked after the header, where a too large image can be
    // reported as such; libpng's would call it corrupt.
    png_set_user_limits(structs.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_cache_max(structs.png, 128);
    png_set_chunk_malloc_max(structs.png, 1 << 20);
    // Only the transparency and gamma chunks matter here. libpng would allocate the full
    // declared length of a text or profile chunk before finding that the data is not there;
    // skipped chunks are read past in small pieces.
    png_set_keep_unknown_chunks(structs.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(structs.png, PNG_HANDLE_CHUNK_AS_DEFAULT,
                                reinterpret_cast<png_const_bytep>("gAMA"), 1);

    const auto failure = [&state] {
        return EPngError(std::string("Invalid PNG image: ") + state.message);
    };
    PngHeader header{};
    if (!readHeader(structs.png, structs.info, &header))
        throw failure();
    if (header.width > TPngImage::MaxDimension || header.height > TPngImage::MaxDimension)
        throw EPngError(tooLargeMessage(static_cast<int>(header.width),
                                        static_cast<int>(header.height)));

    const auto type = static_cast<PngColorType>(header.colorType);
    TPngImage image(type, static_cast<int>(header.width), static_cast<int>(header.height));
    const std::size_t sampleBytes = header.bitDepth == 16 ? 2 : 1;
    const std::size_t pixelSamples = static_cast<std::size_t>(image.channels())
                                     + (hasAlphaChannel(type) ? 1 : 0);
    const std::size_t pixelBytes = pixelSamples * sampleBytes;
    if (header.rowBytes != pixelBytes * header.width)
        throw EPngError("Invalid PNG image: unexpected row layout");

    std::vector<png_byte> buffer(header.rowBytes * header.height);
    std::vector<png_bytep> rows(header.height);
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = buffer.data() + y * header.rowBytes;
    if (!readRows(structs.png, rows.data()))
        throw failure();

    const std::size_t channels = static_cast<std::size_t>(image.channels());
    const std::size_t pixels = static_cast<std::size_t>(header.width) * header.height;
    const png_color_16& key = header.transparentColor;
    const bool colorKey = type != PngColorType::Palette && header.transparencyCount > 0 &&
                          fitsBitDepth(key, header.colorType, header.bitDepth);
    if (colorKey && header.bitDepth == 16) {
        image.wideTransparent_.assign(pixels, false);
        image.wideKey_ = type == PngColorType::Grey
                             ? std::array<std::uint16_t, 3>{key.gray, key.gray, key.gray}
                             : std::array<std::uint16_t, 3>{key.red, key.green, key.blue};
    }
    for (std::size_t i = 0; i < pixels; ++i) {
        const png_byte* in = buffer.data() + i * pixelBytes;
        // Big-endian: the first byte of a 16-bit sample is its upper half.
        const auto sample = [&](std::size_t k) { return in[k * sampleBytes]; };
        for (std::size_t k = 0; k < channels; ++k)
            image.samples_[i * channels + k] = sample(k);
        if (hasAlphaChannel(type))
            image.alpha_[i] = sample(channels);
        if (!image.wideTransparent_.empty()) {
            const auto wide = [&](std::size_t k) {
                return static_cast<std::uint16_t>(in[2 * k] << 8 | in[2 * k + 1]);
            };
            image.wideTransparent_[i] = type == PngColorType::Grey
                                            ? image.isWideKey(wide(0), wide(0), wide(0))
                                            : image.isWideKey(wide(0), wide(1), wide(2));
        }
    }

    for (int i = 0; i < header.paletteSize; ++i)
        image.palette_.push_back(
            RGB(header.palette[i].red, header.palette[i].green, header.palette[i].blue));
    image.hasTransparency_ = type == PngColorType::Palette ? header.transparencyCount > 0 : colorKey;
    if (type == PngColorType::Palette) {
        image.paletteAlpha_.assign(header.paletteAlpha,
                                   header.paletteAlpha + header.transparencyCount);
    } else if (image.hasTransparency_) {
        const png_color_16& c = header.transparentColor;
        image.transparentColor_ =
            type == PngColorType::Grey
                ? RGB(eightBit(c.gray, header.bitDepth), eightBit(c.gray, header.bitDepth),
                      eightBit(c.gray, header.bitDepth))
                : RGB(eightBit(c.red, header.bitDepth), eightBit(c.green, header.bitDepth),
                      eightBit(c.blue, header.bitDepth));
    }
    image.hasGamma_ = header.hasGamma;
    return image;
}

// --- the image ---

TPngImage::TPngImage(PngColorType colorType, int width, int height)
    : colorType_(colorType)
{
    if (width < 0 || height < 0)
        throw std::invalid_argument("PNG image size out of range");
    if (width > MaxDimension || height > MaxDimension)
        throw std::invalid_argument(tooLargeMessage(width, height));
    if (width > 0 && height > 0) {
        width_ = width;
        height_ = height;
    }
    const auto pixels = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    samples_.assign(pixels * static_cast<std::size_t>(channels()), 0);
    if (hasAlphaChannel(colorType))
        alpha_.assign(pixels, 255);
}

void TPngImage::loadFromData(const QByteArray& data)
{
    *this = PngDecoder::decode(data);
}

bool TPngImage::isEmpty() const
{
    return width_ == 0 || height_ == 0;
}

int TPngImage::width() const
{
    return width_;
}

int TPngImage::height() const
{
    return height_;
}

PngColorType TPngImage::colorType() const
{
    return colorType_;
}

int TPngImage::channels() const
{
    return colorType_ == PngColorType::RGB || colorType_ == PngColorType::RGBA ? 3 : 1;
}

std::size_t TPngImage::sampleIndex(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        throw std::out_of_range("pixel outside the PNG image");
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_)
           + static_cast<std::size_t>(x);
}

std::uint8_t* TPngImage::scanline(int y)
{
    return samples_.data() + sampleIndex(0, y) * static_cast<std::size_t>(channels());
}

const std::uint8_t* TPngImage::scanline(int y) const
{
    return samples_.data() + sampleIndex(0, y) * static_cast<std::size_t>(channels());
}

std::uint8_t* TPngImage::alphaScanline(int y)
{
    return hasAlphaChannel(colorType_) ? alpha_.data() + sampleIndex(0, y) : nullptr;
}

const std::uint8_t* TPngImage::alphaScanline(int y) const
{
    return hasAlphaChannel(colorType_) ? alpha_.data() + sampleIndex(0, y) : nullptr;
}

const std::vector<TColor>& TPngImage::palette() const
{
    return palette_;
}

void TPngImage::setPalette(std::vector<TColor> entries)
{
    if (entries.size() > PNG_MAX_PALETTE_LENGTH)
        entries.resize(PNG_MAX_PALETTE_LENGTH);
    palette_ = std::move(entries);
}

int TPngImage::transparentIndex() const
{
    if (colorType_ != PngColorType::Palette || !hasTransparency_)
        return -1;
    int found = -1;
    for (std::size_t i = 0; i < paletteAlpha_.size(); ++i) {
        if (paletteAlpha_[i] == 255)
            continue;
        if (found >= 0)
            return -1;
        found = static_cast<int>(i);
    }
    return found;
}

PngTransparency TPngImage::transparencyMode() const
{
    if (hasAlphaChannel(colorType_))
        return PngTransparency::Partial;
    if (!hasTransparency_)
        return PngTransparency::None;
    if (colorType_ == PngColorType::Palette && transparentIndex() < 0)
        return PngTransparency::Partial;
    return PngTransparency::SingleColor;
}

TColor TPngImage::transparentColor() const
{
    if (transparencyMode() != PngTransparency::SingleColor)
        return clBlack;
    if (colorType_ != PngColorType::Palette)
        return transparentColor_;
    const auto index = static_cast<std::size_t>(transparentIndex());
    return index < palette_.size() ? palette_[index] : clBlack;
}

TColor TPngImage::pixel(int x, int y) const
{
    const std::size_t i = sampleIndex(x, y);
    switch (colorType_) {
    case PngColorType::Grey:
    case PngColorType::GreyAlpha:
        return RGB(samples_[i], samples_[i], samples_[i]);
    case PngColorType::Palette:
        // A file may hold indices beyond its palette; they show black.
        return samples_[i] < palette_.size() ? palette_[samples_[i]] : clBlack;
    case PngColorType::RGB:
    case PngColorType::RGBA:
        break;
    }
    return RGB(samples_[3 * i], samples_[3 * i + 1], samples_[3 * i + 2]);
}

void TPngImage::setPixel(int x, int y, TColor color)
{
    const std::size_t i = sampleIndex(x, y);
    color = ColorToRGB(color);
    switch (colorType_) {
    case PngColorType::Grey:
    case PngColorType::GreyAlpha:
        samples_[i] = greyLevel(color);
        markWideTransparent(i);
        return;
    case PngColorType::Palette: {
        const auto distance = [color](TColor entry) {
            const int r = GetRValue(entry) - GetRValue(color);
            const int g = GetGValue(entry) - GetGValue(color);
            const int b = GetBValue(entry) - GetBValue(color);
            return r * r + g * g + b * b;
        };
        const auto nearest = std::min_element(
            palette_.begin(), palette_.end(),
            [&distance](TColor a, TColor b) { return distance(a) < distance(b); });
        samples_[i] = static_cast<std::uint8_t>(nearest == palette_.end() ? 0 : nearest - palette_.begin());
        return;
    }
    case PngColorType::RGB:
    case PngColorType::RGBA:
        break;
    }
    samples_[3 * i] = static_cast<std::uint8_t>(GetRValue(color));
    samples_[3 * i + 1] = static_cast<std::uint8_t>(GetGValue(color));
    samples_[3 * i + 2] = static_cast<std::uint8_t>(GetBValue(color));
    markWideTransparent(i);
}

bool TPngImage::isWideKey(std::uint16_t red, std::uint16_t green, std::uint16_t blue) const
{
    return wideKey_ == std::array<std::uint16_t, 3>{red, green, blue};
}

void TPngImage::markWideTransparent(std::size_t i)
{
    if (wideTransparent_.empty())
        return;
    // A written 8-bit sample stands for itself widened to 16 bits (0xAB becomes 0xABAB); a
    // grey level counts for all three.
    const auto n = static_cast<std::size_t>(channels());
    const auto wide = [&](std::size_t k) {
        return static_cast<std::uint16_t>(samples_[i * n + k % n] * 257);
    };
    wideTransparent_[i] = isWideKey(wide(0), wide(1), wide(2));
}

std::uint8_t TPngImage::opacity(int x, int y) const
{
    const std::size_t i = sampleIndex(x, y);
    switch (transparencyMode()) {
    case PngTransparency::None:
        return 255;
    case PngTransparency::SingleColor:
        if (colorType_ == PngColorType::Palette)
            return samples_[i] == transparentIndex() ? 0 : 255;
        if (!wideTransparent_.empty())
            return wideTransparent_[i] ? 0 : 255;
        return pixel(x, y) == transparentColor_ ? 0 : 255;
    case PngTransparency::Partial:
        break;
    }
    if (colorType_ == PngColorType::Palette)
        return samples_[i] < paletteAlpha_.size() ? paletteAlpha_[samples_[i]] : 255;
    return alpha_[i];
}

void TPngImage::addAlpha()
{
    if (colorType_ != PngColorType::RGB)
        return;
    std::vector<std::uint8_t> alpha(samples_.size() / 3);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            alpha[sampleIndex(x, y)] = opacity(x, y);
    alpha_ = std::move(alpha);
    colorType_ = PngColorType::RGBA;
    hasTransparency_ = false;
    wideTransparent_.clear();
}

bool TPngImage::hasGamma() const
{
    return hasGamma_;
}

void TPngImage::removeGamma()
{
    hasGamma_ = false;
}

void TPngImage::draw(QImage& canvas, const QRect& rect) const
{
    if (isEmpty())
        return;
    if (transparencyMode() == PngTransparency::Partial) {
        const QRect target = QRect(rect.topLeft(), QSize(width_, height_)) & canvas.rect();
        for (int cy = target.top(); cy <= target.bottom(); ++cy) {
            for (int cx = target.left(); cx <= target.right(); ++cx) {
                const int x = cx - rect.left();
                const int y = cy - rect.top();
                const int a = opacity(x, y);
                const TColor c = pixel(x, y);
                const QRgb bg = canvas.pixel(cx, cy);
                const auto blend = [a](int image, int background) {
                    return (image * a + background * (255 - a) + 255) >> 8;
                };
                canvas.setPixel(cx, cy, qRgb(blend(GetRValue(c), qRed(bg)),
                                             blend(GetGValue(c), qGreen(bg)),
                                             blend(GetBValue(c), qBlue(bg))));
            }
        }
        return;
    }
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const QRect target = rect & canvas.rect();
    for (int cy = target.top(); cy <= target.bottom(); ++cy) {
        const int y = (cy - rect.top()) * height_ / rect.height();
        for (int cx = target.left(); cx <= target.right(); ++cx) {
            const int x = (cx - rect.left()) * width_ / rect.width();
            if (opacity(x, y) != 0)
                canvas.setPixel(cx, cy, toRgb(pixel(x, y)));
        }
    }
}

// --- image list ---

void TPngImageList::addPng(const TPngImage& image)
{
    QImage color(image.width(), image.height(), QImage::Format_RGB32);
    QImage mask(image.width(), image.height(), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            color.setPixel(x, y, toRgb(image.pixel(x, y)));
            mask.setPixel(x, y, image.opacity(x, y) >= 128 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    }
    images_.push_back(image);
    add(color, mask);
}

const TPngImage& TPngImageList::pngImage(int index) const
{
    return images_.at(static_cast<std::size_t>(index));
}

// --- functions ---

void DrawImageWithOptions(const TPngImage& image, QImage& canvas, const QRect& rect,
                          TPngOptions options)
{
    if (options.isEmpty()) {
        image.draw(canvas, rect);
        return;
    }
    TPngImage copy = image;
    if (options.contains(pngBlendOnDisabled))
        FadeImage(copy, 127);
    if (options.contains(pngGrayscaleOnDisabled))
        GreyImage(copy);
    copy.draw(canvas, rect);
}

void FadeImage(TPngImage& image, int amount)
{
    amount = std::clamp(amount, 0, 255);
    switch (image.colorType()) {
    case PngColorType::Grey:
    case PngColorType::Palette: {
        // Rebuilt as RGBA; a pixel's own transparency scales the amount, so what was
        // invisible stays invisible.
        TPngImage faded(PngColorType::RGBA, image.width(), image.height());
        for (int y = 0; y < image.height(); ++y) {
            std::uint8_t* alpha = faded.alphaScanline(y);
            for (int x = 0; x < image.width(); ++x) {
                faded.setPixel(x, y, image.pixel(x, y));
                alpha[x] = static_cast<std::uint8_t>((amount * image.opacity(x, y) + 127) / 255);
            }
        }
        image = std::move(faded);
        return;
    }
    case PngColorType::RGB:
        image.addAlpha();
        break;
    case PngColorType::GreyAlpha:
    case PngColorType::RGBA:
        break;
    }
    // round(a / 256 * (amount + 1)) with halves going to the even neighbour.
    const int factor = amount + 1;
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* alpha = image.alphaScanline(y);
        for (int x = 0; x < image.width(); ++x) {
            const int scaled = alpha[x] * factor;
            int value = scaled >> 8;
            const int rest = scaled & 0xFF;
            if (rest > 128 || (rest == 128 && (value & 1) != 0))
                ++value;
            alpha[x] = static_cast<std::uint8_t>(std::min(value, 255));
        }
    }
}

void GreyImage(TPngImage& image)
{
    switch (image.colorType()) {
    case PngColorType::Grey:
    case PngColorType::GreyAlpha:
        return;
    case PngColorType::Palette: {
        std::vector<TColor> entries = image.palette();
        for (TColor& entry : entries) {
            const std::uint8_t g = greyLevel(entry);
            entry = RGB(g, g, g);
        }
        image.setPalette(std::move(entries));
        return;
    }
    case PngColorType::RGB:
        // The transparent colour would no longer match its greyed pixels, and other
        // pixels could grey into it: keep the transparency as alpha instead.
        if (image.transparencyMode() == PngTransparency::SingleColor)
            image.addAlpha();
        break;
    case PngColorType::RGBA:
        break;
    }
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* samples = image.scanline(y);
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t g =
                greyLevel(RGB(samples[3 * x], samples[3 * x + 1], samples[3 * x + 2]));
            samples[3 * x] = samples[3 * x + 1] = samples[3 * x + 2] = g;
        }
    }
}

void TakeImageFromList(TPngImage& image, const TCustomImageList& list, int index)
{
    if (const auto* pngList = qobject_cast<const TPngImageList*>(&list)) {
        if (index >= 0 && index < pngList->count())
            image = pngList->pngImage(index);
        return;
    }
    const TCustomImageList::Icon icon = list.icon(index);
    if (icon.color.isNull())
        return;
    TPngImage taken(PngColorType::RGB, icon.color.width(), icon.color.height());
    for (int y = 0; y < taken.height(); ++y)
        for (int x = 0; x < taken.width(); ++x)
            taken.setPixel(x, y, fromRgb(icon.color.pixel(x, y)));
    taken.addAlpha();
    for (int y = 0; y < taken.height(); ++y) {
        std::uint8_t* alpha = taken.alphaScanline(y);
        for (int x = 0; x < taken.width(); ++x) {
            const bool maskBlack = icon.mask.valid(x, y) && (icon.mask.pixel(x, y) & 0xFFFFFF) == 0;
            alpha[x] = maskBlack ? 255 : 0;
        }
    }
    image = std::move(taken);
}
