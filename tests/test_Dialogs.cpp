// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Dialogs.h"
#include "toolkit/Graphics.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <stdexcept>
#include <vector>

TEST(Dialogs, ExceptionReportAppendsAFullStop)
{
    EXPECT_EQ(ExceptionReportText(QStringLiteral("ポートをオープンできませんでした")),
              QStringLiteral("ポートをオープンできませんでした."));
    EXPECT_EQ(ExceptionReportText("Port is already open."), "Port is already open.");
    EXPECT_EQ(ExceptionReportText("ends with a comma,"), "ends with a comma,");  // ',' < '.'
    EXPECT_EQ(ExceptionReportText("x"), "x.");
    EXPECT_EQ(ExceptionReportText(""), "");
}

TEST(Dialogs, GuardHandsExceptionsToTheReport)
{
    SetApplicationTitle("ZUB-3 Manager");
    std::vector<MessageRecord> seen;
    auto previous = SetMessageBoxHook([&](const MessageRecord& m) { seen.push_back(m); });
    bool after = false;
    RunGuarded([] { throw std::runtime_error("通信速度の設定でエラーが発生しました"); });
    RunGuarded([&] { after = true; });
    ShowWarning("w");
    ShowInformation("i");
    ShowPlainMessage("ERROR", "p");
    SetMessageBoxHook(previous);

    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(after);
    EXPECT_EQ(seen[0].kind, MessageKind::Error);
    EXPECT_EQ(seen[0].caption, "ZUB-3 Manager");
    EXPECT_EQ(seen[0].text, QStringLiteral("通信速度の設定でエラーが発生しました."));
    EXPECT_EQ(seen[1].caption, QStringLiteral("警告"));
    EXPECT_EQ(seen[2].caption, QStringLiteral("情報"));
    EXPECT_EQ(seen[3].caption, "ERROR");
    EXPECT_EQ(seen[3].kind, MessageKind::Plain);
}

TEST(Dialogs, RealBoxIsModalWithOneOkButton)
{
    QMessageBox* shown = nullptr;
    QString caption, text;
    int buttons = 0;
    QTimer::singleShot(50, [&] {
        shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!shown)
            return;
        caption = shown->windowTitle();
        text = shown->text();
        buttons = static_cast<int>(shown->buttons().size());
        shown->accept();
    });
    ShowInformation(QStringLiteral("ポートが接続されていません。"));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(caption, QStringLiteral("情報"));
    EXPECT_EQ(text, QStringLiteral("ポートが接続されていません。"));
    EXPECT_EQ(buttons, 1);
}

TEST(Graphics, PlainAndSystemColours)
{
    EXPECT_EQ(ColorToRGB(clTeal), 0x00808000u);
    EXPECT_EQ(ToQColor(clRed), QColor(255, 0, 0));
    EXPECT_EQ(GetBValue(clBlue), 255);
    // System colours resolve to some plain colour, never to the index itself.
    EXPECT_EQ(ColorToRGB(clBtnFace) & 0xFF000000u, 0u);
    EXPECT_EQ(ColorToRGB(clGradientActiveCaption), RGB(185, 209, 234));
}
