#include "toolkit/Shape.h"

#include <QMouseEvent>
#include <QPainter>

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
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, shape_ != stRectangle);
    p.setPen(QPen(ToQColor(penColor_), 1));
    p.setBrush(brushStyle_ == bsSolid ? QBrush(ToQColor(brushColor_)) : QBrush(Qt::NoBrush));
    const QRect r = FigureRect();
    const QRectF inner = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
    switch (shape_) {
    case stRectangle:
        p.drawRect(r.adjusted(0, 0, -1, -1));
        break;
    case stCircle:
        p.drawEllipse(inner);
        break;
    case stRoundRect: {
        const qreal corner = std::min(r.width(), r.height()) / 4 / 2.0;
        p.drawRoundedRect(inner, corner, corner);
        break;
    }
    }
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

void TLabel::SetTransparent(bool transparent)
{
    transparent_ = transparent;
    updateBackground();
}

void TLabel::SetColor(TColor color)
{
    color_ = color;
    updateBackground();
}

void TLabel::updateBackground()
{
    setAutoFillBackground(!transparent_);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ToQColor(color_));
    setPalette(pal);
}
