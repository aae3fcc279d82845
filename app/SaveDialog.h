// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's save dialog, opening in the documents folder with a name that carries the
// date and time, so that one session never overwrites another by default.

#include <QString>

class QWidget;

// "" when the user cancelled. stem: "zub3-chart" gives "zub3-chart-20240131-142501.png".
QString AskSaveFile(QWidget* parent, const QString& caption, const QString& stem,
                    const QString& suffix, const QString& filter);
