#include "toolkit/Canvas.h"

#include <QFontMetrics>
#include <QImage>
#include <QWidget>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPen>
#include <QPolygon>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <cstdlib>

int SignedFontHeight(const QFont& font, int logicalDpiY)
{
    if (font.pixelSize() > 0)
        return -font.pixelSize();
    return -static_cast<int>(std::lround(font.pointSizeF() * logicalDpiY / 72.0));
}

Canvas::Canvas(QPaintDevice& device)
    : m_device(device), m_painter(&device)
{
    m_painter.setRenderHint(QPainter::Antialiasing, false);
}

QColor Canvas::penColor() const
{
    return ToQColor(pen.color);
}

void Canvas::fillRect(int x1, int y1, int x2, int y2)
{
    if (brush.style == bsClear)
        return;
    // Clipped here in 64 bits, so that far-off coordinates neither overflow nor reach the
    // rasteriser.
    const long long left = std::max<long long>(x1, 0);
    const long long top = std::max<long long>(y1, 0);
    const long long right = std::min<long long>(x2, m_device.width());
    const long long bottom = std::min<long long>(y2, m_device.height());
    if (right <= left || bottom <= top)
        return;
    m_painter.fillRect(QRect(static_cast<int>(left), static_cast<int>(top),
                             static_cast<int>(right - left), static_cast<int>(bottom - top)),
                       ToQColor(brush.color));
}

void Canvas::rectangle(int x1, int y1, int x2, int y2)
{
    roundRect(x1, y1, x2, y2, 0, 0);
}

void Canvas::roundRect(int x1, int y1, int x2, int y2, int cornerWidth, int cornerHeight)
{
    const auto shape = prepareFigure(x1, y1, x2, y2);
    if (!shape)
        return;
    if (cornerWidth > 0 && cornerHeight > 0)
        m_painter.drawRoundedRect(*shape, cornerWidth / 2.0, cornerHeight / 2.0);
    else
        m_painter.drawRect(*shape);
}

void Canvas::ellipse(int x1, int y1, int x2, int y2)
{
    if (const auto shape = prepareFigure(x1, y1, x2, y2))
        m_painter.drawEllipse(*shape);
}

std::optional<QRectF> Canvas::prepareFigure(int x1, int y1, int x2, int y2)
{
    const double width = static_cast<double>(x2) - x1;
    const double height = static_cast<double>(y2) - y1;
    if (width <= 0 || height <= 0)
        return std::nullopt;
    if (pen.style == psClear)
        m_painter.setPen(Qt::NoPen);
    else {
        QPen qpen(penColor(), std::max(pen.width, 1));
        qpen.setCosmetic(pen.width <= 1);
        qpen.setJoinStyle(Qt::MiterJoin);
        m_painter.setPen(qpen);
    }
    if (brush.style == bsClear)
        m_painter.setBrush(Qt::NoBrush);
    else
        m_painter.setBrush(ToQColor(brush.color));
    // Without antialiasing Qt runs a 1-pixel pen along the pixels at the rectangle's left
    // and top edges and one past its right and bottom edges, and fills up to the pen.
    return QRectF(x1, y1, width - 1, height - 1);
}

void Canvas::moveTo(int x, int y)
{
    m_penPos = QPoint(x, y);
}

void Canvas::lineTo(int x, int y)
{
    const QPoint from = m_penPos;
    m_penPos = QPoint(x, y);
    if (pen.style == psClear)
        return;
    if (pen.width > 1) {
        QPen qpen(penColor(), pen.width);
        qpen.setCapStyle(Qt::FlatCap);
        m_painter.setPen(qpen);
        m_painter.drawLine(from, m_penPos);
        return;
    }
    // Qt leaves out the end point only when a line runs rightwards or downwards, so thin
    // lines are stepped here: every pixel from the start, the end point left out.
    const long long dx = std::llabs(static_cast<long long>(x) - from.x());
    const long long dy = -std::llabs(static_cast<long long>(y) - from.y());
    const int sx = from.x() < x ? 1 : -1;
    const int sy = from.y() < y ? 1 : -1;
    const QRect bounds(0, 0, m_device.width(), m_device.height());
    QPolygon pixels;
    long long err = dx + dy;
    QPoint p = from;
    while (p != m_penPos) {
        if (bounds.contains(p))
            pixels.append(p);
        const long long e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            p.rx() += sx;
        }
        if (e2 <= dx) {
            err += dx;
            p.ry() += sy;
        }
    }
    if (pixels.isEmpty())
        return;
    QPen qpen(penColor(), 1);
    qpen.setCosmetic(true);
    m_painter.setPen(qpen);
    m_painter.drawPoints(pixels);
}

void Canvas::textOut(int x, int y, const QString& text)
{
    if (brush.style == bsSolid)
        m_painter.fillRect(QRect(x, y, textWidth(text), textHeight()), ToQColor(brush.color));
    const QFont drawn = drawingFont();
    m_painter.setFont(drawn);
    m_painter.setPen(ToQColor(fontColor));
    m_painter.drawText(QPoint(x, y + QFontMetrics(drawn, &m_device).ascent()), text);
}

int Canvas::textWidth(const QString& text) const
{
    return QFontMetrics(drawingFont(), &m_device).horizontalAdvance(text);
}

int Canvas::textHeight() const
{
    return QFontMetrics(drawingFont(), &m_device).height();
}

// Glyphs in whole pixels of the font colour, like every other stroke: the painter's
// antialiasing hints do not reach every font engine, the font's own strategy does.
QFont Canvas::drawingFont() const
{
    QFont drawn = font;
    drawn.setStyleStrategy(QFont::NoAntialias);
    return drawn;
}

int Canvas::fontHeight() const
{
    return SignedFontHeight(font, m_device.logicalDpiY());
}

void PaintThroughImage(QWidget& widget, const std::function<void(QPaintDevice&)>& paint)
{
    QPainter painter(&widget);
    if (!painter.isActive())
        return;  // outside a paint event there is nothing to paint on
    // Unscaled, the widget's own pixels are the image's: every stroke is opaque, so painting
    // them directly gives the same picture without an image to fill and blend each time.
    // (The device painted on is what counts: a widget may be rendered into a scaled image.)
    if (painter.paintEngine()->paintDevice()->devicePixelRatio() == 1) {
        painter.end();
        paint(widget);
        return;
    }
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    constexpr double kInchesPerMetre = 1 / 0.0254;
    image.setDotsPerMeterX(qRound(widget.logicalDpiX() * kInchesPerMetre));
    image.setDotsPerMeterY(qRound(widget.logicalDpiY() * kInchesPerMetre));
    paint(image);
    painter.drawImage(widget.rect(), image);
}
