// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where an icon button puts its PNG image.

#include "toolkit/SpeedButton.h"

#include <QPoint>
#include <QRect>
#include <QString>

class QFont;
class TPngImage;

// The top-left corner of the image inside the button's client rectangle, laid out with the
// caption (measured in font) by layout, margin and spacing; one pixel further right and
// down while the button is pressed or down.
QPoint CalcImagePosition(const QRect& client, const TPngImage& image, const QString& caption,
                         const QFont& font, TButtonLayout layout, int margin, int spacing,
                         bool rightToLeft, bool pressed, bool down);
