// SPDX-License-Identifier: GPL-3.0-or-later
// The window's settings through a close and a new start, a port that has gone, and files
// that are damaged.
#include "app/WindowSettings.h"

#include "support/QuickCommX.h"
#include "support/WindowRig.h"
#include "toolkit/SpinEdit.h"
#include "toolkit/Timer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

}  // namespace

TEST(WindowSettings, RoundTripThroughCloseAndStart)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("zub3/ZUB3Manager.conf");
    WindowRig rig;
    {
        TMainForm form(nullptr, new QuickCommX(nullptr));
        new SettingsKeeper(form, file);
        form.cbxPort->SetPortNo(9);
        emit form.cbxPort->activated(form.cbxPort->currentIndex());
        WindowRig::Choose(form.cbxBaudRate, "625000");
        WindowRig::Choose(form.cbxInterval, "50");
        form.speID->SetValue(7);
        form.close();
    }
    QString fault;
    const auto stored = LoadSettings(file, &fault);
    ASSERT_TRUE(stored) << fault.toStdString();
    ASSERT_TRUE(stored->port);
    EXPECT_EQ(stored->port->device.toStdString(), rig.receiver->SlavePath());

    TMainForm form(nullptr, new QuickCommX(nullptr));
    auto* keeper = new SettingsKeeper(form, file);
    keeper->Apply(*stored);
    EXPECT_NE(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(form.ComPort->PortNo(), 9);
    EXPECT_EQ(form.cbxPort->currentText(), "COM9");
    EXPECT_EQ(form.cbxBaudRate->currentText(), "625000");
    EXPECT_EQ(form.Timer->interval(), 50);
    EXPECT_EQ(form.speID->Value(), 7);
    EXPECT_FALSE(form.Monitoring);
    EXPECT_TRUE(rig.messages.empty());

    // A receiver started again gets another pseudo-terminal under the same COM name.
    form.close();
    rig.StartReceiver({});
    TMainForm again(nullptr, new QuickCommX(nullptr));
    (new SettingsKeeper(again, file))->Apply(*LoadSettings(file, &fault));
    EXPECT_NE(again.ComPort->Handle(), INVALID_HANDLE_VALUE);
}

TEST(WindowSettings, PortThatHasGoneIsReportedAndKept)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    WindowRig rig;
    // A USB adapter that is no longer plugged in; COM9 is now another device.
    const StoredSettings stored{PortIdentity{"COM9", "/dev/ttyUSB0",
                                             "/dev/serial/by-id/usb-FTDI_gone-if00-port0"},
                                115200, 20, 3};
    TMainForm form;
    (new SettingsKeeper(form, file))->Apply(stored);
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_EQ(rig.messages[0].kind, MessageKind::Error);
    EXPECT_TRUE(rig.messages[0].text.contains("/dev/serial/by-id/usb-FTDI_gone-if00-port0"));
    EXPECT_TRUE(rig.messages[0].text.contains("もう存在しません"));
    EXPECT_EQ(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_LE(form.cbxPort->currentIndex(), 0);
    EXPECT_EQ(form.cbxBaudRate->currentText(), "115200");
    EXPECT_EQ(form.Timer->interval(), 20);
    form.close();
    // Kept for the run where the adapter is back.
    QString fault;
    EXPECT_EQ(LoadSettings(file, &fault), stored);

    // An English window says it in English.
    TMainForm english;
    english.ComPort->Language = clEnglish;
    (new SettingsKeeper(english, file))->Apply(stored);
    ASSERT_EQ(rig.messages.size(), 2u);
    EXPECT_TRUE(rig.messages[1].text.contains("is no longer there")) << rig.messages[1].text.toStdString();
    english.close();
}

TEST(WindowSettings, DamagedFilesAreRefusedWithTheReason)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    const char* damaged[] = {
        "[line]\nspeed=fast\n",
        "[line]\nspeed=9600\n",
        "[line]\ninterval=0\n",
        "[receiver]\nid=32\n",
        "[port]\nname=ttyUSB0\ndevice=/dev/ttyUSB0\n",
        "[port]\nname=COM3\n",
    };
    for (const char* content : damaged) {
        writeFile(file, content);
        QString fault;
        EXPECT_FALSE(LoadSettings(file, &fault)) << content;
        EXPECT_FALSE(fault.isEmpty()) << content;
    }
    QString fault;
    EXPECT_EQ(LoadSettings(dir.filePath("none.conf"), &fault), StoredSettings{});
    // Keys of other versions survive a save.
    writeFile(file, "[window]\nlanguage=en\n");
    ASSERT_TRUE(SaveSettings(file, {std::nullopt, 115200, 10, 0}));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("language=en"));
}
