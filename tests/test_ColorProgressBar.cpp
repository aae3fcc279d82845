// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/ColorProgressBar.h"

#include "toolkit/Canvas.h"
#include "support/Scaled.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLocale>
#include <QMetaProperty>
#include <QPalette>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Colours nothing else in a test uses, so that a pixel tells what painted it.
constexpr TColor kInk = RGB(255, 0, 255);  // the font colour
constexpr TColor kUnpainted = RGB(1, 2, 3);
constexpr TColor kBack = RGB(240, 230, 140);
constexpr TColor kFore = RGB(20, 40, 200);
constexpr TColor kSig = RGB(0, 160, 90);
constexpr TColor kMark = RGB(210, 120, 10);

using Pixels = std::set<std::pair<int, int>>;

QImage Render(const TColorProgressBar& gauge)
{
    QImage image(gauge.size(), QImage::Format_RGB32);
    image.fill(ToQColor(kUnpainted));
    gauge.PaintTo(image);
    return image;
}

TColor At(const QImage& image, int x, int y)
{
    return FromQColor(image.pixelColor(x, y));
}

Pixels PixelsOf(const QImage& image, TColor color)
{
    const TColor rgb = ColorToRGB(color);
    Pixels found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (At(image, x, y) == rgb)
                found.insert({x, y});
    return found;
}

Pixels Block(int x1, int y1, int x2, int y2)
{
    Pixels block;
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x)
            block.insert({x, y});
    return block;
}

Pixels Union(Pixels a, const Pixels& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

bool Within(const Pixels& pixels, const QRect& box)
{
    for (const auto& [x, y] : pixels)
        if (!box.contains(x, y))
            return false;
    return true;
}

// The text's size as the gauge measures it when painting on an image of its size.
QSize TextSize(const TColorProgressBar& gauge, const QString& text)
{
    QImage image(gauge.size(), QImage::Format_RGB32);
    Canvas canvas(image);
    canvas.font = gauge.font();
    return {canvas.textWidth(text), canvas.textHeight()};
}

void UseInk(TColorProgressBar& gauge)
{
    QPalette palette = gauge.palette();
    palette.setColor(QPalette::WindowText, ToQColor(kInk));
    gauge.setPalette(palette);
}

// One of the main window's gauges, its stored properties applied in declaration order.
std::unique_ptr<TColorProgressBar> MainWindowGauge(TOrientation orientation)
{
    auto gauge = std::make_unique<TColorProgressBar>();
    const bool horizontal = orientation == cpbLeftToRight;
    gauge->resize(horizontal ? QSize(185, 22) : QSize(22, 185));
    QFont font = gauge->font();
    font.setPointSize(9);
    gauge->setFont(font);
    UseInk(*gauge);
    gauge->SetFrameColor(cl3DDkShadow);
    gauge->SetForeColor(clHighlight);
    gauge->SetPosition(50);
    gauge->SetOrientation(orientation);
    gauge->SetMax(127);
    gauge->SetCtl3D(true);
    gauge->SetShowLevel(false);
    gauge->SetShowLevelText(false);
    gauge->SetLevelColor(clRed);
    gauge->SetLevelMargin(0);
    gauge->SetCorner(false);
    gauge->SetRefColor(clRed);
    gauge->SetShowReference(false);
    gauge->SetRangeColor(clBlack);
    gauge->SetSigColor(clTeal);
    gauge->SetRuleColor(clBlack);
    gauge->SetEnableGradation(false);
    return gauge;
}

// A plain gauge for painting tests: flat background, square corners, no texts or levels.
std::unique_ptr<TColorProgressBar> PlainGauge(TOrientation orientation, int w, int h)
{
    auto gauge = std::make_unique<TColorProgressBar>();
    gauge->resize(w, h);
    UseInk(*gauge);
    gauge->SetOrientation(orientation);
    gauge->SetCorner(false);
    gauge->SetBackColor(kBack);
    gauge->SetForeColor(kFore);
    gauge->SetSigColor(kSig);
    gauge->SetShowLevel(false);
    gauge->SetShowPosition(false);
    return gauge;
}

}  // namespace

// --- the model ---

TEST(ColorProgressBarModel, StartsWithItsInitialValues)
{
    const TColorProgressBar g;
    EXPECT_EQ(g.size(), QSize(150, 17));
    EXPECT_EQ(g.BackColor(), clBtnFace);
    EXPECT_EQ(g.FrameColor(), cl3DDkShadow);
    EXPECT_EQ(g.ForeColor(), clBlue);
    EXPECT_EQ(g.Position(), 50);
    EXPECT_EQ(g.Orientation(), cpbLeftToRight);
    EXPECT_EQ(g.Max(), 100);
    EXPECT_EQ(g.Min(), 0);
    EXPECT_FALSE(g.Ctl3D());
    EXPECT_TRUE(g.ShowLevel());
    EXPECT_TRUE(g.ShowLevelText());
    EXPECT_TRUE(g.ShowPosition());
    EXPECT_EQ(g.LevelColor(), clRed);
    EXPECT_EQ(g.LevelMargin(), 0);
    EXPECT_EQ(g.Precision(), 3);
    EXPECT_FALSE(g.Corner());
    EXPECT_EQ(g.cornerRadius(), 5);  // rounded although Corner reads False
    EXPECT_EQ(g.RefColor(), clRed);
    EXPECT_FALSE(g.ShowReference());
    EXPECT_EQ(g.Reference(), 0);
    EXPECT_EQ(g.PeakHoldSampling(), 0);
    EXPECT_FALSE(g.ShowRange());
    EXPECT_EQ(g.UpperLimit(), 0);
    EXPECT_EQ(g.LowerLimit(), 0);
    EXPECT_EQ(g.RangeColor(), clBlack);
    EXPECT_EQ(g.rangeEdgeColor(), clBlack);
    EXPECT_EQ(g.SigColor(), clBlue);
    EXPECT_EQ(g.CurrentPeakValue(), 0);
    EXPECT_EQ(g.RuleColor(), clBlack);
    EXPECT_EQ(g.RuleStep(), 0);
    EXPECT_EQ(g.StartColor(), clGreen);
    EXPECT_EQ(g.EndColor(), clRed);
    EXPECT_FALSE(g.EnableGradation());
    EXPECT_EQ(g.TextPosition(), tpAuto);
    // The initial Position is no sample.
    EXPECT_EQ(g.sampleCount(), 0u);
    EXPECT_EQ(g.maxLevel(), 0);
    EXPECT_EQ(g.minLevel(), 100);
    EXPECT_EQ(g.averageLevel(), 0);
}

TEST(ColorProgressBarModel, PublishesItsPropertiesByNameInDeclarationOrder)
{
    const std::vector<QString> expected{
        "BackColor", "FrameColor", "ForeColor", "Position", "Orientation", "Max", "Min",
        "Ctl3D", "ShowLevel", "ShowLevelText", "ShowPosition", "LevelColor", "LevelMargin",
        "Precision", "Corner", "RefColor", "ShowReference", "Reference", "PeakHoldSampling",
        "ShowRange", "UpperLimit", "LowerLimit", "RangeColor", "SigColor", "CurrentPeakValue",
        "RuleColor", "RuleStep", "StartColor", "EndColor", "EnableGradation", "TextPosition"};
    const QMetaObject& meta = TColorProgressBar::staticMetaObject;
    std::vector<QString> names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
        names.push_back(meta.property(i).name());
    EXPECT_EQ(names, expected);

    TColorProgressBar g;
    EXPECT_TRUE(g.setProperty("ForeColor", QVariant::fromValue<TColor>(clHighlight)));
    EXPECT_TRUE(g.setProperty("Orientation", QVariant::fromValue(cpbBottomToTop)));
    EXPECT_TRUE(g.setProperty("TextPosition", 5));  // an ordinal, re-mapped as any value
    EXPECT_TRUE(g.setProperty("Max", 127.0));
    EXPECT_TRUE(g.setProperty("Position", 200.0));
    EXPECT_FALSE(g.setProperty("CurrentPeakValue", 1.0));
    EXPECT_EQ(g.ForeColor(), clHighlight);
    EXPECT_EQ(g.Orientation(), cpbBottomToTop);
    EXPECT_EQ(g.TextPosition(), tpBottom);
    EXPECT_EQ(g.property("Position").toDouble(), 127);
}

TEST(ColorProgressBarModel, DeclaresTheDefaultsAStoredFormLeavesOut)
{
    const QMetaObject& meta = TColorProgressBar::staticMetaObject;
    int withDefault = 0;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        if (const auto value = TColorProgressBar::DeclaredDefault(property.name())) {
            ++withDefault;
            EXPECT_EQ(value->metaType(), property.metaType()) << property.name();
        }
    }
    EXPECT_EQ(withDefault, 16);
    // Those that differ from the initial value are stored even for a new gauge.
    EXPECT_EQ(TColorProgressBar::DeclaredDefault("FrameColor"), QVariant::fromValue<TColor>(clBtnShadow));
    EXPECT_EQ(TColorProgressBar::DeclaredDefault("LevelMargin"), QVariant(2));
    EXPECT_EQ(TColorProgressBar::DeclaredDefault("RangeColor"), QVariant::fromValue<TColor>(clGray));
    EXPECT_EQ(TColorProgressBar::DeclaredDefault("RuleColor"), QVariant::fromValue<TColor>(clGray));
    EXPECT_EQ(TColorProgressBar::DeclaredDefault("TextPosition"), QVariant::fromValue(tpAuto));
    for (const char* none : {"Position", "Orientation", "Max", "Corner", "SigColor", "CurrentPeakValue"})
        EXPECT_FALSE(TColorProgressBar::DeclaredDefault(none)) << none;
}

TEST(ColorProgressBarModel, FormLoadRecordsTheStoredPositionAsTheFirstSample)
{
    const auto g = MainWindowGauge(cpbBottomToTop);
    EXPECT_EQ(g->Position(), 50);
    EXPECT_EQ(g->Max(), 127);
    EXPECT_EQ(g->sampleCount(), 1u);
    EXPECT_EQ(g->maxLevel(), 50);
    EXPECT_EQ(g->minLevel(), 50);
    EXPECT_EQ(g->averageLevel(), 50);
    EXPECT_EQ(g->cornerRadius(), 0);
}

TEST(ColorProgressBarModel, PositionIsClampedAndTheClampedValueIsTheSample)
{
    TColorProgressBar g;
    g.SetMax(127);
    g.SetPosition(200);
    EXPECT_EQ(g.Position(), 127);
    g.SetPosition(-5);
    EXPECT_EQ(g.Position(), 0);
    g.SetPosition(std::nan(""));
    EXPECT_EQ(g.Position(), 0);
    EXPECT_EQ(g.sampleCount(), 3u);
    EXPECT_EQ(g.maxLevel(), 127);
    EXPECT_EQ(g.minLevel(), 0);
    EXPECT_DOUBLE_EQ(g.averageLevel(), 127.0 / 3);

    // Lowering Max leaves Position above it until the next assignment.
    g.SetPosition(100);
    g.SetMax(60);
    EXPECT_EQ(g.Position(), 100);
    g.SetPosition(100);
    EXPECT_EQ(g.Position(), 60);
}

TEST(ColorProgressBarModel, MaxMinAndReferenceKeepTheirOrder)
{
    TColorProgressBar g;
    g.SetMin(20);
    g.SetMax(10);
    EXPECT_EQ(g.Max(), 20);
    g.SetMax(40);
    g.SetMin(50);
    EXPECT_EQ(g.Min(), 40);
    g.SetMin(0);
    g.SetMax(127);
    g.SetReference(500);
    EXPECT_EQ(g.Reference(), 127);
    g.SetMin(10);
    g.SetReference(-1);
    EXPECT_EQ(g.Reference(), 10);
    g.SetReference(64.5);
    EXPECT_EQ(g.Reference(), 64.5);
    // Nothing already held is re-clamped.
    g.SetMax(30);
    EXPECT_EQ(g.Reference(), 64.5);
    g.SetRuleStep(-1);
    EXPECT_EQ(g.RuleStep(), 0);
    g.SetRuleStep(2.5);
    EXPECT_EQ(g.RuleStep(), 2.5);
}

TEST(ColorProgressBarModel, PeakHoldDropsToTheCurrentValueAfterTheHold)
{
    TColorProgressBar g;
    g.SetPeakHoldSampling(2);
    g.Clear();
    const std::vector<double> positions{10, 50, 20, 20, 20, 30};
    const std::vector<double> peaks{10, 50, 50, 50, 20, 30};
    const std::vector<int> holds{0, 0, 1, 2, 0, 0};
    for (std::size_t i = 0; i < positions.size(); ++i) {
        g.SetPosition(positions[i]);
        EXPECT_EQ(g.maxLevel(), peaks[i]) << i;
        EXPECT_EQ(g.CurrentPeakValue(), peaks[i]) << i;
        EXPECT_EQ(g.holdCount(), holds[i]) << i;
        EXPECT_EQ(g.minLevel(), 10) << i;
    }
    EXPECT_EQ(g.averageLevel(), 25);

    // Switching it off zeroes the hold but keeps the running maximum.
    g.SetPeakHoldSampling(-3);
    EXPECT_EQ(g.PeakHoldSampling(), 0);
    EXPECT_EQ(g.CurrentPeakValue(), 0);
    EXPECT_EQ(g.holdCount(), 0);
    EXPECT_EQ(g.maxLevel(), 30);
    g.SetPosition(5);
    g.SetPosition(5);
    EXPECT_EQ(g.maxLevel(), 30);
    EXPECT_EQ(g.CurrentPeakValue(), 0);
}

TEST(ColorProgressBarModel, ClearRestartsTheStatisticsButNotThePeakHold)
{
    TColorProgressBar g;
    g.SetPeakHoldSampling(5);
    g.SetPosition(80);
    g.SetPosition(80);
    g.SetMax(90);
    g.Clear();
    EXPECT_EQ(g.sampleCount(), 0u);
    EXPECT_EQ(g.maxLevel(), 0);
    EXPECT_EQ(g.minLevel(), 90);
    EXPECT_EQ(g.averageLevel(), 0);
    EXPECT_EQ(g.CurrentPeakValue(), 80);
    EXPECT_EQ(g.holdCount(), 1);
    g.SetPosition(40);
    EXPECT_EQ(g.averageLevel(), 40);
}

TEST(ColorProgressBarModel, LimitsClampAgainstEachOtherAndFixTheirRatios)
{
    TColorProgressBar g;
    g.SetLowerLimit(20);
    EXPECT_EQ(g.LowerLimit(), 0);  // above the upper limit, still 0
    g.SetUpperLimit(80);
    g.SetLowerLimit(20);
    EXPECT_EQ(g.LowerLimit(), 20);
    EXPECT_DOUBLE_EQ(g.lowerRatio(), 0.2);
    g.SetUpperLimit(10);
    EXPECT_EQ(g.UpperLimit(), 20);
    EXPECT_DOUBLE_EQ(g.upperRatio(), 0.2);
    g.SetUpperLimit(150);
    EXPECT_EQ(g.UpperLimit(), 100);
    g.SetMin(5);
    g.SetLowerLimit(-1);
    EXPECT_EQ(g.LowerLimit(), 5);
    // The test against the other limit uses the value as given: 150 > 100 clamps to 100,
    // and 150 > UpperLimit then makes it UpperLimit.
    g.SetLowerLimit(150);
    EXPECT_EQ(g.LowerLimit(), 100);

    g.SetLowerLimit(25);
    g.SetMax(200);
    EXPECT_DOUBLE_EQ(g.lowerRatio(), 0.25);
    EXPECT_DOUBLE_EQ(g.upperRatio(), 1.0);

    g.SetMin(0);
    g.SetMax(0);
    g.SetUpperLimit(0);
    g.SetLowerLimit(0);
    EXPECT_EQ(g.upperRatio(), 0);
    EXPECT_EQ(g.lowerRatio(), 0);
}

TEST(ColorProgressBarModel, RangeEdgeColorIsTheRangeColorHalved)
{
    TColorProgressBar g;
    g.SetRangeColor(clWhite);
    EXPECT_EQ(g.rangeEdgeColor(), 0x007F7F7Fu);
    g.SetRangeColor(RGB(201, 100, 3));
    EXPECT_EQ(g.rangeEdgeColor(), RGB(100, 50, 1));
    g.SetRangeColor(clBtnFace);
    const TColor face = ColorToRGB(clBtnFace);
    EXPECT_EQ(g.rangeEdgeColor(),
              RGB(GetRValue(face) / 2, GetGValue(face) / 2, GetBValue(face) / 2));
}

TEST(ColorProgressBarModel, TextPositionIsReMappedByTheOrientationAtAssignment)
{
    TColorProgressBar g;
    g.SetTextPosition(tpTop);
    EXPECT_EQ(g.TextPosition(), tpRight);
    g.SetTextPosition(tpBottom);
    EXPECT_EQ(g.TextPosition(), tpLeft);
    g.SetTextPosition(tpLeft);
    EXPECT_EQ(g.TextPosition(), tpLeft);
    g.SetOrientation(cpbBottomToTop);
    EXPECT_EQ(g.TextPosition(), tpLeft);  // a later orientation does not re-map
    g.SetTextPosition(tpLeft);
    EXPECT_EQ(g.TextPosition(), tpBottom);
    g.SetTextPosition(tpRight);
    EXPECT_EQ(g.TextPosition(), tpTop);
    g.SetTextPosition(tpTop);
    EXPECT_EQ(g.TextPosition(), tpTop);
    for (TOrientation o : {cpbLeftToRight, cpbBottomToTop, cpbRightToLeft, cpbTopToBottom}) {
        g.SetOrientation(o);
        for (TTextPosition t : {tpAuto, tpAbove, tpBelow, tpCenter}) {
            g.SetTextPosition(t);
            EXPECT_EQ(g.TextPosition(), t);
        }
    }
}

// Every change of what the gauge draws asks for a repaint, none paints at once: the setters
// of the picture's properties, ShowRange among them, and Clear under shown levels.
TEST(ColorProgressBarModel, EveryChangeOfThePictureRequestsARepaintAndNeverPaintsItself)
{
    using Change = std::function<void(TColorProgressBar&)>;
    struct Row {
        const char* what;
        Change change;
        Change setup = {};
    };
    const auto gradation = [](TColorProgressBar& g) { g.SetEnableGradation(true); };
    const auto range = [](TColorProgressBar& g) { g.SetShowRange(true); };
    const Row rows[] = {
        {"BackColor", [](auto& g) { g.SetBackColor(kBack); }},
        {"FrameColor", [](auto& g) { g.SetFrameColor(kMark); }},
        {"ForeColor", [](auto& g) { g.SetForeColor(kFore); },
         [](auto& g) { g.SetReference(80); }},
        {"Position", [](auto& g) { g.SetPosition(45); }},
        {"Orientation", [](auto& g) { g.SetOrientation(cpbRightToLeft); }},
        {"Max", [](auto& g) { g.SetMax(200); }},
        {"Ctl3D", [](auto& g) { g.SetCtl3D(true); }},
        {"ShowLevel", [](auto& g) { g.SetShowLevel(false); }},
        {"ShowLevelText", [](auto& g) { g.SetShowLevelText(false); }},
        {"ShowPosition", [](auto& g) { g.SetShowPosition(false); }},
        {"LevelColor", [](auto& g) { g.SetLevelColor(kMark); }},
        {"LevelMargin", [](auto& g) { g.SetLevelMargin(4); }},
        {"Precision", [](auto& g) { g.SetPrecision(5); },
         [](auto& g) { g.SetPosition(100.0 / 3); }},
        {"Corner", [](auto& g) { g.SetCorner(true); }, [](auto& g) { g.SetCorner(false); }},
        {"RefColor", [](auto& g) { g.SetRefColor(kMark); }},
        {"ShowReference", [](auto& g) { g.SetShowReference(false); }},
        {"Reference", [](auto& g) { g.SetReference(50); }},
        {"ShowRange", range},
        {"UpperLimit", [](auto& g) { g.SetUpperLimit(70); }, range},
        {"LowerLimit", [](auto& g) { g.SetLowerLimit(40); }, range},
        {"RangeColor", [](auto& g) { g.SetRangeColor(kSig); }, range},
        {"SigColor", [](auto& g) { g.SetSigColor(kSig); }},
        {"RuleColor", [](auto& g) { g.SetRuleColor(kMark); }},
        {"RuleStep", [](auto& g) { g.SetRuleStep(10); }},
        {"StartColor", [](auto& g) { g.SetStartColor(kBack); }, gradation},
        {"EndColor", [](auto& g) { g.SetEndColor(kFore); }, gradation},
        {"EnableGradation", gradation},
        {"TextPosition", [](auto& g) { g.SetTextPosition(tpCenter); }},
        {"Clear", [](auto& g) { g.Clear(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TColorProgressBar g;
        g.resize(150, 40);
        UseInk(g);
        g.SetPosition(20);
        g.SetPosition(60);  // levels at 60, 20 and 40
        g.SetUpperLimit(90);
        g.SetLowerLimit(10);
        g.SetRuleStep(25);
        g.SetReference(30);
        g.SetShowReference(true);
        if (row.setup)
            row.setup(g);
        int paints = 0;
        struct Counter : QObject {
            int& n;
            explicit Counter(int& count) : n(count) {}
            bool eventFilter(QObject*, QEvent* e) override
            {
                n += e->type() == QEvent::Paint;
                return false;
            }
        } counter(paints);
        g.installEventFilter(&counter);
        g.show();
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        const QImage before = Render(g);
        paints = 0;
        row.change(g);
        EXPECT_EQ(paints, 0) << "painted at once";
        ASSERT_NE(Render(g), before) << "the row changes nothing that is drawn";
        QCoreApplication::sendPostedEvents();
        EXPECT_GT(paints, 0) << "no repaint requested";
    }
}

// --- number text ---

TEST(FormatGaugeValue, GeneralFormatWithPrecisionSignificantDigits)
{
    for (int v = 0; v <= 127; ++v)
        EXPECT_EQ(FormatGaugeValue(v, 3), QString::number(v));
    EXPECT_EQ(FormatGaugeValue(-0.0, 3), "0");
    EXPECT_EQ(FormatGaugeValue(63.5, 3), "63.5");
    EXPECT_EQ(FormatGaugeValue(1234, 3), "1.23E3");
    EXPECT_EQ(FormatGaugeValue(1000, 3), "1E3");
    EXPECT_EQ(FormatGaugeValue(999.5, 3), "1E3");  // rounding carries into the exponent
    EXPECT_EQ(FormatGaugeValue(0.0001, 3), "0.0001");
    EXPECT_EQ(FormatGaugeValue(0.00012345, 3), "0.000123");
    EXPECT_EQ(FormatGaugeValue(0.00001, 3), "1E-5");
    EXPECT_EQ(FormatGaugeValue(1.5e20, 3), "1.5E20");
    EXPECT_EQ(FormatGaugeValue(12.5, 4), "12.5");
    EXPECT_EQ(FormatGaugeValue(123456789, 18), "123456789");
}

TEST(FormatGaugeValue, RoundsTheExactValueHalvesAwayFromZero)
{
    EXPECT_EQ(FormatGaugeValue(62.5, 2), "63");
    EXPECT_EQ(FormatGaugeValue(-62.5, 2), "-63");
    EXPECT_EQ(FormatGaugeValue(9.995, 3), "9.99");  // the double lies just below 9.995
    EXPECT_EQ(FormatGaugeValue(0.125, 2), "0.13");
}

TEST(FormatGaugeValue, NegativeValues)
{
    EXPECT_EQ(FormatGaugeValue(-63.5, 3), "-63.5");
    EXPECT_EQ(FormatGaugeValue(-1234, 3), "-1.23E3");
    EXPECT_EQ(FormatGaugeValue(-0.00001, 3), "-1E-5");
    EXPECT_EQ(FormatGaugeValue(-0.5, 3), "-0.5");
}

TEST(FormatGaugeValue, PrecisionIsTakenBetween2And18)
{
    for (int p : {1, 0, -7, INT_MIN})
        EXPECT_EQ(FormatGaugeValue(127, p), "1.3E2") << p;
    EXPECT_EQ(FormatGaugeValue(1.0 / 3, 25), "0.333333333333333315");
    EXPECT_EQ(FormatGaugeValue(1.0 / 3, INT_MAX), "0.333333333333333315");
    EXPECT_EQ(FormatGaugeValue(1e18, 19), "1E18");
}

TEST(FormatGaugeValue, UsesTheLocalesDecimalSeparator)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatGaugeValue(63.5, 3), "63,5");
    EXPECT_EQ(FormatGaugeValue(1234, 3), "1,23E3");
    QLocale::setDefault(previous);
    EXPECT_EQ(FormatGaugeValue(63.5, 3), "63.5");
}

TEST(FormatGaugeValue, NonFiniteValuesHaveAText)
{
    EXPECT_EQ(FormatGaugeValue(std::nan(""), 3), "NAN");
    EXPECT_EQ(FormatGaugeValue(std::numeric_limits<double>::infinity(), 3), "INF");
    EXPECT_EQ(FormatGaugeValue(-std::numeric_limits<double>::infinity(), 3), "-INF");
}

// --- scale and text placement ---

TEST(ColorProgressBarScale, MainWindowScalePositions)
{
    const auto g = MainWindowGauge(cpbLeftToRight);
    const std::vector<std::pair<double, int>> cases{
        {0, 0}, {1, 1}, {2, 3}, {3, 4}, {50, 73}, {100, 146}, {126, 184}, {127, 185}};
    for (const auto& [value, position] : cases)
        EXPECT_EQ(g->ScalePosition(value), position) << value;
    const auto v = MainWindowGauge(cpbBottomToTop);
    EXPECT_EQ(v->ScalePosition(64), 93);
}

TEST(ColorProgressBarScale, HalvesRoundToEven)
{
    const auto g = PlainGauge(cpbLeftToRight, 10, 10);
    g->SetMax(4);
    EXPECT_EQ(g->ScalePosition(1), 2);  // 2.5
    EXPECT_EQ(g->ScalePosition(3), 8);  // 7.5
    EXPECT_EQ(g->ScalePosition(-1), -2);
}

TEST(ColorProgressBarPlacement, MainWindowValueTexts)
{
    const QSize text(14, 12);
    const auto pa1 = MainWindowGauge(cpbBottomToTop);
    EXPECT_EQ(pa1->PlaceValueText(92, text), QPoint(4, 76));  // fits above the bar's end
    EXPECT_EQ(pa1->PlaceValueText(12, text), QPoint(4, -4));
    EXPECT_EQ(pa1->PlaceValueText(0, text), QPoint(4, 8));    // on the bar
    EXPECT_EQ(pa1->PlaceValueText(0, QSize(25, 12)).x(), -1); // div 2 truncates towards 0

    const auto pa2 = MainWindowGauge(cpbLeftToRight);
    EXPECT_EQ(pa2->PlaceValueText(93, text), QPoint(97, 5));
    EXPECT_EQ(pa2->PlaceValueText(167, text), QPoint(171, 5));  // 167+14+4 = 185 still fits
    EXPECT_EQ(pa2->PlaceValueText(168, text), QPoint(150, 5));
}

TEST(ColorProgressBarPlacement, EveryPlaceInBothDirections)
{
    const QSize text(20, 10);
    const int a = 50;
    const auto place = [&](TOrientation setFor, TOrientation paintFor, TTextPosition t) {
        auto g = PlainGauge(setFor, 1, 1);
        g->SetLevelMargin(2);
        g->SetTextPosition(t);
        g->SetOrientation(paintFor);
        g->resize(paintFor == cpbLeftToRight || paintFor == cpbRightToLeft ? QSize(100, 30)
                                                                            : QSize(30, 100));
        return g->PlaceValueText(a, text);
    };
    const TOrientation h = cpbLeftToRight;
    const TOrientation v = cpbBottomToTop;
    EXPECT_EQ(place(h, h, tpAbove), QPoint(56, 10));
    EXPECT_EQ(place(h, h, tpBelow), QPoint(24, 10));
    EXPECT_EQ(place(h, h, tpLeft), QPoint(6, 10));
    EXPECT_EQ(place(h, h, tpRight), QPoint(74, 10));
    EXPECT_EQ(place(h, h, tpCenter), QPoint(40, 10));  // no margins
    EXPECT_EQ(place(v, h, tpTop), QPoint(0, 0));       // no such place across
    EXPECT_EQ(place(v, h, tpBottom), QPoint(0, 0));
    EXPECT_EQ(place(v, v, tpAbove), QPoint(5, 34));
    EXPECT_EQ(place(v, v, tpBelow), QPoint(5, 58));
    EXPECT_EQ(place(v, v, tpTop), QPoint(5, 6));
    EXPECT_EQ(place(v, v, tpBottom), QPoint(5, 84));
    EXPECT_EQ(place(v, v, tpCenter), QPoint(5, 45));
    EXPECT_EQ(place(h, v, tpLeft), QPoint(0, 0));
    EXPECT_EQ(place(h, v, tpRight), QPoint(0, 0));
}

TEST(ColorProgressBarPlacement, AutoChoosesTheEmptySideWhenTheTextFits)
{
    const QSize text(20, 10);
    const auto autoPlace = [&](TOrientation o, int a) {
        auto g = PlainGauge(o, 1, 1);
        g->SetLevelMargin(2);
        g->resize(o == cpbLeftToRight || o == cpbRightToLeft ? QSize(100, 30) : QSize(30, 100));
        return g->PlaceValueText(a, text);
    };
    // Left to right: the margin counts in the test.
    EXPECT_EQ(autoPlace(cpbLeftToRight, 74), QPoint(80, 10));  // 74+20+2+4 = 100
    EXPECT_EQ(autoPlace(cpbLeftToRight, 75), QPoint(49, 10));
    EXPECT_EQ(autoPlace(cpbBottomToTop, 12), QPoint(5, -4));   // 12-10-2 = 0
    EXPECT_EQ(autoPlace(cpbBottomToTop, 11), QPoint(5, 19));
    EXPECT_EQ(autoPlace(cpbRightToLeft, 22), QPoint(-4, 10));  // 22-20-2 = 0: left of the end
    EXPECT_EQ(autoPlace(cpbRightToLeft, 21), QPoint(27, 10));  // on the bar
    EXPECT_EQ(autoPlace(cpbTopToBottom, 88), QPoint(5, 96));   // 88+10+2 = 100: below
    EXPECT_EQ(autoPlace(cpbTopToBottom, 89), QPoint(5, 73));   // on the bar
}

// --- painting ---

TEST(ColorProgressBarPaint, MainWindowVerticalGaugeAt64)
{
    const auto g = MainWindowGauge(cpbBottomToTop);
    g->SetPosition(64);
    const QImage image = Render(*g);
    EXPECT_EQ(PixelsOf(image, clTeal), Block(4, 92, 17, 180));

    const QSize text = TextSize(*g, "64");
    const Pixels ink = PixelsOf(image, kInk);
    ASSERT_FALSE(ink.empty());
    ASSERT_GE(92 - text.height(), 0);  // fits above the bar's end
    EXPECT_TRUE(Within(ink, QRect((22 - text.width()) / 2, 92 - text.height() - 4,
                                  text.width(), text.height())));

    // 3-D background: border, rim, white field; square corners; the frame last.
    EXPECT_EQ(At(image, 1, 40), ColorToRGB(clActiveBorder));
    EXPECT_EQ(At(image, 2, 40), ColorToRGB(clBtnFace));
    EXPECT_EQ(At(image, 3, 40), clWhite);
    EXPECT_EQ(At(image, 20, 40), clWhite);
    for (const auto& [x, y] : {std::pair{0, 0}, {21, 0}, {0, 184}, {21, 184}, {0, 90}, {21, 90}, {10, 0}, {10, 184}})
        EXPECT_EQ(At(image, x, y), ColorToRGB(cl3DDkShadow)) << x << "," << y;
}

TEST(ColorProgressBarPaint, MainWindowVerticalGaugeAtFullScaleWritesOnTheBar)
{
    const auto g = MainWindowGauge(cpbBottomToTop);
    g->SetPosition(127);
    const QImage image = Render(*g);
    const QSize text = TextSize(*g, "127");
    const QRect box((22 - text.width()) / 2, text.height() - 4, text.width(), text.height());
    const Pixels ink = PixelsOf(image, kInk);
    ASSERT_FALSE(ink.empty());
    EXPECT_TRUE(Within(ink, box));

    // The bar reaches the top edge, under the frame; only the text covers some of it.
    const Pixels bar = Block(4, 1, 17, 180);
    const Pixels teal = PixelsOf(image, clTeal);
    EXPECT_TRUE(std::includes(bar.begin(), bar.end(), teal.begin(), teal.end()));
    for (const auto& [x, y] : bar)
        EXPECT_TRUE(teal.count({x, y}) || box.contains(x, y)) << x << "," << y;
}

TEST(ColorProgressBarPaint, MainWindowHorizontalGaugeAt64)
{
    const auto g = MainWindowGauge(cpbLeftToRight);
    g->SetPosition(64);
    const QImage image = Render(*g);
    EXPECT_EQ(PixelsOf(image, clTeal), Block(4, 4, 92, 17));
    const QSize text = TextSize(*g, "64");
    const Pixels ink = PixelsOf(image, kInk);
    ASSERT_FALSE(ink.empty());
    EXPECT_TRUE(Within(ink, QRect(97, (22 - text.height()) / 2, text.width(), text.height())));
}

TEST(ColorProgressBarPaint, BarInEachOrientation)
{
    const std::vector<std::pair<TOrientation, Pixels>> cases{
        {cpbLeftToRight, Block(4, 4, 39, 25)},
        {cpbRightToLeft, Block(60, 4, 95, 25)},
        {cpbBottomToTop, Block(4, 60, 25, 95)},
        {cpbTopToBottom, Block(4, 4, 25, 39)}};
    for (const auto& [orientation, bar] : cases) {
        const bool horizontal = orientation == cpbLeftToRight || orientation == cpbRightToLeft;
        const auto g = PlainGauge(orientation, horizontal ? 100 : 30, horizontal ? 30 : 100);
        g->SetPosition(40);
        EXPECT_EQ(PixelsOf(Render(*g), kSig), bar) << int(orientation);
    }
}

TEST(ColorProgressBarPaint, SignalColourOnlyAboveTheReference)
{
    const auto g = PlainGauge(cpbLeftToRight, 150, 20);
    g->SetReference(50);
    const auto barColour = [&](double position) {
        g->SetPosition(position);
        return At(Render(*g), 10, 10);
    };
    EXPECT_EQ(barColour(50), kFore);
    EXPECT_EQ(barColour(49), kFore);
    EXPECT_EQ(barColour(50.5), kSig);
}

TEST(ColorProgressBarPaint, FlatBackgroundAndRoundedCorners)
{
    const auto g = PlainGauge(cpbLeftToRight, 150, 20);
    g->SetPosition(0);
    g->SetFrameColor(kMark);
    QImage image = Render(*g);
    EXPECT_EQ(At(image, 1, 10), kBack);
    EXPECT_EQ(At(image, 148, 10), kBack);
    EXPECT_EQ(At(image, 0, 0), kMark);

    // A new gauge's corners are rounded although Corner reads False.
    TColorProgressBar fresh;
    fresh.SetFrameColor(kMark);
    image = Render(fresh);
    EXPECT_NE(At(image, 0, 0), kMark);
    EXPECT_EQ(At(image, 0, 8), kMark);
    EXPECT_EQ(At(image, 75, 0), kMark);
    EXPECT_EQ(At(image, 149, 8), kMark);
}

TEST(ColorProgressBarPaint, RuleMarksUpToTheFirstAtOrPastTheFarEdge)
{
    const auto marks = [](TOrientation o, double step) {
        const bool horizontal = o == cpbLeftToRight;
        const auto g = PlainGauge(o, horizontal ? 150 : 20, horizontal ? 20 : 150);
        g->SetRuleColor(kMark);
        g->SetRuleStep(step);
        const QImage image = Render(*g);
        std::set<int> at;
        for (const auto& [x, y] : PixelsOf(image, kMark))
            at.insert(horizontal ? x : y);
        return std::pair{at, PixelsOf(image, kMark).size()};
    };
    const auto [across, count] = marks(cpbLeftToRight, 25);
    EXPECT_EQ(across, (std::set<int>{37, 74, 111, 148}));
    EXPECT_EQ(count, 4u * 18);  // whole height but the frame's rows, over bar and background
    EXPECT_EQ(marks(cpbBottomToTop, 25).first, (std::set<int>{2, 39, 76, 113}));
    EXPECT_TRUE(marks(cpbLeftToRight, 0.5).first.empty());  // step truncates to 0
    EXPECT_TRUE(marks(cpbLeftToRight, 0).first.empty());
}

TEST(ColorProgressBarPaint, NegativeMaxDrawsNoMarks)
{
    const auto g = PlainGauge(cpbLeftToRight, 150, 20);
    g->SetMin(-200);
    g->SetMax(-100);
    g->SetRuleColor(kMark);
    g->SetRuleStep(25);
    EXPECT_TRUE(PixelsOf(Render(*g), kMark).empty());
}

TEST(ColorProgressBarPaint, GradationFollowsTheScaleLineByLine)
{
    const auto g = PlainGauge(cpbLeftToRight, 150, 20);
    g->SetEnableGradation(true);
    g->SetPosition(100);
    QImage image = Render(*g);
    const auto line = [](int i) {
        return RGB(static_cast<int>(std::ceil(i * 255.0 / 150)),
                   128 + static_cast<int>(std::ceil(-i * 128.0 / 150)), 0);
    };
    EXPECT_EQ(line(0), clGreen);
    EXPECT_EQ(line(1), RGB(2, 128, 0));
    EXPECT_EQ(line(75), RGB(128, 64, 0));
    EXPECT_EQ(line(144), RGB(245, 6, 0));
    for (int i = 0; i <= 144; ++i)
        for (int y : {4, 10, 15})
            ASSERT_EQ(At(image, 4 + i, y), line(i)) << i << "," << y;
    EXPECT_EQ(At(image, 10, 16), kBack);  // the lines leave out their end point

    // A shorter bar shows the same colours, and its lines cover the right column.
    g->SetPosition(50);
    image = Render(*g);
    EXPECT_EQ(At(image, 75, 10), line(71));
    EXPECT_EQ(At(image, 76, 10), kBack);

    // Colours are taken as stored: a system colour's index is its red.
    g->SetStartColor(clBtnFace);
    EXPECT_EQ(At(Render(*g), 4, 10), RGB(15, 0, 0));
}

TEST(ColorProgressBarPaint, VerticalGradationStartsAtTheBottomRow)
{
    const auto g = PlainGauge(cpbBottomToTop, 20, 150);
    g->SetEnableGradation(true);
    g->SetPosition(100);
    const QImage image = Render(*g);
    EXPECT_EQ(At(image, 4, 146), clGreen);
    EXPECT_EQ(At(image, 15, 146), clGreen);
    EXPECT_EQ(At(image, 16, 146), kBack);
    EXPECT_EQ(At(image, 10, 71), RGB(128, 64, 0));
    EXPECT_EQ(At(image, 10, 147), kBack);
}

TEST(ColorProgressBarPaint, RangeBandLiesUnderTheBarWithDarkerEdges)
{
    const TColor range = RGB(200, 100, 60);
    const TColor edge = RGB(100, 50, 30);
    const auto g = PlainGauge(cpbLeftToRight, 150, 20);
    g->SetUpperLimit(70);
    g->SetLowerLimit(20);
    g->SetRangeColor(range);
    g->SetPosition(0);
    EXPECT_TRUE(PixelsOf(Render(*g), range).empty());  // not shown yet
    g->SetShowRange(true);
    QImage image = Render(*g);
    EXPECT_EQ(PixelsOf(image, edge), Union(Block(30, 1, 30, 18), Block(105, 1, 105, 18)));
    EXPECT_EQ(PixelsOf(image, range), Block(31, 1, 104, 18));

    // The ratios were fixed with Max 100; the bar goes over the band.
    g->SetMax(200);
    g->SetPosition(100);  // 75 pixels
    image = Render(*g);
    EXPECT_EQ(At(image, 30, 10), kSig);
    EXPECT_EQ(At(image, 74, 10), kSig);
    EXPECT_EQ(At(image, 75, 10), range);
    EXPECT_EQ(At(image, 105, 10), edge);
    EXPECT_EQ(At(image, 106, 10), kBack);
}

TEST(ColorProgressBarPaint, RangeBandInTheOtherOrientations)
{
    const TColor range = RGB(200, 100, 60);
    const TColor edge = RGB(100, 50, 30);
    const auto band = [&](TOrientation o) {
        const bool horizontal = o == cpbRightToLeft;
        const auto g = PlainGauge(o, horizontal ? 150 : 20, horizontal ? 20 : 150);
        g->SetUpperLimit(70);
        g->SetLowerLimit(20);
        g->SetRangeColor(range);
        g->SetShowRange(true);
        g->SetPosition(0);
        const QImage image = Render(*g);
        return std::pair{PixelsOf(image, range), PixelsOf(image, edge)};
    };
    auto [fill, edges] = band(cpbRightToLeft);
    EXPECT_EQ(fill, Block(46, 1, 119, 18));
    EXPECT_EQ(edges, Union(Block(45, 1, 45, 18), Block(120, 1, 120, 18)));
    std::tie(fill, edges) = band(cpbBottomToTop);
    EXPECT_EQ(fill, Block(1, 46, 18, 119));
    std::tie(fill, edges) = band(cpbTopToBottom);
    EXPECT_EQ(fill, Block(1, 31, 18, 104));
    EXPECT_EQ(edges, Union(Block(1, 30, 18, 30), Block(1, 105, 18, 105)));
}

TEST(ColorProgressBarPaint, ReferenceLineAndText)
{
    const auto reference = [](TOrientation o) {
        const bool horizontal = o == cpbLeftToRight;
        const auto g = PlainGauge(o, horizontal ? 150 : 22, horizontal ? 22 : 150);
        QFont font = g->font();
        font.setPixelSize(12);  // FH -12
        g->setFont(font);
        g->SetPosition(0);
        g->SetLevelMargin(3);
        g->SetRefColor(kMark);
        g->SetReference(60);  // 90 pixels along
        g->SetShowReference(true);
        const QImage image = Render(*g);
        return std::tuple{PixelsOf(image, kMark), PixelsOf(image, kInk), TextSize(*g, "60")};
    };

    auto [line, ink, text] = reference(cpbLeftToRight);
    ASSERT_FALSE(ink.empty());
    EXPECT_TRUE(Within(ink, QRect(93, 22 - 12 - 3, text.width(), text.height())));
    Pixels expected = Block(90, 1, 90, 20);
    for (const auto& p : ink)
        expected.erase(p);
    EXPECT_EQ(line, expected);

    std::tie(line, ink, text) = reference(cpbBottomToTop);
    ASSERT_FALSE(ink.empty());
    // Left edge estimated at half a character height per digit of Precision.
    EXPECT_TRUE(Within(ink, QRect(22 - 6 * 3, 60 - 12 - 3, text.width(), text.height())));
    expected = Block(1, 60, 20, 60);
    for (const auto& p : ink)
        expected.erase(p);
    EXPECT_EQ(line, expected);
}

TEST(ColorProgressBarPaint, LevelLinesAndTextsForMaximumMinimumAndAverage)
{
    const auto levels = [](TOrientation o) {
        const bool horizontal = o == cpbLeftToRight;
        const auto g = PlainGauge(o, horizontal ? 150 : 22, horizontal ? 22 : 150);
        QFont font = g->font();
        font.setPixelSize(12);
        g->setFont(font);
        g->SetLevelColor(kMark);
        g->SetLevelMargin(2);
        g->SetShowLevel(true);
        g->SetShowLevelText(true);
        for (double v : {20.0, 80.0, 50.0})
            g->SetPosition(v);
        const QImage image = Render(*g);
        std::vector<QRect> boxes;
        for (const auto& [value, along] : {std::pair{"80", 120}, {"20", 30}, {"50", 75}}) {
            const QSize text = TextSize(*g, value);
            boxes.push_back(horizontal ? QRect(along + 2, 2, text.width(), text.height())
                                       : QRect(2, 150 - along - 12 - 2, text.width(), text.height()));
        }
        return std::tuple{image, PixelsOf(image, kInk), boxes};
    };

    for (TOrientation o : {cpbLeftToRight, cpbBottomToTop}) {
        const auto [image, ink, boxes] = levels(o);
        for (const auto& [x, y] : ink)
            EXPECT_TRUE(boxes[0].contains(x, y) || boxes[1].contains(x, y) || boxes[2].contains(x, y))
                << int(o) << ": " << x << "," << y;
        for (const QRect& box : boxes)
            EXPECT_TRUE(std::any_of(ink.begin(), ink.end(), [&](auto p) { return box.contains(p.first, p.second); }))
                << int(o);
        std::set<int> lines;
        for (const auto& [x, y] : PixelsOf(image, kMark))
            if (o == cpbLeftToRight ? y == 20 : x == 20)
                lines.insert(o == cpbLeftToRight ? x : y);
        EXPECT_EQ(lines, (std::set<int>{30, 75, 120})) << int(o);
    }
}

TEST(ColorProgressBarPaint, LevelMarginMovesTextsOnly)
{
    const auto render = [](int margin, TTextPosition place) {
        const auto g = PlainGauge(cpbLeftToRight, 150, 22);
        g->SetShowPosition(true);
        g->SetShowLevel(true);
        g->SetShowLevelText(false);
        g->SetLevelColor(kMark);
        g->SetLevelMargin(margin);
        g->SetTextPosition(place);
        g->SetPosition(50);
        return Render(*g);
    };
    const QImage plain = render(0, tpAuto);
    const QImage moved = render(5, tpAuto);
    EXPECT_EQ(PixelsOf(plain, kSig), PixelsOf(moved, kSig));
    EXPECT_EQ(PixelsOf(plain, kMark), PixelsOf(moved, kMark));
    Pixels shifted;
    for (const auto& [x, y] : PixelsOf(plain, kInk))
        shifted.insert({x + 5, y});
    ASSERT_FALSE(shifted.empty());
    EXPECT_EQ(PixelsOf(moved, kInk), shifted);
    EXPECT_EQ(PixelsOf(render(0, tpCenter), kInk), PixelsOf(render(5, tpCenter), kInk));
}

TEST(ColorProgressBarPaint, ZeroMaxPaintsBackgroundAndFrameOnly)
{
    const TColor frame = RGB(9, 9, 9);
    const auto g = PlainGauge(cpbLeftToRight, 150, 20);
    g->SetFrameColor(frame);
    g->SetUpperLimit(80);
    g->SetLowerLimit(20);
    g->SetShowRange(true);
    g->SetShowPosition(true);
    g->SetShowLevel(true);
    g->SetShowReference(true);
    g->SetRuleStep(10);
    g->SetMax(0);
    for (bool gradation : {false, true}) {
        g->SetEnableGradation(gradation);
        const QImage image = Render(*g);
        EXPECT_EQ(PixelsOf(image, kBack).size() + PixelsOf(image, frame).size(), 150u * 20);
    }
}

TEST(ColorProgressBarPaint, BarShorterThanItsInsetPaintsNothing)
{
    const auto g = PlainGauge(cpbLeftToRight, 150, 20);
    g->SetPosition(2);  // 3 pixels
    EXPECT_TRUE(PixelsOf(Render(*g), kSig).empty());
    g->SetEnableGradation(true);
    EXPECT_EQ(At(Render(*g), 4, 10), kBack);
    g->SetPosition(3);  // 4 pixels: an empty fill, but one gradation line at the inset
    EXPECT_EQ(PixelsOf(Render(*g), clGreen), Block(4, 4, 4, 15));
}

TEST(ColorProgressBarPaint, FrameIsDrawnLast)
{
    const auto g = PlainGauge(cpbLeftToRight, 150, 20);
    g->SetFrameColor(kMark);
    g->SetPosition(100);
    const QImage image = Render(*g);
    EXPECT_EQ(At(image, 149, 10), kMark);
    EXPECT_EQ(At(image, 148, 10), kSig);
}

TEST(ColorProgressBarPaint, FarOffValuesPaintToTheEdgeWithoutFailing)
{
    for (TOrientation o : {cpbLeftToRight, cpbBottomToTop, cpbRightToLeft, cpbTopToBottom}) {
        const bool horizontal = o == cpbLeftToRight || o == cpbRightToLeft;
        const auto g = PlainGauge(o, horizontal ? 150 : 20, horizontal ? 20 : 150);
        g->SetPosition(100);
        g->SetUpperLimit(1e300);
        g->SetLowerLimit(-1e300);
        g->SetMax(1e-300);  // Position stays 100, far beyond the scale
        g->SetReference(std::nan(""));
        g->SetRuleStep(1e308);
        g->SetLevelMargin(INT_MAX);
        g->SetPrecision(INT_MAX);
        g->SetShowRange(true);
        g->SetShowLevel(true);
        g->SetShowLevelText(true);
        g->SetShowReference(true);
        g->SetShowPosition(true);
        g->SetEnableGradation(true);
        const QImage image = Render(*g);
        // The graded bar runs to the far edge: the colour there depends on the place alone.
        const QPoint farEnd = o == cpbLeftToRight   ? QPoint(148, 10)
                              : o == cpbRightToLeft ? QPoint(2, 10)
                              : o == cpbBottomToTop ? QPoint(10, 2)
                                                    : QPoint(10, 148);
        EXPECT_EQ(At(image, farEnd.x(), farEnd.y()), RGB(245, 6, 0)) << int(o);
    }
    for (QSize size : {QSize(1, 1), QSize(3, 3), QSize(0, 5)}) {
        TColorProgressBar tiny;
        tiny.resize(size);
        tiny.SetCtl3D(true);
        tiny.SetEnableGradation(true);
        QImage image(QSize(1, 1).expandedTo(size), QImage::Format_RGB32);
        tiny.PaintTo(image);
    }
}

// --- on a scaled screen ---

// Text is painted at the device's resolution, not blown up from a picture at one device
// pixel per pixel, and a three-digit value keeps at every ratio to the columns its ink
// covers unscaled, where it just fits between the narrow gauge's frame.
TEST(ColorProgressBarPaint, TextIsDrawnAtTheDeviceResolutionWithinItsColumns)
{
    const auto g = MainWindowGauge(cpbBottomToTop);
    g->SetPosition(127);
    struct Box {
        int left = INT_MAX, right = INT_MIN, top = INT_MAX, bottom = INT_MIN;
    };
    const auto box = [](const Pixels& ink) {
        Box b;
        for (const auto& [x, y] : ink)
            b = {std::min(b.left, x), std::max(b.right, x), std::min(b.top, y), std::max(b.bottom, y)};
        return b;
    };
    const Box unscaled = box(PixelsOf(Render(*g), kInk));
    ASSERT_LE(unscaled.left, unscaled.right);
    for (const double ratio : {1.25, 1.5, 2.0, 3.0}) {
        SCOPED_TRACE(ratio);
        const QImage image = RenderScaled(*g, ratio, ToQColor(kUnpainted));
        const Pixels ink = PixelsOf(image, kInk);
        const Box scaled = box(ink);
        EXPECT_GE(scaled.left, static_cast<int>(std::floor(unscaled.left * ratio)));
        EXPECT_LE(scaled.right, static_cast<int>(std::ceil((unscaled.right + 1) * ratio)) - 1);
        // All three digits are there: ink on both sides of the middle.
        EXPECT_LT(scaled.left, image.width() / 3);
        EXPECT_GT(scaled.right, image.width() * 2 / 3);
        if (ratio == 2.0) {
            EXPECT_GT(SplitBlocks(ink), 0);
            // The glyphs are about as tall in device pixels as the text is in the gauge's, doubled.
            EXPECT_GT(scaled.bottom - scaled.top + 1, TextSize(*g, "127").height());
        }
    }
}
