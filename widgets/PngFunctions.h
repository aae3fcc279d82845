// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// PNG images decoded by libpng into 8-bit samples, and what the icon button does with them:
// drawing with alpha onto an off-screen canvas, fading and greying for a disabled button,
// and taking an image from an image list.

#include "toolkit/Graphics.h"
#include "toolkit/SpeedButton.h"

#include <QByteArray>
#include <QRect>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <vector>

class QImage;

// A file that libpng rejects: corrupt, truncated, not a PNG file or too large.
class EPngError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The values are those of the file's header.
enum class PngColorType : std::uint8_t { Grey = 0, RGB = 2, Palette = 3, GreyAlpha = 4, RGBA = 6 };

enum class PngTransparency : std::uint8_t {
    None,         // no transparency chunk
    SingleColor,  // one colour (grey and RGB) or one palette entry is transparent
    Partial,      // an alpha value per pixel or per palette entry
};

class TPngImage {
public:
    // Button images are small: files wider or higher than this are refused, so that a
    // hostile header cannot make us allocate without bound.
    static constexpr int MaxDimension = 1024;

    // An empty image: 0 by 0, no picture.
    TPngImage() = default;
    // A blank image with every sample 0 and every alpha 255; palette images start with an
    // empty palette; a zero width or height makes it empty. Throws std::invalid_argument
    // for a negative or too large size.
    TPngImage(PngColorType colorType, int width, int height);

    // Replaces the image with the decoded contents of a complete PNG file. Throws
    // EPngError, leaving the image as it was, when the data is not a valid PNG file or the
    // image is larger than MaxDimension either way.
    void loadFromData(const QByteArray& data);

    bool isEmpty() const;
    int width() const;
    int height() const;
    PngColorType colorType() const;

    // Colour samples of row y, 8 bits each: one a pixel for grey, grey with alpha (the
    // grey level) and palette (the index), three (red, green, blue) for RGB and RGBA.
    std::uint8_t* scanline(int y);
    const std::uint8_t* scanline(int y) const;
    // Alpha values of row y, one a pixel; nullptr for the types without alpha.
    std::uint8_t* alphaScanline(int y);
    const std::uint8_t* alphaScanline(int y) const;

    // Palette images: up to 256 entries; longer palettes are cut there.
    const std::vector<TColor>& palette() const;
    void setPalette(std::vector<TColor> entries);

    PngTransparency transparencyMode() const;
    // The colour of single-colour transparency; clBlack for the other kinds.
    TColor transparentColor() const;

    // Pixel access by position; both throw std::out_of_range outside the image. Writing
    // to a grey image stores the colour's grey level, to a palette image the nearest entry.
    TColor pixel(int x, int y) const;
    void setPixel(int x, int y, TColor color);
    // 255 for an opaque pixel, 0 for one of the single transparent colour, else its own
    // alpha or its palette entry's.
    std::uint8_t opacity(int x, int y) const;

    // An RGB image becomes RGBA: opaque, except pixels of the transparent colour, which
    // stay invisible. Other types are left as they are.
    void addAlpha();

    bool hasGamma() const;
    void removeGamma();

    // Partial transparency: blended onto the canvas at the rectangle's top-left corner at
    // the image's own size; the other kinds: scaled to the rectangle. Clipped to the canvas.
    void draw(QImage& canvas, const QRect& rect) const;

private:
    int channels() const;
    std::size_t sampleIndex(int x, int y) const;
    // The palette entry of single-colour transparency, or -1.
    int transparentIndex() const;
    bool isWideKey(std::uint16_t red, std::uint16_t green, std::uint16_t blue) const;
    // Pixel i of a 16-bit keyed image after a write: transparent when its colour is the key.
    void markWideTransparent(std::size_t i);

    int width_ = 0;
    int height_ = 0;
    PngColorType colorType_ = PngColorType::RGBA;
    std::vector<std::uint8_t> samples_;
    std::vector<std::uint8_t> alpha_;
    std::vector<TColor> palette_;
    // The transparency chunk: alpha per palette entry, or the transparent colour.
    bool hasTransparency_ = false;
    std::vector<std::uint8_t> paletteAlpha_;
    TColor transparentColor_ = clBlack;
    // 16-bit grey and RGB images with a transparent colour: which pixels match it at full
    // precision (cut to 8 bits, near colours would match too), and the colour itself (grey:
    // three times the level). Empty for all other images.
    std::vector<bool> wideTransparent_;
    std::array<std::uint16_t, 3> wideKey_{};
    bool hasGamma_ = false;

    friend class PngDecoder;
};

enum TPngOption : std::uint8_t { pngBlendOnDisabled, pngGrayscaleOnDisabled };

// A set of TPngOption.
class TPngOptions {
public:
    constexpr TPngOptions() = default;
    constexpr TPngOptions(std::initializer_list<TPngOption> options)
    {
        for (const TPngOption option : options)
            bits_ |= bit(option);
    }
    constexpr bool contains(TPngOption option) const { return (bits_ & bit(option)) != 0; }
    constexpr bool isEmpty() const { return bits_ == 0; }
    friend constexpr bool operator==(TPngOptions, TPngOptions) = default;

private:
    static constexpr std::uint8_t bit(TPngOption option)
    {
        return static_cast<std::uint8_t>(1u << option);
    }
    std::uint8_t bits_ = 0;
};

// An image list whose entries are PNG images; each also serves as an ordinary icon.
class TPngImageList : public TCustomImageList {
    Q_OBJECT
public:
    using TCustomImageList::TCustomImageList;

    void addPng(const TPngImage& image);
    // The PNG image of an entry; index must be within 0 .. count() - 1.
    const TPngImage& pngImage(int index) const;

private:
    std::vector<TPngImage> images_;
};

// Draws the image itself without options; otherwise a copy, faded and then greyed as the
// options say.
void DrawImageWithOptions(const TPngImage& image, QImage& canvas, const QRect& rect,
                          TPngOptions options);
// Scales every alpha value by (amount + 1) / 256; types without alpha get one first.
void FadeImage(TPngImage& image, int amount);
// Colours become grey levels; alpha is kept.
void GreyImage(TPngImage& image);
// Copies the list's entry at index into image; an index outside the list changes nothing.
void TakeImageFromList(TPngImage& image, const TCustomImageList& list, int index);
