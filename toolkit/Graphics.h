// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The toolkit's 32-bit colour: 0x00BBGGRR for a plain colour (red in the low byte), or
// 0x80000000 plus a system colour index, resolved to the desktop's colour when drawing.

#include <QColor>

#include <cstdint>

using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x00000000;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clRed = 0x000000FF;
inline constexpr TColor clGreen = 0x00008000;
inline constexpr TColor clBlue = 0x00FF0000;
inline constexpr TColor clTeal = 0x00808000;
inline constexpr TColor clGray = 0x00808080;

inline constexpr TColor clSystemColor = 0x80000000;
inline constexpr TColor clWindowText = clSystemColor + 8;
inline constexpr TColor clActiveBorder = clSystemColor + 10;
inline constexpr TColor clAppWorkSpace = clSystemColor + 12;
inline constexpr TColor clHighlight = clSystemColor + 13;
inline constexpr TColor clBtnFace = clSystemColor + 15;
inline constexpr TColor clBtnShadow = clSystemColor + 16;
inline constexpr TColor cl3DDkShadow = clSystemColor + 21;
inline constexpr TColor clGradientActiveCaption = clSystemColor + 27;
inline constexpr TColor clGradientInactiveCaption = clSystemColor + 28;

enum TBrushStyle : std::uint8_t { bsSolid, bsClear };

// The plain 0x00BBGGRR value of a colour: system colours come from the desktop's palette
// where a role fits, else from the classic desktop defaults.
TColor ColorToRGB(TColor color);

QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

inline constexpr int GetRValue(TColor c) { return static_cast<int>(c & 0xFF); }
inline constexpr int GetGValue(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
inline constexpr int GetBValue(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }
inline constexpr TColor RGB(int r, int g, int b)
{
    return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
