// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bar gauge: one floating-point value shown as a bar growing in one of four directions,
// with the value as text, the running maximum, minimum and average (with peak hold), a
// reference line that switches the bar to a signal colour, a range band, rule marks and a
// colour gradation along the bar.

#include "toolkit/Graphics.h"

#include <QPoint>
#include <QSize>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string_view>

class Canvas;
class QPaintDevice;

enum TOrientation : std::uint8_t { cpbLeftToRight, cpbBottomToTop, cpbRightToLeft, cpbTopToBottom };

enum TTextPosition : std::uint8_t {
    tpAuto,    // beside the bar's end where the text fits, else on the bar
    tpAbove,   // right of the bar's end (horizontal bars), above it (vertical bars)
    tpBelow,   // left of the bar's end (horizontal bars), below it (vertical bars)
    tpTop,     // centred at the top edge (vertical bars)
    tpBottom,  // centred at the bottom edge (vertical bars)
    tpLeft,    // at the left edge (horizontal bars)
    tpRight,   // at the right edge (horizontal bars)
    tpCenter,  // centred in the control
};

// Gap in pixels between the value text and the bar's end or the control's edge.
inline constexpr int TextMargin = 4;

// v rounded to `precision` significant digits (taken as 2 to 18) in the general number
// format: fixed notation while the decimal exponent allows, else scientific ("1.23E3"),
// no trailing zeros, the locale's decimal separator.
QString FormatGaugeValue(double v, int precision);

class TColorProgressBar : public QWidget {
    Q_OBJECT
    // In declaration order: a stored form applies them in this order.
    Q_PROPERTY(TColor BackColor READ BackColor WRITE SetBackColor)
    Q_PROPERTY(TColor FrameColor READ FrameColor WRITE SetFrameColor)
    Q_PROPERTY(TColor ForeColor READ ForeColor WRITE SetForeColor)
    Q_PROPERTY(double Position READ Position WRITE SetPosition)
    Q_PROPERTY(TOrientation Orientation READ Orientation WRITE SetOrientation)
    Q_PROPERTY(double Max READ Max WRITE SetMax)
    Q_PROPERTY(double Min READ Min WRITE SetMin)
    Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE SetCtl3D)
    Q_PROPERTY(bool ShowLevel READ ShowLevel WRITE SetShowLevel)
    Q_PROPERTY(bool ShowLevelText READ ShowLevelText WRITE SetShowLevelText)
    Q_PROPERTY(bool ShowPosition READ ShowPosition WRITE SetShowPosition)
    Q_PROPERTY(TColor LevelColor READ LevelColor WRITE SetLevelColor)
    Q_PROPERTY(int LevelMargin READ LevelMargin WRITE SetLevelMargin)
    Q_PROPERTY(int Precision READ Precision WRITE SetPrecision)
    Q_PROPERTY(bool Corner READ Corner WRITE SetCorner)
    Q_PROPERTY(TColor RefColor READ RefColor WRITE SetRefColor)
    Q_PROPERTY(bool ShowReference READ ShowReference WRITE SetShowReference)
    Q_PROPERTY(double Reference READ Reference WRITE SetReference)
    Q_PROPERTY(int PeakHoldSampling READ PeakHoldSampling WRITE SetPeakHoldSampling)
    Q_PROPERTY(bool ShowRange READ ShowRange WRITE SetShowRange)
    Q_PROPERTY(double UpperLimit READ UpperLimit WRITE SetUpperLimit)
    Q_PROPERTY(double LowerLimit READ LowerLimit WRITE SetLowerLimit)
    Q_PROPERTY(TColor RangeColor READ RangeColor WRITE SetRangeColor)
    Q_PROPERTY(TColor SigColor READ SigColor WRITE SetSigColor)
    Q_PROPERTY(double CurrentPeakValue READ CurrentPeakValue)
    Q_PROPERTY(TColor RuleColor READ RuleColor WRITE SetRuleColor)
    Q_PROPERTY(double RuleStep READ RuleStep WRITE SetRuleStep)
    Q_PROPERTY(TColor StartColor READ StartColor WRITE SetStartColor)
    Q_PROPERTY(TColor EndColor READ EndColor WRITE SetEndColor)
    Q_PROPERTY(bool EnableGradation READ EnableGradation WRITE SetEnableGradation)
    Q_PROPERTY(TTextPosition TextPosition READ TextPosition WRITE SetTextPosition)

public:
    explicit TColorProgressBar(QWidget* owner = nullptr);

    // The value a stored form leaves out for a published property; none when the property
    // has no declared default (then it is always stored, a double only when not 0).
    static std::optional<QVariant> DeclaredDefault(std::string_view property);

    TColor BackColor() const { return backColor_; }
    void SetBackColor(TColor value);
    TColor FrameColor() const { return frameColor_; }
    void SetFrameColor(TColor value);
    TColor ForeColor() const { return foreColor_; }
    void SetForeColor(TColor value);
    double Position() const { return position_; }
    // Clamped into Min..Max and recorded as a sample of the statistics.
    void SetPosition(double value);
    TOrientation Orientation() const { return orientation_; }
    void SetOrientation(TOrientation value);
    double Max() const { return max_; }
    void SetMax(double value);
    double Min() const { return min_; }
    void SetMin(double value);
    bool Ctl3D() const { return ctl3D_; }
    void SetCtl3D(bool value);
    bool ShowLevel() const { return showLevel_; }
    void SetShowLevel(bool value);
    bool ShowLevelText() const { return showLevelText_; }
    void SetShowLevelText(bool value);
    bool ShowPosition() const { return showPosition_; }
    void SetShowPosition(bool value);
    TColor LevelColor() const { return levelColor_; }
    void SetLevelColor(TColor value);
    int LevelMargin() const { return levelMargin_; }
    void SetLevelMargin(int value);
    int Precision() const { return precision_; }
    void SetPrecision(int value);
    bool Corner() const { return corner_; }
    void SetCorner(bool value);
    TColor RefColor() const { return refColor_; }
    void SetRefColor(TColor value);
    bool ShowReference() const { return showReference_; }
    void SetShowReference(bool value);
    double Reference() const { return reference_; }
    void SetReference(double value);
    int PeakHoldSampling() const { return peakHoldSampling_; }
    void SetPeakHoldSampling(int value);
    bool ShowRange() const { return showRange_; }
    void SetShowRange(bool value);
    double UpperLimit() const { return upperLimit_; }
    void SetUpperLimit(double value);
    double LowerLimit() const { return lowerLimit_; }
    void SetLowerLimit(double value);
    TColor RangeColor() const { return rangeColor_; }
    void SetRangeColor(TColor value);
    TColor SigColor() const { return sigColor_; }
    void SetSigColor(TColor value);
    double CurrentPeakValue() const { return currentPeakValue_; }
    TColor RuleColor() const { return ruleColor_; }
    void SetRuleColor(TColor value);
    double RuleStep() const { return ruleStep_; }
    void SetRuleStep(double value);
    TColor StartColor() const { return startColor_; }
    void SetStartColor(TColor value);
    TColor EndColor() const { return endColor_; }
    void SetEndColor(TColor value);
    bool EnableGradation() const { return enableGradation_; }
    void SetEnableGradation(bool value);
    TTextPosition TextPosition() const { return textPosition_; }
    void SetTextPosition(TTextPosition value);

    // Restarts the statistics; the peak hold is left alone.
    void Clear();

    // Paints the whole gauge at the control's size onto any device; the control paints
    // itself through this. Qt composes a widget's painting off-screen and shows it in one
    // step, so the gauge is always double-buffered.
    void PaintTo(QPaintDevice& device) const;

    // A value's distance in pixels from the edge the bar grows from.
    int ScalePosition(double value) const;
    // Top-left point of the value text for the bar's end at coordinate `barEnd`, by
    // TextPosition; (0, 0) for a place the orientation has none of.
    QPoint PlaceValueText(int barEnd, QSize text) const;

    // The statistics and derived state, read-only.
    double maxLevel() const { return MaxLevel; }
    double minLevel() const { return MinLevel; }
    double averageLevel() const { return AverageLevel; }
    std::uint32_t sampleCount() const { return SampleCount; }
    int holdCount() const { return HoldCount; }
    int cornerRadius() const { return CornerRadius; }
    double lowerRatio() const { return LowerRatio; }
    double upperRatio() const { return UpperRatio; }
    TColor rangeEdgeColor() const { return RangeEdgeColor; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Sides of a rectangle in the toolkit's convention: right and bottom are exclusive
    // for fills.
    struct Edges {
        int left, top, right, bottom;
    };

    void Paint(Canvas& canvas) const;
    void PaintRange(Canvas& canvas) const;
    void PaintBar(Canvas& canvas, int barLength) const;
    void PaintRuleMarks(Canvas& canvas) const;
    void PaintValueText(Canvas& canvas, int barLength) const;
    void PaintLevels(Canvas& canvas) const;
    void PaintReference(Canvas& canvas) const;
    void PaintGradation(Canvas& canvas, Edges bar) const;
    void DrawLine(Canvas& canvas, int x1, int y1, int x2, int y2) const;
    void DrawLineAcross(Canvas& canvas, int coordinate) const;
    void DrawFrame(Canvas& canvas, int x1, int y1, int x2, int y2) const;

    QPoint PlaceTextAuto(int a, QSize text) const;
    QPoint PlaceTextAbove(int a, QSize text) const;
    QPoint PlaceTextBelow(int a, QSize text) const;
    QPoint PlaceTextTop(QSize text) const;
    QPoint PlaceTextBottom(QSize text) const;
    QPoint PlaceTextLeft(QSize text) const;
    QPoint PlaceTextRight(QSize text) const;
    QPoint PlaceTextCenter(QSize text) const;

    bool IsHorizontal() const;
    int Extent() const;
    int Coordinate(int distance) const;
    Edges BarEdges(int barLength) const;

    TColor backColor_ = clBtnFace;
    TColor frameColor_ = cl3DDkShadow;
    TColor foreColor_ = clBlue;
    double position_ = 0;
    TOrientation orientation_ = cpbLeftToRight;
    double max_ = 100;
    double min_ = 0;
    bool ctl3D_ = false;
    bool showLevel_ = true;
    bool showLevelText_ = true;
    bool showPosition_ = true;
    TColor levelColor_ = clRed;
    int levelMargin_ = 0;
    int precision_ = 3;
    bool corner_ = false;
    TColor refColor_ = clRed;
    bool showReference_ = false;
    double reference_ = 0;
    int peakHoldSampling_ = 0;
    bool showRange_ = false;
    double upperLimit_ = 0;
    double lowerLimit_ = 0;
    TColor rangeColor_ = clBlack;
    TColor sigColor_ = clBlue;
    double currentPeakValue_ = 0;
    TColor ruleColor_ = clBlack;
    double ruleStep_ = 0;
    TColor startColor_ = clGreen;
    TColor endColor_ = clRed;
    bool enableGradation_ = false;
    TTextPosition textPosition_ = tpAuto;

    double MaxLevel = 0;
    double MinLevel = 0;
    double AverageLevel = 0;
    double LevelTotal = 0;
    std::uint32_t SampleCount = 0;  // only ever divided by, as an unsigned count
    int HoldCount = 0;
    int CornerRadius = 5;  // also before Corner is first assigned
    double LowerRatio = 0;
    double UpperRatio = 0;
    TColor RangeEdgeColor = clBlack;
};
