// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Translation.h"
#include "app/WindowExtras.h"
#include "app/ZUB3Check.h"

#include "serial/CommX.h"
#include "support/TempRegistry.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Shape.h"
#include "toolkit/SpinEdit.h"
#include "widgets/PngSpeedButton.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QXmlStreamReader>

#include <vector>

namespace {

// Kana, kanji, the ideographic space and full-width forms: what an English window never shows.
bool HasJapanese(const QString& text)
{
    static const QRegularExpression japanese(
        QStringLiteral("[\\x{3000}-\\x{30ff}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return text.contains(japanese);
}

class Translation : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousHook_ = SetMessageBoxHook([this](const MessageRecord& m) { messages_.push_back(m); });
    }
    void TearDown() override
    {
        SetMessageBoxHook(previousHook_);
        InstallTranslation(*qApp, QStringLiteral("ja"));
    }

    TempRegistry registry_;
    std::vector<MessageRecord> messages_;
    MessageBoxHook previousHook_;
};

}  // namespace

// Every text of the file is translated and finished, and keeps the numbers put into it.
TEST(TranslationFile, EveryEntryIsFinished)
{
    QFile file(QStringLiteral(ZUB3_TRANSLATION_FILE));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << ZUB3_TRANSLATION_FILE;
    QXmlStreamReader xml(&file);
    int messages = 0;
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QStringLiteral("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QStringLiteral("translation")) {
            ++messages;
            const QString type = xml.attributes().value(QStringLiteral("type")).toString();
            const QString text = xml.readElementText();
            EXPECT_TRUE(type.isEmpty()) << qPrintable(source) << ": " << qPrintable(type);
            EXPECT_FALSE(text.trimmed().isEmpty()) << qPrintable(source);
            EXPECT_FALSE(HasJapanese(text)) << qPrintable(text);
            for (const QString& arg : {QStringLiteral("%1"), QStringLiteral("%2")})
                EXPECT_EQ(source.contains(arg), text.contains(arg)) << qPrintable(source);
        }
    }
    EXPECT_FALSE(xml.hasError()) << qPrintable(xml.errorString());
    EXPECT_GT(messages, 30);
}

TEST_F(Translation, JapaneseUnlessEnglishIsAskedFor)
{
    for (const char* language : {"ja", "", "de", "EN", "en_US"}) {
        EXPECT_EQ(InstallTranslation(*qApp, QString::fromLatin1(language)), QStringLiteral("ja"))
            << language;
        TMainForm form;
        EXPECT_EQ(form.GroupBox1->title(), QStringLiteral("\u3000設定\u3000")) << language;
        // Qt's own texts too: a memo's context menu, the file dialogs.
        EXPECT_EQ(QCoreApplication::translate("QWidgetTextControl", "Cu&t"),
                  QStringLiteral("切り取り(&T)"))
            << language;
    }
    InstallTranslation(*qApp, QStringLiteral("en"));
    EXPECT_EQ(QCoreApplication::translate("QWidgetTextControl", "Cu&t"), QStringLiteral("Cu&t"));
}

// The file dialog's type column, which Qt's Japanese translation leaves English, and what
// that translation has stays its own.
TEST_F(Translation, TheFileDialogNamesAFolderInTheWindowsLanguage)
{
    const QFileInfo folder(QDir::tempPath());
    ASSERT_TRUE(folder.isDir());
    const struct {
        const char* language;
        const char* folder;
        const char* newFolder;
    } rows[] = {{"ja", "フォルダ", "新しいフォルダ"}, {"en", "Folder", "New Folder"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.language);
        InstallTranslation(*qApp, QString::fromLatin1(r.language));
        EXPECT_EQ(QFileIconProvider().type(folder), QString::fromUtf8(r.folder));
        EXPECT_EQ(QCoreApplication::translate("QFileDialog", "New Folder"),
                  QString::fromUtf8(r.newFolder));
    }
}

// Every text an English window shows, at start and in a run of refusals and reports, is
// English; the numbers put into them stay.
TEST_F(Translation, EnglishShowsEveryTextInEnglish)
{
    ASSERT_EQ(InstallTranslation(*qApp, QStringLiteral("en")), QStringLiteral("en"));
    TMainForm form;
    std::vector<QString> shown{form.windowTitle()};
    for (const QWidget* w : form.findChildren<QWidget*>()) {
        shown.push_back(w->toolTip());
        if (const auto* label = qobject_cast<const QLabel*>(w))
            shown.push_back(label->text());
        if (const auto* group = qobject_cast<const QGroupBox*>(w))
            shown.push_back(group->title());
    }
    shown.push_back(form.btnRead->Hint());
    shown.push_back(form.btnWrite->Hint());

    form.shpPowerMouseDown(form.shpPower, Qt::LeftButton, {}, 0, 0);  // no port
    form.btnReadClick(form.btnRead);
    form.speID->SetValue(5);
    ASSERT_EQ(messages_.size(), 2u);
    for (const MessageRecord& m : messages_) {
        shown.push_back(m.caption);
        shown.push_back(m.text);
    }
    EXPECT_EQ(messages_[0].caption, QStringLiteral("Information"));
    EXPECT_EQ(messages_[1].caption, QStringLiteral("Warning"));
    EXPECT_EQ(messages_[1].text, QStringLiteral("The port is not open."));
    EXPECT_EQ(form.StatusText(), QStringLiteral("ID 5 chosen."));
    EXPECT_EQ(form.GroupBox1->title(), QStringLiteral(" Settings "));
    for (const QString& text : shown)
        EXPECT_FALSE(HasJapanese(text)) << qPrintable(text);
    EXPECT_EQ(form.ComPort->Language, clEnglish);
}

// The menu's language entry offers the language the next start will not use, keeps the
// choice in the settings file, and then offers the way back.
TEST_F(Translation, TheMenuChoosesTheLanguageOfTheNextStart)
{
    const QString file = QString::fromStdString((registry_.Root() / "ZUB3Manager.conf").string());
    TMainForm form;
    WindowExtras extras(form, file);
    const auto entry = [&form](const QString& text) {
        for (QAction* a : form.actions())
            if (a->text() == text)
                return a;
        return static_cast<QAction*>(nullptr);
    };
    QAction* english = entry(QStringLiteral("English"));
    ASSERT_NE(english, nullptr);
    english->trigger();
    EXPECT_EQ(StoredLanguage(file), QStringLiteral("en"));
    EXPECT_EQ(english->text(), QStringLiteral("日本語"));
    english->trigger();
    EXPECT_EQ(StoredLanguage(file), QStringLiteral("ja"));
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("English")));
}
