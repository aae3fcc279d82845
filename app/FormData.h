// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's stored form data that is applied through the components' setters, by
// property name and in declaration order, as a stored form is loaded.

#include "widgets/ColorProgressBar.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVariant>

#include <utility>
#include <vector>

// The window is designed at 96 pixels per inch; other settings scale positions and sizes.
class FormScale {
public:
    explicit FormScale(int pixelsPerInch) : ppi_(pixelsPerInch) {}
    int operator()(int v) const { return v * ppi_ / kDesignPixelsPerInch; }
    QRect rect(const QRect& r) const
    {
        return {(*this)(r.x()), (*this)(r.y()), (*this)(r.width()), (*this)(r.height())};
    }
    QPoint point(int x, int y) const { return {(*this)(x), (*this)(y)}; }
    QSize size(int w, int h) const { return {(*this)(w), (*this)(h)}; }

    static constexpr int kDesignPixelsPerInch = 96;

private:
    int ppi_;
};

using StoredProperties = std::vector<std::pair<const char*, QVariant>>;

// Applies each stored value through the property's setter, in the order given.
void ApplyStoredProperties(QObject& object, const StoredProperties& properties);

// What the form stores for each of the four gauges: the properties that differ from their
// declared defaults, in declaration order.
StoredProperties MainWindowGaugeProperties(TOrientation orientation);
