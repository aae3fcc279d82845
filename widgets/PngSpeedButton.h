// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A flat speed button that shows a PNG image with alpha where the base button would put its
// glyph, and a faded or greyed copy of it while disabled.

#include "toolkit/SpeedButton.h"
#include "widgets/PngFunctions.h"

#include <QVariant>

#include <optional>
#include <string_view>

class TPngSpeedButton : public TSpeedButton {
    Q_OBJECT
    // In declaration order: a stored form applies them in this order.
    Q_PROPERTY(TPngImage PngImage READ PngImage WRITE SetPngImage)
    Q_PROPERTY(TPngOptions PngOptions READ PngOptions WRITE SetPngOptions)
    // Made by the button itself from its image.
    Q_PROPERTY(QImage Glyph READ Glyph WRITE SetGlyph STORED false)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs STORED false)

public:
    explicit TPngSpeedButton(QWidget* parent = nullptr);

    // The value a stored form leaves out for a published property; none when the property
    // has no declared default.
    static std::optional<QVariant> DeclaredDefault(std::string_view property);
    // Whether a stored form holds the property now: the image only while it is the
    // button's own, not an action's; the options when they differ from their default; the
    // glyph the button makes itself never.
    bool StoredInForm(std::string_view property) const;

    const TPngImage& PngImage() const;
    // The button's own image, for reading it from the form's stored file; loaded() then
    // fits the glyph to it.
    TPngImage& PngImage();
    // Copies value into the button's image (an empty image for none). The gamma chunk of an
    // RGB, palette or RGBA image is dropped, so that the image shows as stored, like the
    // rest of the window.
    void SetPngImage(const TPngImage& value);

    // The same picture drawn at twice the size, for screens with more than one device pixel
    // to a pixel; ignored unless it is exactly twice the image's size. Setting the image
    // drops it.
    const TPngImage& PngImage2x() const;
    void SetPngImage2x(const TPngImage& value);

    TPngOptions PngOptions() const;
    void SetPngOptions(TPngOptions value);

    // True while the image came from a linked action's image list.
    bool imageFromAction() const;

    void loaded() override;

protected:
    void actionChange(QObject* Sender) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // An image-sized glyph in the face colour: the base button keeps room for the image in
    // its layout and shows nothing there itself.
    void BuildSpacerGlyph();

    TPngImage image_;
    TPngImage image2x_;
    TPngOptions options_{pngBlendOnDisabled};
    bool imageFromAction_ = false;
};
