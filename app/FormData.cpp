// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FormData.h"

void ApplyStoredProperties(QObject& object, const StoredProperties& properties)
{
    for (const auto& [name, value] : properties)
        object.setProperty(name, value);
}

StoredProperties MainWindowGaugeProperties(TOrientation orientation)
{
    // Position comes before Max: the gauge takes 50 while its Max is still 100 and records
    // it as its first sample.
    return {
        {"FrameColor", QVariant::fromValue<TColor>(cl3DDkShadow)},
        {"ForeColor", QVariant::fromValue<TColor>(clHighlight)},
        {"Position", 50.0},
        {"Orientation", QVariant::fromValue(orientation)},
        {"Max", 127.0},
        {"Ctl3D", true},
        {"ShowLevel", false},
        {"ShowLevelText", false},
        {"LevelColor", QVariant::fromValue<TColor>(clRed)},
        {"LevelMargin", 0},
        {"Corner", false},
        {"RefColor", QVariant::fromValue<TColor>(clRed)},
        {"ShowReference", false},
        {"RangeColor", QVariant::fromValue<TColor>(clBlack)},
        {"SigColor", QVariant::fromValue<TColor>(clTeal)},
        {"RuleColor", QVariant::fromValue<TColor>(clBlack)},
        {"EnableGradation", false},
    };
}
