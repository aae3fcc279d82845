#include "widgets/PngSpeedButton.h"

#include "toolkit/Graphics.h"
#include "widgets/PngButtonFunctions.h"

#include <QMetaProperty>
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

void TPngSpeedButton::SetPngImage(const TPngImage& value)
{
    image_ = value;
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
    // Composed off screen: the alpha blend reads back what the base button painted over
    // what lies beneath it, which a flat button lets show.
    QImage canvas(size(), QImage::Format_RGB32);
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
    DrawImageWithOptions(image_, canvas, QRect(position, QSize(image_.width(), image_.height())),
                         isEnabled() ? TPngOptions{} : options_);
    QPainter(this).drawImage(0, 0, canvas);
}
