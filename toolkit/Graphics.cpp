// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Graphics.h"

#include <QGuiApplication>
#include <QPalette>

#include <optional>

namespace {

std::optional<QPalette::ColorRole> paletteRole(int index)
{
    switch (index) {
    case 8: return QPalette::WindowText;
    case 13: return QPalette::Highlight;
    case 15: return QPalette::Button;
    case 16: return QPalette::Dark;
    case 21: return QPalette::Shadow;
    default: return std::nullopt;
    }
}

// Where Qt has no role: the classic desktop's defaults.
TColor classicDefault(int index)
{
    switch (index) {
    case 10: return RGB(180, 180, 180);   // active border
    case 12: return RGB(171, 171, 171);   // application workspace
    case 27: return RGB(185, 209, 234);   // gradient of an active caption
    case 28: return RGB(215, 228, 242);   // gradient of an inactive caption
    default: return clBlack;
    }
}

}  // namespace

TColor ColorToRGB(TColor color)
{
    if ((color & clSystemColor) == 0)
        return color & 0x00FFFFFF;
    const int index = static_cast<int>(color & 0xFF);
    if (const auto role = paletteRole(index); role && qGuiApp)
        return FromQColor(QGuiApplication::palette().color(QPalette::Active, *role));
    return classicDefault(index);
}

QColor ToQColor(TColor color)
{
    const TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

TColor FromQColor(const QColor& color)
{
    return RGB(color.red(), color.green(), color.blue());
}
