// SPDX-License-Identifier: GPL-3.0-or-later
// The bar gauge's painting: background, range band, bar or gradation, rule marks, value
// text, level and reference lines, frame.
#include "widgets/ColorProgressBar.h"
#include "widgets/ColorProgressBarCoordinates.h"

#include "toolkit/Canvas.h"

#include <QPaintDevice>
#include <QPalette>

#include <algorithm>
#include <array>
#include <cmath>

using gauge::Round;
using gauge::ToCoordinate;
using gauge::Trunc;

namespace {

// The bar's distance from the edge it grows from and from both side edges.
constexpr int BarInset = 4;

}  // namespace

int TColorProgressBar::Extent() const
{
    return IsHorizontal() ? width() : height();
}

int TColorProgressBar::ScalePosition(double value) const
{
    return Round(value / max_ * Extent());
}

// The x (horizontal bars) or y (vertical bars) of a distance from the origin edge.
int TColorProgressBar::Coordinate(int distance) const
{
    switch (orientation_) {
    case cpbBottomToTop: return height() - distance;
    case cpbRightToLeft: return width() - distance;
    case cpbLeftToRight:
    case cpbTopToBottom: break;
    }
    return distance;
}

TColorProgressBar::Edges TColorProgressBar::BarEdges(int barLength) const
{
    const int w = width();
    const int h = height();
    const int c = barLength;
    switch (orientation_) {
    case cpbBottomToTop: return {BarInset, h - c, w - BarInset, h - BarInset};
    case cpbRightToLeft: return {w - c, BarInset, w - BarInset, h - BarInset};
    case cpbTopToBottom: return {BarInset, BarInset, w - BarInset, c};
    case cpbLeftToRight: break;
    }
    return {BarInset, BarInset, c, h - BarInset};
}

void TColorProgressBar::paintEvent(QPaintEvent*)
{
    PaintThroughImage(*this, [this](QPaintDevice& device) { PaintTo(device); });
}

void TColorProgressBar::PaintTo(QPaintDevice& device) const
{
    if (width() <= 0 || height() <= 0)
        return;
    Canvas canvas(device);
    Paint(canvas);
}

void TColorProgressBar::Paint(Canvas& canvas) const
{
    const int w = width();
    const int h = height();
    const int r = CornerRadius;

    canvas.font = font();
    canvas.fontColor = FromQColor(palette().color(QPalette::WindowText));
    canvas.pen.width = 1;

    if (ctl3D_) {
        canvas.pen.style = psSolid;
        canvas.pen.color = clActiveBorder;
        canvas.brush = {clBtnFace, bsSolid};
        canvas.roundRect(1, 1, w, h, r, r);
        canvas.pen.style = psClear;
        canvas.brush = {clWhite, bsSolid};
        canvas.roundRect(3, 3, w, h, r, r);
    } else {
        canvas.pen.style = psClear;
        canvas.brush = {backColor_, bsSolid};
        canvas.roundRect(0, 0, w, h, r, r);
    }
    canvas.pen.style = psSolid;

    // Without a scale there is nothing to place on it.
    if (max_ != 0) {
        const int barLength = ScalePosition(position_);
        if (showRange_)
            PaintRange(canvas);
        PaintBar(canvas, barLength);
        PaintRuleMarks(canvas);
        canvas.brush.style = bsClear;  // texts over what lies beneath
        if (showPosition_)
            PaintValueText(canvas, barLength);
        if (showLevel_)
            PaintLevels(canvas);
        if (showReference_)
            PaintReference(canvas);
    }

    DrawFrame(canvas, 0, 0, w, h);
}

void TColorProgressBar::PaintRange(Canvas& canvas) const
{
    const int lower = Coordinate(Round(Extent() * LowerRatio));
    const int upper = Coordinate(Round(Extent() * UpperRatio));
    canvas.brush = {rangeColor_, bsSolid};
    switch (orientation_) {
    case cpbLeftToRight: canvas.fillRect(lower, 0, upper, height()); break;
    case cpbRightToLeft: canvas.fillRect(upper, 0, lower, height()); break;
    case cpbBottomToTop: canvas.fillRect(0, upper, width(), lower); break;
    case cpbTopToBottom: canvas.fillRect(0, lower, width(), upper); break;
    }
    canvas.pen.color = RangeEdgeColor;
    DrawLineAcross(canvas, lower);
    DrawLineAcross(canvas, upper);
}

void TColorProgressBar::PaintBar(Canvas& canvas, int barLength) const
{
    const Edges bar = BarEdges(barLength);
    if (enableGradation_) {
        PaintGradation(canvas, bar);
        return;
    }
    canvas.brush = {position_ > reference_ ? sigColor_ : foreColor_, bsSolid};
    canvas.fillRect(bar.left, bar.top, bar.right, bar.bottom);
}

void TColorProgressBar::PaintRuleMarks(Canvas& canvas) const
{
    canvas.pen.color = ruleColor_;
    if (!(ruleStep_ > 0))
        return;
    // A step that truncates to nothing would never advance.
    const int step = Trunc(ruleStep_ / max_ * Extent());
    if (step <= 0)
        return;
    // The last mark is the first one at or past the far edge.
    for (int distance = step;; distance += step) {
        DrawLineAcross(canvas, Coordinate(distance));
        if (distance >= Extent())
            break;
    }
}

void TColorProgressBar::PaintValueText(Canvas& canvas, int barLength) const
{
    const QString text = FormatGaugeValue(position_, precision_);
    const QPoint at = PlaceValueText(Coordinate(barLength),
                                     QSize(canvas.textWidth(text), canvas.textHeight()));
    canvas.textOut(at.x(), at.y(), text);
}

void TColorProgressBar::PaintLevels(Canvas& canvas) const
{
    const std::array<double, 3> levels{MaxLevel, MinLevel, AverageLevel};
    std::array<int, 3> at{};
    canvas.pen.color = levelColor_;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        at[i] = Coordinate(ScalePosition(levels[i]));
        DrawLineAcross(canvas, at[i]);
    }
    if (!showLevelText_)
        return;
    const long long lm = levelMargin_;
    const long long fh = canvas.fontHeight();  // negative: one character height above
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const QString text = FormatGaugeValue(levels[i], precision_);
        if (IsHorizontal())
            canvas.textOut(ToCoordinate(at[i] + lm), ToCoordinate(lm), text);
        else
            canvas.textOut(ToCoordinate(lm), ToCoordinate(at[i] + fh - lm), text);
    }
}

void TColorProgressBar::PaintReference(Canvas& canvas) const
{
    const int at = Coordinate(ScalePosition(reference_));
    canvas.pen.color = refColor_;
    DrawLineAcross(canvas, at);
    const QString text = FormatGaugeValue(reference_, precision_);
    const long long lm = levelMargin_;
    const long long fh = canvas.fontHeight();
    if (IsHorizontal()) {
        canvas.textOut(ToCoordinate(at + lm), ToCoordinate(height() + fh - lm), text);
    } else {
        // The text's left edge is estimated at half a character height per digit.
        const long long x = width() - (-fh / 2) * static_cast<long long>(precision_);
        canvas.textOut(ToCoordinate(x), ToCoordinate(at + fh - lm), text);
    }
}

// Line i along the bar has StartColor plus i steps of 1/E of the way to EndColor, so the
// colour at a spot depends on its place on the scale, not on the bar's length. The colour
// values are taken as stored: system colours are not looked up.
void TColorProgressBar::PaintGradation(Canvas& canvas, Edges bar) const
{
    const double e = Extent();
    const double dR = (GetRValue(endColor_) - GetRValue(startColor_)) / e;
    const double dG = (GetGValue(endColor_) - GetGValue(startColor_)) / e;
    const double dB = (GetBValue(endColor_) - GetBValue(startColor_)) / e;

    const bool horizontal = IsHorizontal();
    const long long count = horizontal ? static_cast<long long>(bar.right) - bar.left + 1
                                       : static_cast<long long>(bar.bottom) - bar.top + 1;
    // Only the lines that land on the control are drawn; their colours keep their index.
    long long first = 0;
    long long last = count - 1;
    switch (orientation_) {
    case cpbLeftToRight:
        first = std::max(first, -static_cast<long long>(bar.left));
        last = std::min(last, static_cast<long long>(width()) - 1 - bar.left);
        break;
    case cpbRightToLeft:
        first = std::max(first, static_cast<long long>(bar.right) - (width() - 1));
        last = std::min(last, static_cast<long long>(bar.right));
        break;
    case cpbBottomToTop:
        first = std::max(first, static_cast<long long>(bar.bottom) - (height() - 1));
        last = std::min(last, static_cast<long long>(bar.bottom));
        break;
    case cpbTopToBottom:
        first = std::max(first, -static_cast<long long>(bar.top));
        last = std::min(last, static_cast<long long>(height()) - 1 - bar.top);
        break;
    }

    for (long long i = first; i <= last; ++i) {
        const int step = static_cast<int>(i);
        canvas.pen.color = RGB(GetRValue(startColor_) + static_cast<int>(std::ceil(step * dR)),
                               GetGValue(startColor_) + static_cast<int>(std::ceil(step * dG)),
                               GetBValue(startColor_) + static_cast<int>(std::ceil(step * dB)));
        switch (orientation_) {
        case cpbLeftToRight: DrawLine(canvas, bar.left + step, bar.top, bar.left + step, bar.bottom); break;
        case cpbRightToLeft: DrawLine(canvas, bar.right - step, bar.top, bar.right - step, bar.bottom); break;
        case cpbBottomToTop: DrawLine(canvas, bar.left, bar.bottom - step, bar.right, bar.bottom - step); break;
        case cpbTopToBottom: DrawLine(canvas, bar.left, bar.top + step, bar.right, bar.top + step); break;
        }
    }
}

void TColorProgressBar::DrawLine(Canvas& canvas, int x1, int y1, int x2, int y2) const
{
    canvas.moveTo(x1, y1);
    canvas.lineTo(x2, y2);
}

// A line over the whole cross extent at an x (horizontal bars) or a y (vertical bars).
void TColorProgressBar::DrawLineAcross(Canvas& canvas, int coordinate) const
{
    if (IsHorizontal())
        DrawLine(canvas, coordinate, 0, coordinate, height());
    else
        DrawLine(canvas, 0, coordinate, width(), coordinate);
}

void TColorProgressBar::DrawFrame(Canvas& canvas, int x1, int y1, int x2, int y2) const
{
    canvas.brush.style = bsClear;
    canvas.pen = {frameColor_, 1, psSolid};
    canvas.roundRect(x1, y1, x2, y2, CornerRadius, CornerRadius);
}
