// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Notices.h"

#include "app/ZUB3Check.h"

#include <QStatusBar>
#include <QStringList>
#include <QVariant>

#include <cstdio>

namespace {

// Notices kept for the tooltip, the newest last: enough for any start, bounded for a run
// of days with a ports file that keeps changing.
constexpr qsizetype kKept = 20;
constexpr char kProperty[] = "zub3Notices";

}  // namespace

void ShowNotice(TMainForm& form, const QString& text, bool toStderr)
{
    form.StatusBar->showMessage(text);
    QStringList notices = form.StatusBar->property(kProperty).toStringList();
    notices << text;
    if (notices.size() > kKept)
        notices.remove(0, notices.size() - kKept);
    form.StatusBar->setProperty(kProperty, notices);
    form.StatusBar->setToolTip(notices.join(QLatin1Char('\n')));
    if (toStderr)
        std::fprintf(stderr, "ZUB3Manager: %s\n", text.toLocal8Bit().constData());
}
