// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/DesktopMetrics.h"

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QScreen>

#include <cmath>
#include <cstdint>

namespace platform {

int GetLogPixelsY()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchY())) : 96;
}

MenuFontMetrics GetMenuFont()
{
    const QFont font = QApplication::font("QMenu");
    MenuFontMetrics m;
    m.faceName = QFontInfo(font).family().left(31);  // the record keeps 31 characters and a 0
    if (font.pixelSize() > 0)
        m.height = -font.pixelSize();
    else
        m.height = -static_cast<int>(std::lround(font.pointSizeF() * GetLogPixelsY() / 72.0));
    return m;
}

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const std::int64_t d = c;
    const std::int64_t q = (std::abs(p) + std::abs(d) / 2) / std::abs(d);
    return static_cast<int>(((p < 0) != (d < 0)) ? -q : q);
}

}  // namespace platform
