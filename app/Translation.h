// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's language. Its texts are written in Japanese and stay Japanese unless English
// is asked for (a command-line option or the choice in the window's menu, remembered with
// the other settings); English comes from a translation built into the program.

#include <QString>
#include <QStringList>

class QCoreApplication;

// The languages the window speaks, as their codes: "ja" first, the default.
QStringList WindowLanguages();
// The language's own name, for the menu: "日本語", "English".
QString LanguageName(const QString& language);

// Installs the translation for language on the application; Japanese for "ja", an empty
// code or any code the window does not speak. Returns the language now in use.
QString InstallTranslation(QCoreApplication& application, const QString& language);
// The language installed last ("ja" before any).
QString CurrentLanguage();

// The language chosen in the window, kept between runs with the window's other settings
// in file; empty when none was chosen.
QString StoredLanguage(const QString& file);
// False, writing nothing, when file is one the settings leave as it is (see LoadSettings).
bool StoreLanguage(const QString& file, const QString& language);
