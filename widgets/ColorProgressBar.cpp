// SPDX-License-Identifier: GPL-3.0-or-later
// The bar gauge's model: its properties, the statistics of the positions it was given and
// the text of a value. Painting and text placement are in ColorProgressBarPainting.cpp
// and ColorProgressBarText.cpp.
#include "widgets/ColorProgressBar.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

namespace {

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

bool TColorProgressBar::IsHorizontal() const
{
    return orientation_ == cpbLeftToRight || orientation_ == cpbRightToLeft;
}
