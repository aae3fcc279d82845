// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A drawing surface with the desktop toolkit's pixel rules, on top of QPainter with
// antialiasing off:
// - fillRect(x1, y1, x2, y2) fills x1..x2-1 by y1..y2-1 (the right column and the bottom
//   row are left out);
// - lineTo paints every pixel of the line except its end point, so that lines chain
//   without painting a joint twice;
// - rectangle and roundRect run a 1-pixel pen along x1..x2-1 by y1..y2-1 and fill the
//   inside with the brush; without a pen the fill covers x1..x2-2 by y1..y2-2;
// - textOut puts the top-left corner of the text's cell at (x, y), over a clear or a
//   solid background;
// - text is drawn without antialiasing, and its size comes from QFontMetrics on the
//   device drawn on.
// Coordinates are the canvas's pixels. On a device with more than one device pixel to each
// of them (a scaled screen's image), the same pixels are covered, painted at the device's
// resolution: outlines, curves and text are not a scaled-up picture.

#include "toolkit/Graphics.h"

#include <QFont>
#include <QPainter>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <optional>

#include <functional>

class QPaintDevice;
class QPainterPath;
class QWidget;

enum TPenStyle : std::uint8_t { psSolid, psClear };

struct CanvasPen {
    TColor color = clBlack;
    int width = 1;
    TPenStyle style = psSolid;
};

struct CanvasBrush {
    TColor color = clWhite;
    TBrushStyle style = bsSolid;
};

// The toolkit's signed font height: negative when it gives the character height in pixels.
// A font sized in points is converted at the device's logical resolution (9 points at
// 96 dpi give -12).
int SignedFontHeight(const QFont& font, int logicalDpiY);

class Canvas {
public:
    // Paints on the device for the canvas's lifetime.
    explicit Canvas(QPaintDevice& device);
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    CanvasPen pen;
    CanvasBrush brush;
    QFont font;
    TColor fontColor = clWindowText;

    void fillRect(int x1, int y1, int x2, int y2);
    void rectangle(int x1, int y1, int x2, int y2);
    // cornerWidth and cornerHeight are the size of the corner ellipse, not its radii.
    void roundRect(int x1, int y1, int x2, int y2, int cornerWidth, int cornerHeight);
    // The ellipse inside the rectangle, with the same pen and fill rules.
    void ellipse(int x1, int y1, int x2, int y2);

    void moveTo(int x, int y);
    void lineTo(int x, int y);
    QPoint penPos() const { return m_penPos; }

    void textOut(int x, int y, const QString& text);
    int textWidth(const QString& text) const;
    // The height of a line of text in the canvas's font (ascent plus descent).
    int textHeight() const;
    // SignedFontHeight of the canvas's font on its device.
    int fontHeight() const;

private:
    QPaintDevice& m_device;
    QPainter m_painter;
    QSize m_size;   // in the canvas's pixels
    bool m_scaled;  // more than one device pixel to each of the canvas's
    QPoint m_penPos;

    // Sets pen and brush for a figure; the rectangle Qt draws it in, none when empty.
    std::optional<QRectF> prepareFigure(int x1, int y1, int x2, int y2);
    // figure(r, inset) is the figure's path in r, its corners inset by that much.
    void paintScaledFigure(int x1, int y1, int x2, int y2,
                           const std::function<QPainterPath(const QRectF&, double)>& figure);
    QColor penColor() const;
    QFont drawingFont() const;
};

// Paints a widget into an off-screen image at the device pixel ratio of what it is shown on,
// and shows that: on a scaled screen the pixel rules above hold in the widget's pixels and
// the picture is as sharp as the screen (a one-pixel line stays whole instead of thinning
// to dots, a curve is not a blown-up staircase). Unscaled, it paints the widget directly.
void PaintThroughImage(QWidget& widget, const std::function<void(QPaintDevice&)>& paint);
