// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/ColorProgressBar.h"

#include "toolkit/Canvas.h"

#include <QLocale>
#include <QPaintDevice>
#include <QPalette>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

namespace {

// The bar's distance from the edge it grows from and from both side edges.
constexpr int BarInset = 4;

// Far-off values (a Position far above a lowered Max, a huge LevelMargin) are held to
// this distance from the control, so that no coordinate overflows and nothing loops over
// pixels that cannot be seen.
constexpr long long CoordinateLimit = 1 << 20;

int ToCoordinate(long long v)
{
    return static_cast<int>(std::clamp(v, -CoordinateLimit, CoordinateLimit));
}

int ToCoordinate(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, -static_cast<double>(CoordinateLimit),
                                       static_cast<double>(CoordinateLimit)));
}

// To the nearest integer, halves to the even neighbour (the default rounding mode).
int Round(double v)
{
    return ToCoordinate(std::nearbyint(v));
}

int Trunc(double v)
{
    return ToCoordinate(std::trunc(v));
}

// Exact decimal digits of |v| > 0 and the exponent x of v = d.ddd... * 10^x. A double has
// at most 767 significant decimal digits; glibc prints them exactly.
std::pair<std::string, int> ExactDigits(double v)
{
    std::array<char, 800> text{};
    std::snprintf(text.data(), text.size(), "%.780e", std::fabs(v));
    const std::string s(text.data());
    const auto e = s.find('e');
    return {s.substr(0, 1) + s.substr(2, e - 2), std::atoi(s.c_str() + e + 1)};
}

}  // namespace

QString FormatGaugeValue(double v, int precision)
{
    if (std::isnan(v))
        return QStringLiteral("NAN");
    if (std::isinf(v))
        return v < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (v == 0)
        return QStringLiteral("0");
    const int p = std::clamp(precision, 2, 18);

    auto [digits, x] = ExactDigits(v);
    // Round half away from zero on the exact digits.
    const bool up = digits[p] >= '5';
    digits.resize(p);
    if (up) {
        int i = p - 1;
        while (i >= 0 && digits[i] == '9')
            digits[i--] = '0';
        if (i >= 0)
            ++digits[i];
        else {
            digits.insert(digits.begin(), '1');
            digits.pop_back();
            ++x;
        }
    }
    digits.erase(digits.find_last_not_of('0') + 1);

    const QString d = QString::fromStdString(digits);
    const QString separator = QLocale().decimalPoint();
    const int n = static_cast<int>(d.size());
    const int e = x + 1;  // v = 0.ddd... * 10^e
    QString out = v < 0 ? QStringLiteral("-") : QString();
    if (e >= -3 && e <= p) {
        if (e <= 0)
            out += QStringLiteral("0") + separator + QString(-e, QLatin1Char('0')) + d;
        else if (n <= e)
            out += d + QString(e - n, QLatin1Char('0'));
        else
            out += d.left(e) + separator + d.mid(e);
    } else {
        out += d.left(1);
        if (n > 1)
            out += separator + d.mid(1);
        out += QStringLiteral("E") + QString::number(x);
    }
    return out;
}

TColorProgressBar::TColorProgressBar(QWidget* owner)
    : QWidget(owner)
{
    resize(150, 17);
    position_ = max_ / 2;  // stored directly: no sample is recorded
    Clear();
}

std::optional<QVariant> TColorProgressBar::DeclaredDefault(std::string_view property)
{
    static const std::array<std::pair<std::string_view, QVariant>, 16> defaults{{
        {"BackColor", QVariant::fromValue<TColor>(clBtnFace)},
        {"FrameColor", QVariant::fromValue<TColor>(clBtnShadow)},
        {"ForeColor", QVariant::fromValue<TColor>(clBlue)},
        {"Ctl3D", false},
        {"ShowLevel", true},
        {"ShowLevelText", true},
        {"ShowPosition", true},
        {"LevelMargin", 2},
        {"Precision", 3},
        {"PeakHoldSampling", 0},
        {"ShowRange", false},
        {"RangeColor", QVariant::fromValue<TColor>(clGray)},
        {"RuleColor", QVariant::fromValue<TColor>(clGray)},
        {"StartColor", QVariant::fromValue<TColor>(clGreen)},
        {"EndColor", QVariant::fromValue<TColor>(clRed)},
        {"TextPosition", QVariant::fromValue(tpAuto)},
    }};
    for (const auto& [name, value] : defaults)
        if (name == property)
            return value;
    return std::nullopt;
}

void TColorProgressBar::SetBackColor(TColor value)
{
    backColor_ = value;
    update();
}

void TColorProgressBar::SetFrameColor(TColor value)
{
    frameColor_ = value;
    update();
}

void TColorProgressBar::SetForeColor(TColor value)
{
    foreColor_ = value;
    update();
}

void TColorProgressBar::SetPosition(double value)
{
    const double shownBefore[] = {position_, MaxLevel, MinLevel, AverageLevel};
    if (value > max_)
        position_ = max_;
    else if (value >= min_)
        position_ = value;
    else
        position_ = min_;

    ++SampleCount;
    if (position_ > MaxLevel)
        MaxLevel = position_;
    if (position_ < MinLevel)
        MinLevel = position_;
    LevelTotal += position_;
    AverageLevel = LevelTotal / SampleCount;

    if (peakHoldSampling_ > 0) {
        // A new maximum is held for its own sample and PeakHoldSampling more; then the
        // peak drops to the current value and the running maximum starts again there.
        if (MaxLevel == currentPeakValue_) {
            if (HoldCount < std::numeric_limits<int>::max())
                ++HoldCount;
        } else {
            currentPeakValue_ = MaxLevel;
            HoldCount = 0;
        }
        if (HoldCount > peakHoldSampling_) {
            HoldCount = 0;
            currentPeakValue_ = position_;
            MaxLevel = position_;
        }
    }
    // The same picture again is not painted again: the bar and its text follow the
    // position, the level marks the recorded levels.
    const bool moved = position_ != shownBefore[0];
    const bool levelsMoved = MaxLevel != shownBefore[1] || MinLevel != shownBefore[2] ||
                             AverageLevel != shownBefore[3];
    if (moved || (showLevel_ && levelsMoved))
        update();
}

void TColorProgressBar::SetOrientation(TOrientation value)
{
    if (value > cpbTopToBottom)
        return;
    orientation_ = value;
    update();
}

void TColorProgressBar::SetMax(double value)
{
    max_ = value >= min_ ? value : min_;
    update();
}

void TColorProgressBar::SetMin(double value)
{
    min_ = value <= max_ ? value : max_;
    update();
}

void TColorProgressBar::SetCtl3D(bool value)
{
    ctl3D_ = value;
    update();
}

void TColorProgressBar::SetShowLevel(bool value)
{
    showLevel_ = value;
    update();
}

void TColorProgressBar::SetShowLevelText(bool value)
{
    showLevelText_ = value;
    update();
}

void TColorProgressBar::SetShowPosition(bool value)
{
    showPosition_ = value;
    update();
}

void TColorProgressBar::SetLevelColor(TColor value)
{
    levelColor_ = value;
    update();
}

void TColorProgressBar::SetLevelMargin(int value)
{
    levelMargin_ = value;
    update();
}

void TColorProgressBar::SetPrecision(int value)
{
    precision_ = value;
    update();
}

void TColorProgressBar::SetCorner(bool value)
{
    corner_ = value;
    CornerRadius = value ? 5 : 0;
    update();
}

void TColorProgressBar::SetRefColor(TColor value)
{
    refColor_ = value;
    update();
}

void TColorProgressBar::SetShowReference(bool value)
{
    showReference_ = value;
    update();
}

void TColorProgressBar::SetReference(double value)
{
    if (value < min_)
        reference_ = min_;
    else if (value > max_)
        reference_ = max_;
    else
        reference_ = value;
    update();
}

void TColorProgressBar::SetPeakHoldSampling(int value)
{
    if (value <= 0) {
        peakHoldSampling_ = 0;
        HoldCount = 0;
        currentPeakValue_ = 0;
    } else {
        peakHoldSampling_ = value;
    }
}

void TColorProgressBar::SetShowRange(bool value)
{
    showRange_ = value;
    update();
}

// The limits keep their share of Max from the time they are set: a later change of Max
// does not move the band. The last test uses the value as given, not the clamped one.
void TColorProgressBar::SetUpperLimit(double value)
{
    upperLimit_ = value;
    if (value < min_)
        upperLimit_ = min_;
    else if (value > max_)
        upperLimit_ = max_;
    if (value < lowerLimit_)
        upperLimit_ = lowerLimit_;
    UpperRatio = max_ != 0 ? upperLimit_ / max_ : 0;
    update();
}

void TColorProgressBar::SetLowerLimit(double value)
{
    lowerLimit_ = value;
    if (value < min_)
        lowerLimit_ = min_;
    else if (value > max_)
        lowerLimit_ = max_;
    if (value > upperLimit_)
        lowerLimit_ = upperLimit_;
    LowerRatio = max_ != 0 ? lowerLimit_ / max_ : 0;
    update();
}

void TColorProgressBar::SetRangeColor(TColor value)
{
    rangeColor_ = value;
    const TColor rgb = ColorToRGB(value);
    RangeEdgeColor = RGB(GetRValue(rgb) >> 1, GetGValue(rgb) >> 1, GetBValue(rgb) >> 1);
    update();
}

void TColorProgressBar::SetSigColor(TColor value)
{
    sigColor_ = value;
    update();
}

void TColorProgressBar::SetRuleColor(TColor value)
{
    ruleColor_ = value;
    update();
}

void TColorProgressBar::SetRuleStep(double value)
{
    ruleStep_ = value < 0 ? 0 : value;
    update();
}

void TColorProgressBar::SetStartColor(TColor value)
{
    startColor_ = value;
    update();
}

void TColorProgressBar::SetEndColor(TColor value)
{
    endColor_ = value;
    update();
}

void TColorProgressBar::SetEnableGradation(bool value)
{
    enableGradation_ = value;
    update();
}

void TColorProgressBar::SetTextPosition(TTextPosition value)
{
    if (value > tpCenter)
        return;
    // Places the orientation has none of become the matching ones it has.
    if (IsHorizontal()) {
        if (value == tpTop)
            value = tpRight;
        else if (value == tpBottom)
            value = tpLeft;
    } else {
        if (value == tpLeft)
            value = tpBottom;
        else if (value == tpRight)
            value = tpTop;
    }
    textPosition_ = value;
    update();
}

void TColorProgressBar::Clear()
{
    MinLevel = max_;
    MaxLevel = 0;
    AverageLevel = 0;
    LevelTotal = 0;
    SampleCount = 0;
    // The level lines show the statistics just restarted.
    if (showLevel_)
        update();
}

// --- painting ---

bool TColorProgressBar::IsHorizontal() const
{
    return orientation_ == cpbLeftToRight || orientation_ == cpbRightToLeft;
}

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

// --- placement of the value text ---

QPoint TColorProgressBar::PlaceValueText(int barEnd, QSize text) const
{
    switch (textPosition_) {
    case tpAuto: return PlaceTextAuto(barEnd, text);
    case tpAbove: return PlaceTextAbove(barEnd, text);
    case tpBelow: return PlaceTextBelow(barEnd, text);
    case tpTop: return PlaceTextTop(text);
    case tpBottom: return PlaceTextBottom(text);
    case tpLeft: return PlaceTextLeft(text);
    case tpRight: return PlaceTextRight(text);
    case tpCenter: return PlaceTextCenter(text);
    }
    return {};
}

// Beside the bar's end on the empty side when the text fits there, else on the bar.
QPoint TColorProgressBar::PlaceTextAuto(int a, QSize text) const
{
    const long long lm = levelMargin_;
    switch (orientation_) {
    case cpbLeftToRight:
        return a + text.width() + lm + TextMargin > width() ? PlaceTextBelow(a, text)
                                                            : PlaceTextAbove(a, text);
    case cpbBottomToTop:
        return a - text.height() - lm < 0 ? PlaceTextBelow(a, text) : PlaceTextAbove(a, text);
    case cpbRightToLeft:
        return a - text.width() - lm < 0 ? PlaceTextAbove(a, text) : PlaceTextBelow(a, text);
    case cpbTopToBottom:
        return a + text.height() + lm > height() ? PlaceTextAbove(a, text)
                                                 : PlaceTextBelow(a, text);
    }
    return {};
}

QPoint TColorProgressBar::PlaceTextAbove(int a, QSize text) const
{
    const long long lm = levelMargin_;
    if (IsHorizontal())
        return {ToCoordinate(a + TextMargin + lm), (height() - text.height()) / 2};
    return {(width() - text.width()) / 2, ToCoordinate(a - text.height() - TextMargin - lm)};
}

QPoint TColorProgressBar::PlaceTextBelow(int a, QSize text) const
{
    const long long lm = levelMargin_;
    if (IsHorizontal())
        return {ToCoordinate(a - text.width() - lm - TextMargin), (height() - text.height()) / 2};
    return {(width() - text.width()) / 2, ToCoordinate(a + text.height() + lm - TextMargin)};
}

QPoint TColorProgressBar::PlaceTextTop(QSize text) const
{
    if (IsHorizontal())
        return {};
    return {(width() - text.width()) / 2, ToCoordinate(TextMargin + static_cast<long long>(levelMargin_))};
}

QPoint TColorProgressBar::PlaceTextBottom(QSize text) const
{
    if (IsHorizontal())
        return {};
    return {(width() - text.width()) / 2,
            ToCoordinate(height() - text.height() - TextMargin - static_cast<long long>(levelMargin_))};
}

QPoint TColorProgressBar::PlaceTextLeft(QSize text) const
{
    if (!IsHorizontal())
        return {};
    return {ToCoordinate(TextMargin + static_cast<long long>(levelMargin_)), (height() - text.height()) / 2};
}

QPoint TColorProgressBar::PlaceTextRight(QSize text) const
{
    if (!IsHorizontal())
        return {};
    return {ToCoordinate(width() - text.width() - TextMargin - static_cast<long long>(levelMargin_)),
            (height() - text.height()) / 2};
}

QPoint TColorProgressBar::PlaceTextCenter(QSize text) const
{
    return {(width() - text.width()) / 2, (height() - text.height()) / 2};
}
