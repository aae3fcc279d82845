// SPDX-License-Identifier: GPL-3.0-or-later
// Where the bar gauge puts its value text, by TextPosition.
#include "widgets/ColorProgressBar.h"
#include "widgets/ColorProgressBarCoordinates.h"

using gauge::ToCoordinate;

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
