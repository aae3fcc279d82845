// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Canvas.h"

#include <QFontMetrics>
#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>

int SignedFontHeight(const QFont& font, int logicalDpiY)
{
    if (font.pixelSize() > 0)
        return -font.pixelSize();
    return -static_cast<int>(std::lround(font.pointSizeF() * logicalDpiY / 72.0));
}

namespace {

// The device's size in the canvas's pixels: an image counts its device pixels, which a
// ratio above 1 packs several to each of ours.
QSize logicalSize(const QPaintDevice& device)
{
    if (device.devType() == QInternal::Image)
        return static_cast<const QImage&>(device).deviceIndependentSize().toSize();
    return {device.width(), device.height()};
}

}  // namespace

Canvas::Canvas(QPaintDevice& device)
    : m_device(device),
      m_painter(&device),
      m_size(logicalSize(device)),
      m_scaled(device.devicePixelRatio() != 1)
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
    const long long right = std::min<long long>(x2, m_size.width());
    const long long bottom = std::min<long long>(y2, m_size.height());
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
    const bool rounded = cornerWidth > 0 && cornerHeight > 0;
    if (m_scaled) {
        paintScaledFigure(x1, y1, x2, y2, [&](const QRectF& r, double inset) {
            QPainterPath path;
            if (rounded)
                path.addRoundedRect(r, std::max(cornerWidth / 2.0 - inset, 0.0),
                                    std::max(cornerHeight / 2.0 - inset, 0.0));
            else
                path.addRect(r);
            return path;
        });
        return;
    }
    const auto shape = prepareFigure(x1, y1, x2, y2);
    if (!shape)
        return;
    if (rounded)
        m_painter.drawRoundedRect(*shape, cornerWidth / 2.0, cornerHeight / 2.0);
    else
        m_painter.drawRect(*shape);
}

void Canvas::ellipse(int x1, int y1, int x2, int y2)
{
    if (m_scaled) {
        paintScaledFigure(x1, y1, x2, y2, [](const QRectF& r, double) {
            QPainterPath path;
            path.addEllipse(r);
            return path;
        });
        return;
    }
    if (const auto shape = prepareFigure(x1, y1, x2, y2))
        m_painter.drawEllipse(*shape);
}

// Above one device pixel per pixel, a stroke Qt centres on the outline would straddle
// device pixels; the pen is painted instead as the band between the figure and the same
// figure inset by the pen's width, so that it covers the pixels it covers unscaled, at the
// device's resolution, and the brush fills what lies inside it.
void Canvas::paintScaledFigure(int x1, int y1, int x2, int y2,
                               const std::function<QPainterPath(const QRectF&, double)>& figure)
{
    if (x2 <= x1 || y2 <= y1)
        return;
    const QRectF outer(x1, y1, static_cast<double>(x2) - x1, static_cast<double>(y2) - y1);
    if (pen.style == psClear) {
        // Without a pen the fill stops one short of the pen's place, as unscaled.
        if (brush.style != bsClear)
            m_painter.fillPath(figure(outer.adjusted(0, 0, -1, -1), 0), ToQColor(brush.color));
        return;
    }
    const double w = std::max(pen.width, 1);
    const QRectF inner = outer.adjusted(w, w, -w, -w);
    const QPainterPath inside =
        inner.isValid() ? figure(inner, w) : QPainterPath();
    if (brush.style != bsClear && !inside.isEmpty())
        m_painter.fillPath(inside, ToQColor(brush.color));
    QPainterPath band = figure(outer, 0);
    band.addPath(inside);
    band.setFillRule(Qt::OddEvenFill);
    m_painter.fillPath(band, penColor());
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
    // lines are stepped here: every pixel from the start, the end point left out. Each run
    // of pixels along a row or a column is filled as one rectangle of the canvas's pixels,
    // which a scaled device paints whole at its own resolution.
    const long long dx = std::llabs(static_cast<long long>(x) - from.x());
    const long long dy = -std::llabs(static_cast<long long>(y) - from.y());
    const int sx = from.x() < x ? 1 : -1;
    const int sy = from.y() < y ? 1 : -1;
    const QRect bounds(QPoint(0, 0), m_size);
    const QColor color = penColor();
    QRect run;
    const auto flush = [&] {
        run = run.intersected(bounds);
        if (!run.isEmpty())
            m_painter.fillRect(run, color);
        run = QRect();
    };
    long long err = dx + dy;
    QPoint p = from;
    while (p != m_penPos) {
        const QRect pixel(p, QSize(1, 1));
        const bool extends = !run.isEmpty() &&
                             ((run.height() == 1 && run.top() == p.y() &&
                               (p.x() == run.left() - 1 || p.x() == run.right() + 1)) ||
                              (run.width() == 1 && run.left() == p.x() &&
                               (p.y() == run.top() - 1 || p.y() == run.bottom() + 1)));
        if (extends)
            run = run.united(pixel);
        else {
            flush();
            run = pixel;
        }
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
    flush();
}

void Canvas::textOut(int x, int y, const QString& text)
{
    if (brush.style == bsSolid)
        m_painter.fillRect(QRect(x, y, textWidth(text), textHeight()), ToQColor(brush.color));
    const QFont drawn = drawingFont();
    const QFontMetrics metrics(drawn, &m_device);
    QPointF at(x, y + metrics.ascent());
    if (m_scaled) {
        // The glyphs' outlines fall on other fractions of a pixel at the device's resolution;
        // the ink starts where it starts unscaled, so that a value that just fits between
        // the lines around it unscaled (three digits in a narrow gauge) fits at every ratio.
        const qreal ratio = m_device.devicePixelRatio();
        QFont fine = drawn;
        if (fine.pixelSize() > 0)
            fine.setPixelSize(qRound(fine.pixelSize() * ratio));
        else
            fine.setPointSizeF(fine.pointSizeF() * ratio);
        const qreal fineLeft = QFontMetricsF(fine, &m_device).boundingRect(text).left() / ratio;
        at.rx() += metrics.boundingRect(text).left() - fineLeft;
    }
    m_painter.setFont(drawn);
    m_painter.setPen(ToQColor(fontColor));
    m_painter.drawText(at, text);
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
    const qreal ratio = painter.paintEngine()->paintDevice()->devicePixelRatio();
    if (ratio == 1) {
        painter.end();
        paint(widget);
        return;
    }
    // Whole device pixels: at a fractional ratio the last one may be only partly the widget's.
    QImage image(static_cast<int>(std::ceil(widget.width() * ratio)),
                 static_cast<int>(std::ceil(widget.height() * ratio)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    // The font is measured at the widget's logical resolution, as unscaled.
    constexpr double kInchesPerMetre = 1 / 0.0254;
    image.setDotsPerMeterX(qRound(widget.logicalDpiX() * kInchesPerMetre));
    image.setDotsPerMeterY(qRound(widget.logicalDpiY() * kInchesPerMetre));
    paint(image);
    painter.drawImage(QPointF(0, 0), image);
}
