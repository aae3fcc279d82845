// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's menu font and the screen's vertical pixels per inch, standing in for the
// non-client metrics and device caps the window takes its font from.

#include <QString>

namespace platform {

struct MenuFontMetrics {
    QString faceName;  // at most 32 characters, as the desktop's record holds it
    int height = 0;    // negative: the character height in pixels
};

MenuFontMetrics GetMenuFont();
int GetLogPixelsY();

// (a * b) / c rounded to the nearest integer, halves away from zero; -1 when c is 0.
int MulDiv(int a, int b, int c);

}  // namespace platform
