// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SaveDialog.h"

#include <QDateTime>
#include <QFileDialog>
#include <QStandardPaths>

QString AskSaveFile(QWidget* parent, const QString& caption, const QString& stem,
                    const QString& suffix, const QString& filter)
{
    const QString name = stem + QLatin1Char('-') +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                         QLatin1Char('.') + suffix;
    return QFileDialog::getSaveFileName(
        parent, caption,
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/') +
            name,
        filter);
}
