// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/PngSpeedButton.h"

#include "toolkit/Graphics.h"
#include "widgets/PngButtonFunctions.h"

#include <QMetaProperty>
#include <QPaintEngine>
#include <QPainter>

TPngSpeedButton::TPngSpeedButton(QWidget* parent)
    : TSpeedButton(parent)
{
}

const TPngImage& TPngSpeedButton::PngImage() const
{
    return image_;
}

TPngImage& TPngSpeedButton::PngImage()
{
    return image_;
}

std::optional<QVariant> TPngSpeedButton::DeclaredDefault(std::string_view property)
{
    if (property == "PngOptions")
        return QVariant::fromValue(TPngOptions{pngBlendOnDisabled});
    if (property == "NumGlyphs")
        return 1;
    return std::nullopt;
}

bool TPngSpeedButton::StoredInForm(std::string_view property) const
{
    const QByteArray name(property.data(), static_cast<qsizetype>(property.size()));
    const QMetaProperty meta = metaObject()->property(metaObject()->indexOfProperty(name));
    if (!meta.isStored())
        return false;
    if (property == "PngImage")
        return !imageFromAction_;
    const auto declared = DeclaredDefault(property);
    return !declared || meta.read(this) != *declared;
}

const TPngImage& TPngSpeedButton::PngImage2x() const
{
    return image2x_;
}

void TPngSpeedButton::SetPngImage2x(const TPngImage& value)
{
    image2x_ = value;
    const PngColorType type = image2x_.colorType();
    if (type == PngColorType::RGB || type == PngColorType::Palette || type == PngColorType::RGBA)
        image2x_.removeGamma();
    update();
}

void TPngSpeedButton::SetPngImage(const TPngImage& value)
{
    image_ = value;
    image2x_ = TPngImage();
    const PngColorType type = image_.colorType();
    if (type == PngColorType::RGB || type == PngColorType::Palette || type == PngColorType::RGBA)
        image_.removeGamma();
    imageFromAction_ = false;
    BuildSpacerGlyph();
    update();
}

TPngOptions TPngSpeedButton::PngOptions() const
{
    return options_;
}

void TPngSpeedButton::SetPngOptions(TPngOptions value)
{
    if (value == options_)
        return;
    options_ = value;
    BuildSpacerGlyph();
    update();
}

bool TPngSpeedButton::imageFromAction() const
{
    return imageFromAction_;
}

void TPngSpeedButton::loaded()
{
    TSpeedButton::loaded();
    BuildSpacerGlyph();
}

void TPngSpeedButton::actionChange(QObject* Sender)
{
    TSpeedButton::actionChange(Sender);
    const auto* action = qobject_cast<TCustomAction*>(Sender);
    if (!action || (!image_.isEmpty() && !imageFromAction_))
        return;
    const TCustomActionList* list = action->actionList();
    const TCustomImageList* images = list ? list->Images() : nullptr;
    if (!images || action->ImageIndex() < 0 || action->ImageIndex() >= images->count())
        return;
    TakeImageFromList(image_, *images, action->ImageIndex());
    image2x_ = TPngImage();
    BuildSpacerGlyph();
    imageFromAction_ = true;
}

void TPngSpeedButton::BuildSpacerGlyph()
{
    QImage spacer(image_.width(), image_.height(), QImage::Format_RGB32);
    spacer.fill(ToQColor(clBtnFace));
    SetGlyph(spacer);
    SetNumGlyphs(1);
}

void TPngSpeedButton::paintEvent(QPaintEvent*)
{
    QPainter screen(this);
    if (!screen.isActive())
        return;
    // On a scaled screen the button is composed at two device pixels to a pixel, where the
    // large image fits pixel for pixel, and the screen's painter scales that to its ratio.
    // (The device painted on is what counts: a widget may be rendered into a scaled image.)
    const bool large = screen.paintEngine()->paintDevice()->devicePixelRatio() > 1 &&
                       !image2x_.isEmpty() &&
                       image2x_.width() == 2 * image_.width() &&
                       image2x_.height() == 2 * image_.height();
    const int scale = large ? 2 : 1;
    // Composed off screen: the alpha blend reads back what the base button painted over
    // what lies beneath it, which a flat button lets show.
    QImage canvas(size() * scale, QImage::Format_RGB32);
    canvas.setDevicePixelRatio(scale);
    canvas.fill(palette().color(backgroundRole()));
    if (QWidget* parent = parentWidget())
        parent->render(&canvas, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    {
        QPainter painter(&canvas);
        paintButton(painter);
    }
    const QPoint position = CalcImagePosition(rect(), image_, Caption(), font(), Layout(),
                                              Margin(), Spacing(),
                                              layoutDirection() == Qt::RightToLeft, isDown(),
                                              Down());
    const TPngImage& image = large ? image2x_ : image_;
    DrawImageWithOptions(image, canvas,
                         QRect(position * scale, QSize(image.width(), image.height())),
                         isEnabled() ? TPngOptions{} : options_);
    screen.setRenderHint(QPainter::SmoothPixmapTransform);
    screen.drawImage(QPointF(0, 0), canvas);
}
