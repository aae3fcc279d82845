// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Translation.h"

#include "app/WindowSettings.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QSettings>
#include <QTranslator>

namespace {

const QString kJapanese = QStringLiteral("ja");
const QString kEnglish = QStringLiteral("en");
// Where the build puts the English translation among the program's resources.
const QString kEnglishFile = QStringLiteral(":/translations/zub3manager_en.qm");
const QString kLanguageKey = QStringLiteral("language");

QPointer<QTranslator> installed;
QPointer<QTranslator> installedQt;
QPointer<QTranslator> installedGaps;
QString current = kJapanese;

// Qt's texts its Japanese translation lacks (the file dialog's type column shows "Folder"),
// in the words it uses for them elsewhere. Asked before Qt's own translation.
class QtJapaneseGaps : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* source, const char*, int) const override
    {
        static constexpr struct {
            const char* context;
            const char* source;
            const char* japanese;
        } gaps[] = {
            {"QAbstractFileIconProvider", "Folder", "フォルダ"},
            {"QAbstractFileIconProvider", "Drive", "ドライブ"},
            {"QAbstractFileIconProvider", "Unknown", "不明"},
        };
        for (const auto& g : gaps)
            if (qstrcmp(context, g.context) == 0 && qstrcmp(source, g.source) == 0)
                return QString::fromUtf8(g.japanese);
        return {};
    }

    bool isEmpty() const override { return false; }
};

// Qt's own texts (file dialogs, a memo's context menu) in the window's language, from
// Debian's qt6-translations-l10n; without it they stay English.
void installQtTranslation(QCoreApplication& application, const QString& language)
{
    for (QPointer<QTranslator>* t : {&installedGaps, &installedQt}) {
        if (*t) {
            QCoreApplication::removeTranslator(*t);
            delete *t;
        }
    }
    if (language == kEnglish)
        return;  // Qt's texts are English already
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral("qtbase_") + language,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return;
    }
    installedQt = translator;
    installedGaps = new QtJapaneseGaps(&application);
    QCoreApplication::installTranslator(installedGaps);
}

}  // namespace

QStringList WindowLanguages()
{
    return {kJapanese, kEnglish};
}

QString LanguageName(const QString& language)
{
    return language == kEnglish ? QStringLiteral("English") : QStringLiteral("日本語");
}

QString InstallTranslation(QCoreApplication& application, const QString& language)
{
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    current = kJapanese;
    if (language == kEnglish) {
        auto* translator = new QTranslator(&application);
        // Built into the program: a missing file is a broken build, not a user's mistake.
        if (translator->load(kEnglishFile) && QCoreApplication::installTranslator(translator)) {
            installed = translator;
            current = kEnglish;
        } else {
            delete translator;
            qWarning("ZUB3Manager: the English translation is missing; the window stays Japanese");
        }
    }
    installQtTranslation(application, current);
    return current;
}

QString CurrentLanguage()
{
    return current;
}

QString StoredLanguage(const QString& file)
{
    const QString language =
        QSettings(file, QSettings::IniFormat).value(kLanguageKey).toString();
    return WindowLanguages().contains(language) ? language : QString();
}

bool StoreLanguage(const QString& file, const QString& language)
{
    QString fault;
    if (!LoadSettings(file, &fault))
        return false;
    QSettings(file, QSettings::IniFormat).setValue(kLanguageKey, language);
    return true;
}
