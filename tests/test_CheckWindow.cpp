// SPDX-License-Identifier: GPL-3.0-or-later
// The guided controller check beside a window polling a virtual receiver: a good controller
// passes by itself once let go, a stuck button fails with its reasons in the window's
// words, the report is saved as a page and as JSON, and the tolerances are kept.
#include "app/CheckWindow.h"

#include "Version.h"
#include "app/WindowExtras.h"
#include "app/WindowSettings.h"
#include "support/Wait.h"
#include "support/WindowRig.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

class CheckWindowTest : public ::testing::Test {
protected:
    CheckWindowTest() : form_(rig_.OpenWindow()), extras_(*form_, settingsFile())
    {
        WindowRig::Choose(form_->cbxBaudRate, "115200");
        WindowRig::Choose(form_->cbxInterval, "5");
    }

    QString settingsFile() const { return dir_.filePath("ZUB3Manager.conf"); }

    // The controller in this state until the window has had a reply with it.
    void hold(std::uint16_t buttons, std::array<zub3::Byte, 4> channels)
    {
        rig_.receiver->SetState({buttons, channels});
        const auto polls = rig_.receiver->GetCounters().polls;
        ASSERT_TRUE(WaitUntil([&] { return rig_.receiver->GetCounters().polls >= polls + 2; }));
    }

    QTemporaryDir dir_;
    WindowRig rig_;
    std::unique_ptr<TMainForm> form_;
    WindowExtras extras_;
};

TEST_F(CheckWindowTest, GuidedCheckJudgesSavesAndKeepsItsTolerances)
{
    // Ctrl+T brings it up, as the menu does.
    for (QAction* action : form_->actions())
        if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_T))
            action->trigger();
    CheckWindow& check = extras_.Check();
    ASSERT_TRUE(check.isVisible());
    WindowRig::ClickSwitch(*form_);

    const std::array<zub3::Byte, 4> rest{64, 64, 64, 64};
    for (int i = 0; i < zub3::kIndicatorCount; ++i) {
        hold(zub3::IndicatorMask(i), rest);
        hold(0, rest);
    }
    for (std::size_t c = 0; c < 4; ++c) {
        std::array<zub3::Byte, 4> v = rest;
        hold(0, (v[c] = 0, v));
        hold(0, (v[c] = 127, v));
    }
    EXPECT_FALSE(check.Finished()) << "not before the controller has rested";
    rig_.receiver->SetState({0, rest});
    ASSERT_TRUE(WaitUntil([&] { return check.Finished(); }));
    EXPECT_EQ(check.VerdictText(), "合格 (PASS)");

    const QString json = dir_.filePath("unit.json");
    const QString html = dir_.filePath("unit.html");
    ASSERT_TRUE(check.SaveReport(json, CheckWindow::Format::Json));
    ASSERT_TRUE(check.SaveReport(html, CheckWindow::Format::Html));
    QFile jsonFile(json);
    ASSERT_TRUE(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(jsonFile.readAll()).object();
    EXPECT_EQ(o["verdict"].toString(), "PASS");
    EXPECT_EQ(o["tool"].toString(), "ZUB3Manager");
    EXPECT_EQ(o["version"].toString(), zub3::kVersion);
    EXPECT_EQ(o["port"].toString(), "COM9");
    EXPECT_EQ(o["receiver"].toObject()["speed"].toInt(), 115200);
    QFile page(html);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(page.readAll());
    EXPECT_TRUE(text.contains("id=\"verdict\">合格 (PASS)"));
    EXPECT_EQ(text.count("<svg"), 4);

    // A stuck button: judged on what was seen, in the window's words.
    check.Restart();
    hold(zub3::button::kS2, rest);
    check.Finish();
    EXPECT_EQ(check.VerdictText(), "不合格 (FAIL)");
    EXPECT_TRUE(check.ReportText().contains("S1 が一度も押されませんでした"));
    EXPECT_TRUE(check.ReportText().contains("S2 が手を離した後も押されたままです"));
    EXPECT_TRUE(check.ReportText().contains("↑← が一度も押されませんでした"));

    // Wider tolerances judge the same polls again, and are there at the next start.
    zub3::CheckLimits wide = check.Check().Limits();
    wide.endTolerance = 63;
    check.SetLimits(wide);
    EXPECT_TRUE(check.ReportText().contains("PA1 は 64 までしか下がりません（0 から 63 以内）"));
    EXPECT_FALSE(check.ReportText().contains("までしか上がりません"));
    EXPECT_EQ(LoadCheckLimits(settingsFile()), wide);
    CheckWindow next(*form_, settingsFile());
    EXPECT_EQ(next.Check().Limits(), wide);

    // Where they cannot be kept they still hold for the run, and that is said once.
    CheckWindow unkept(*form_, "/dev/null/zub3/ZUB3Manager.conf");
    const auto before = rig_.messages.size();
    unkept.SetLimits(wide);
    wide.noisePeakToPeak = 9;
    unkept.SetLimits(wide);
    EXPECT_EQ(unkept.Check().Limits(), wide);
    ASSERT_EQ(rig_.messages.size(), before + 1);
    EXPECT_TRUE(rig_.messages.back().text.contains("許容差を /dev/null/zub3/ZUB3Manager.conf に保存できません"));
}

}  // namespace
