// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Shape.h"

#include "toolkit/Canvas.h"

#include <QEvent>
#include <QMouseEvent>

#include <algorithm>

TShape::TShape(QWidget* parent) : QWidget(parent) {}

void TShape::SetShape(int shape)
{
    shape_ = static_cast<TShapeType>(std::clamp(shape, 0, 2));
    update();
}

void TShape::SetBrushColor(TColor color)
{
    if (color == brushColor_)
        return;
    brushColor_ = color;
    update();
}

void TShape::SetBrushStyle(TBrushStyle style)
{
    brushStyle_ = style;
    update();
}

void TShape::SetPenColor(TColor color)
{
    penColor_ = color;
    update();
}

QRect TShape::FigureRect() const
{
    // A one-pixel pen: the figure fills the control; circles are centred squares.
    int x = 0, y = 0, w = width(), h = height();
    if (shape_ == stCircle) {
        const int s = std::min(w, h);
        x += (w - s) / 2;
        y += (h - s) / 2;
        w = h = s;
    }
    return QRect(x, y, w, h);
}

void TShape::paintEvent(QPaintEvent*)
{
    PaintThroughImage(*this, [this](QPaintDevice& device) { paintFigure(device); });
}

void TShape::paintFigure(QPaintDevice& device) const
{
    Canvas canvas(device);
    canvas.pen = {penColor_, 1, psSolid};
    canvas.brush = {brushColor_, brushStyle_};
    const QRect r = FigureRect();
    const int x1 = r.left(), y1 = r.top(), x2 = r.left() + r.width(), y2 = r.top() + r.height();
    switch (shape_) {
    case stRectangle:
        canvas.rectangle(x1, y1, x2, y2);
        break;
    case stCircle:
        canvas.ellipse(x1, y1, x2, y2);
        break;
    case stRoundRect: {
        // The corners are a quarter of the shorter side.
        const int corner = std::min(r.width(), r.height()) / 4;
        canvas.roundRect(x1, y1, x2, y2, corner, corner);
        break;
    }
    }
}

void TShape::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

void TShape::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    emit MouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
}

TLabel::TLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMargin(0);
    setIndent(0);
    updateBackground();
}

void TLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        adjustSize();
}

void TLabel::SetTransparent(bool transparent)
{
    transparent_ = transparent;
    updateBackground();
}

void TLabel::SetColor(TColor color)
{
    color_ = color;
    parentColor_ = false;
    updateBackground();
}

void TLabel::updateBackground()
{
    // Qt leaves what the parent painted where a child paints nothing.
    setAutoFillBackground(!transparent_ && !parentColor_);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ToQColor(color_));
    setPalette(pal);
}
