// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A widget as a screen with ratio device pixels to each of its own shows it, and a test that
// tells a picture drawn at that resolution from one drawn at one device pixel per pixel and
// blown up.

#include <QImage>
#include <QWidget>

#include <cmath>
#include <set>
#include <utility>

inline QImage RenderScaled(QWidget& widget, double ratio, const QColor& background)
{
    QImage image(static_cast<int>(std::ceil(widget.width() * ratio)),
                 static_cast<int>(std::ceil(widget.height() * ratio)), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    image.setDevicePixelRatio(1);
    return image;
}

// How many of these pixels leave part of their 2x2 block (at even coordinates) to others: a
// picture doubled from one device pixel per pixel is made of whole blocks and has none.
inline int SplitBlocks(const std::set<std::pair<int, int>>& pixels)
{
    int split = 0;
    for (const auto& [x, y] : pixels) {
        const int bx = x & ~1, by = y & ~1;
        split += !(pixels.count({bx, by}) && pixels.count({bx + 1, by}) &&
                   pixels.count({bx, by + 1}) && pixels.count({bx + 1, by + 1}));
    }
    return split;
}
