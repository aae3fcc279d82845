// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/SpeedButton.h"

#include "toolkit/Dialogs.h"
#include "toolkit/Graphics.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <algorithm>

TButtonLayout ReadingOrderLayout(TButtonLayout layout, bool rightToLeft)
{
    if (rightToLeft && layout == blGlyphLeft)
        return blGlyphRight;
    if (rightToLeft && layout == blGlyphRight)
        return blGlyphLeft;
    return layout;
}

namespace {

// The classic 3D colours that TColor has no system colour for come from the palette.
QColor highlightColor()
{
    return QGuiApplication::palette().color(QPalette::Active, QPalette::Light);
}

QColor buttonTextColor()
{
    return QGuiApplication::palette().color(QPalette::Active, QPalette::ButtonText);
}

// A one-pixel frame inside r; r shrinks by it.
void frame3D(QPainter& painter, QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
    r.adjust(1, 1, -1, -1);
}

struct ButtonLayout {
    QPoint glyph;
    QRect caption;
};

ButtonLayout calcButtonLayout(const QRect& client, QSize glyph, QSize text, TButtonLayout layout,
                              int margin, int spacing, bool rightToLeft, bool pressed)
{
    layout = ReadingOrderLayout(layout, rightToLeft);
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
    const int width = client.width();
    const int height = client.height();

    QPoint glyphPos;
    QPoint textPos;
    if (horizontal) {
        glyphPos.setY((height - glyph.height() + 1) / 2);
        textPos.setY((height - text.height() + 1) / 2);
    } else {
        glyphPos.setX((width - glyph.width() + 1) / 2);
        textPos.setX((width - text.width() + 1) / 2);
    }

    if (text.width() == 0 || glyph.width() == 0)
        spacing = 0;
    const int room = horizontal ? width : height;
    const int glyphLength = horizontal ? glyph.width() : glyph.height();
    const int textLength = horizontal ? text.width() : text.height();
    if (margin == -1) {
        if (spacing == -1) {
            margin = (room - (glyphLength + textLength)) / 3;
            spacing = margin;
        } else {
            // Not rounded up, unlike the cross axis: a picture drawn over the glyph's place
            // by a derived button (the icon button) is placed by the same rule.
            margin = (room - (glyphLength + spacing + textLength)) / 2;
        }
    } else if (spacing == -1) {
        spacing = (room - (margin + glyphLength) - textLength) / 2;
    }

    switch (layout) {
    case blGlyphLeft:
        glyphPos.setX(margin);
        textPos.setX(glyphPos.x() + glyphLength + spacing);
        break;
    case blGlyphRight:
        glyphPos.setX(width - margin - glyphLength);
        textPos.setX(glyphPos.x() - spacing - textLength);
        break;
    case blGlyphTop:
        glyphPos.setY(margin);
        textPos.setY(glyphPos.y() + glyphLength + spacing);
        break;
    case blGlyphBottom:
        glyphPos.setY(height - margin - glyphLength);
        textPos.setY(glyphPos.y() - spacing - textLength);
        break;
    }
    const QPoint shift = client.topLeft() + (pressed ? QPoint(1, 1) : QPoint());
    return {glyphPos + shift, QRect(textPos + shift, text)};
}

// The cell's pixels of its lower-left pixel's colour become transparent.
QImage keyedCell(const QImage& cell)
{
    QImage keyed = cell.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = keyed.pixel(0, keyed.height() - 1);
    for (int y = 0; y < keyed.height(); ++y)
        for (int x = 0; x < keyed.width(); ++x)
            if (keyed.pixel(x, y) == key)
                keyed.setPixel(x, y, 0);
    return keyed;
}

QImage silhouette(const QImage& keyed, const QColor& color)
{
    QImage shape = keyed;
    for (int y = 0; y < shape.height(); ++y)
        for (int x = 0; x < shape.width(); ++x)
            if (qAlpha(shape.pixel(x, y)) != 0)
                shape.setPixel(x, y, color.rgb());
    return shape;
}

}  // namespace

QSize CaptionExtent(const QFont& font, const QString& caption)
{
    if (caption.isEmpty())
        return {0, 0};
    return QFontMetrics(font).size(0, caption);
}

// --- image list, action list, action ---

void TCustomImageList::add(const QImage& color, const QImage& mask)
{
    icons_.push_back({color, mask});
}

int TCustomImageList::count() const
{
    return static_cast<int>(icons_.size());
}

TCustomImageList::Icon TCustomImageList::icon(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return icons_[static_cast<std::size_t>(index)];
}

TCustomImageList* TCustomActionList::Images() const
{
    return images_;
}

void TCustomActionList::SetImages(TCustomImageList* value)
{
    images_ = value;
}

TCustomActionList* TCustomAction::actionList() const
{
    return actionList_;
}

void TCustomAction::setActionList(TCustomActionList* value)
{
    actionList_ = value;
}

QString TCustomAction::Caption() const
{
    return caption_;
}

void TCustomAction::SetCaption(const QString& value)
{
    if (value == caption_)
        return;
    caption_ = value;
    emit changed();
}

QString TCustomAction::Hint() const
{
    return hint_;
}

void TCustomAction::SetHint(const QString& value)
{
    if (value == hint_)
        return;
    hint_ = value;
    emit changed();
}

bool TCustomAction::Enabled() const
{
    return enabled_;
}

void TCustomAction::SetEnabled(bool value)
{
    if (value == enabled_)
        return;
    enabled_ = value;
    emit changed();
}

int TCustomAction::ImageIndex() const
{
    return imageIndex_;
}

void TCustomAction::SetImageIndex(int value)
{
    if (value == imageIndex_)
        return;
    imageIndex_ = value;
    emit changed();
}

void TCustomAction::execute()
{
    emit executed();
}

// --- speed button ---

TSpeedButton::TSpeedButton(QWidget* parent)
    : QToolButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_)
            action_->execute();
    });
}

bool TSpeedButton::Flat() const
{
    return flat_;
}

void TSpeedButton::SetFlat(bool value)
{
    if (value == flat_)
        return;
    flat_ = value;
    setAutoRaise(value);
    update();
}

QString TSpeedButton::Caption() const
{
    return text();
}

void TSpeedButton::SetCaption(const QString& value)
{
    if (value == text())
        return;
    setText(value);
    update();
}

QString TSpeedButton::Hint() const
{
    return toolTip();
}

void TSpeedButton::SetHint(const QString& value)
{
    setToolTip(value);
}

TButtonLayout TSpeedButton::Layout() const
{
    return layout_;
}

void TSpeedButton::SetLayout(TButtonLayout value)
{
    if (value == layout_)
        return;
    layout_ = value;
    update();
}

int TSpeedButton::Margin() const
{
    return margin_;
}

void TSpeedButton::SetMargin(int value)
{
    if (value == margin_)
        return;
    margin_ = value;
    update();
}

int TSpeedButton::Spacing() const
{
    return spacing_;
}

void TSpeedButton::SetSpacing(int value)
{
    if (value == spacing_)
        return;
    spacing_ = value;
    update();
}

bool TSpeedButton::Down() const
{
    return down_;
}

void TSpeedButton::SetDown(bool value)
{
    if (value == down_)
        return;
    down_ = value;
    update();
}

const QImage& TSpeedButton::Glyph() const
{
    return glyph_;
}

void TSpeedButton::SetGlyph(const QImage& value)
{
    glyph_ = value;
    update();
}

int TSpeedButton::NumGlyphs() const
{
    return numGlyphs_;
}

void TSpeedButton::SetNumGlyphs(int value)
{
    value = std::clamp(value, 1, 4);
    if (value == numGlyphs_)
        return;
    numGlyphs_ = value;
    update();
}

TCustomAction* TSpeedButton::action() const
{
    return action_;
}

void TSpeedButton::setAction(TCustomAction* value)
{
    if (value == action_)
        return;
    if (action_)
        disconnect(action_, nullptr, this, nullptr);
    action_ = value;
    if (!value)
        return;
    // A change can come from anywhere in the event loop: nothing it raises may leave here.
    connect(value, &TCustomAction::changed, this,
            [this, value] { RunGuarded([&] { actionChange(value); }); });
    actionChange(value);
}

void TSpeedButton::loaded()
{
    update();
}

void TSpeedButton::actionChange(QObject* Sender)
{
    const auto* action = qobject_cast<TCustomAction*>(Sender);
    if (!action)
        return;
    SetCaption(action->Caption());
    SetHint(action->Hint());
    setEnabled(action->Enabled());
}

void TSpeedButton::paintButton(QPainter& painter) const
{
    const QColor face = ToQColor(clBtnFace);
    const QColor shadow = ToQColor(clBtnShadow);
    const QColor highlight = highlightColor();
    const bool pressed = isDown() || down_;

    QRect r = rect();
    // A flat button has no face of its own: its parent's background shows through.
    if (!flat_)
        painter.fillRect(r, face);
    if (flat_) {
        if (pressed)
            frame3D(painter, r, shadow, highlight);
        else if (mouseInControl_ && isEnabled())
            frame3D(painter, r, highlight, shadow);
    } else if (pressed) {
        frame3D(painter, r, shadow, highlight);
        frame3D(painter, r, ToQColor(cl3DDkShadow), face);
    } else {
        frame3D(painter, r, highlight, ToQColor(cl3DDkShadow));
        frame3D(painter, r, face, shadow);
    }

    const int cellWidth = glyph_.width() / numGlyphs_;
    const ButtonLayout place =
        calcButtonLayout(rect(), QSize(cellWidth, glyph_.height()), CaptionExtent(font(), text()),
                         layout_, margin_, spacing_, layoutDirection() == Qt::RightToLeft, pressed);

    if (cellWidth > 0 && glyph_.height() > 0) {
        int index = 0;
        if (!isEnabled())
            index = 1;
        else if (isDown())
            index = 2;
        else if (down_)
            index = 3;
        const bool ownCell = index < numGlyphs_;
        const QImage cell =
            keyedCell(glyph_.copy(ownCell ? index * cellWidth : 0, 0, cellWidth, glyph_.height()));
        if (!isEnabled() && !ownCell) {
            // Without a disabled cell the glyph is shown engraved.
            painter.drawImage(place.glyph + QPoint(1, 1), silhouette(cell, highlight));
            painter.drawImage(place.glyph, silhouette(cell, shadow));
        } else {
            painter.drawImage(place.glyph, cell);
        }
    }

    if (!text().isEmpty()) {
        painter.setFont(font());
        painter.setLayoutDirection(layoutDirection());
        if (isEnabled()) {
            painter.setPen(buttonTextColor());
            painter.drawText(place.caption, Qt::AlignCenter, text());
        } else {
            painter.setPen(highlight);
            painter.drawText(place.caption.translated(1, 1), Qt::AlignCenter, text());
            painter.setPen(shadow);
            painter.drawText(place.caption, Qt::AlignCenter, text());
        }
    }
}

void TSpeedButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintButton(painter);
}

void TSpeedButton::enterEvent(QEnterEvent* event)
{
    mouseInControl_ = true;
    update();
    QToolButton::enterEvent(event);
}

void TSpeedButton::leaveEvent(QEvent* event)
{
    mouseInControl_ = false;
    update();
    QToolButton::leaveEvent(event);
}
