// SPDX-License-Identifier: GPL-3.0-or-later
// The window's settings through a close and a new start, a port that has gone, files that
// are damaged or cannot be written, and where the windows were.
#include "app/WindowSettings.h"

#include "app/Translation.h"
#include "app/WindowExtras.h"
#include "support/QuickCommX.h"
#include "support/WindowRig.h"
#include "toolkit/SpinEdit.h"
#include "toolkit/Timer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStatusBar>
#include <QTemporaryDir>

#include <filesystem>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

// Settings that keep the line and the receiver, and nothing else.
StoredSettings lineAndReceiver(int bitRate, int intervalMs, int id)
{
    StoredSettings s;
    s.bitRate = bitRate;
    s.intervalMs = intervalMs;
    s.id = id;
    return s;
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

TEST(WindowSettings, PortChosenAloneIsKept)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    WindowRig rig;
    {
        TMainForm form(nullptr, new QuickCommX(nullptr));
        (new SettingsKeeper(form, file))->Apply(lineAndReceiver(115200, 10, 0));
        form.cbxPort->SetPortNo(9);
        emit form.cbxPort->activated(form.cbxPort->currentIndex());
        form.close();
    }
    QString fault;
    const auto stored = LoadSettings(file, &fault);
    ASSERT_TRUE(stored && stored->port);
    EXPECT_EQ(stored->port->name, "COM9");
}

// A board's UART is listed by its path and chosen again by it, whatever number this run
// gives it.
TEST(WindowSettings, ABoardUartIsKeptByItsPath)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    WindowRig rig;
    const std::filesystem::path root = rig.registry.Root();
    std::filesystem::create_directories(root / "sys" / "ttyAMA0" / "device");
    std::filesystem::create_directories(root / "dev");
    std::filesystem::create_symlink(rig.receiver->SlavePath(), root / "dev" / "ttyAMA0");
    platform::registry::SetLocation({root / "run", root / "sys", root / "dev", {}});
    const QString uart = QString::fromStdString((root / "dev" / "ttyAMA0").string());
    {
        TMainForm form(nullptr, new QuickCommX(nullptr));
        new SettingsKeeper(form, file);
        form.cbxPort->RefreshPortList();
        form.cbxPort->setCurrentIndex(form.cbxPort->findText(uart));
        emit form.cbxPort->activated(form.cbxPort->currentIndex());
        ASSERT_NE(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
        form.close();
    }
    QString fault;
    const auto stored = LoadSettings(file, &fault);
    ASSERT_TRUE(stored && stored->port) << fault.toStdString();
    EXPECT_EQ(stored->port->name, uart);

    TMainForm form(nullptr, new QuickCommX(nullptr));
    (new SettingsKeeper(form, file))->Apply(*stored);
    EXPECT_NE(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(form.cbxPort->currentText(), uart);
    EXPECT_TRUE(rig.messages.empty());
}

TEST(WindowSettings, PortThatHasGoneIsToldInTheStatusLineAndKept)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    WindowRig rig;
    // A USB adapter that is no longer plugged in; COM9 is now another device.
    StoredSettings stored = lineAndReceiver(115200, 20, 3);
    stored.port = PortIdentity{"COM9", "/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_gone-if00-port0"};
    TMainForm form;
    (new SettingsKeeper(form, file))->Apply(stored);
    // A box would come back at every start until the adapter is back.
    EXPECT_TRUE(rig.messages.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(form.StatusText(), "前回使ったポート COM9（/dev/serial/by-id/usb-FTDI_gone-if00-port0）"
                                 "が見つかりません。");
    EXPECT_EQ(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_LE(form.cbxPort->currentIndex(), 0);
    EXPECT_EQ(form.cbxBaudRate->currentText(), "115200");
    EXPECT_EQ(form.Timer->interval(), 20);
    form.close();
    // Kept for the run where the adapter is back.
    QString fault;
    const auto kept = LoadSettings(file, &fault);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->port, stored.port);
}

TEST(WindowSettings, BadValuesAreLeftOutAndTheRestKept)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    const struct {
        const char* content;
        const char* bad;
    } damaged[] = {
        {"[line]\nspeed=fast\ninterval=50\n", "line/speed"},
        {"[line]\nspeed=9600\ninterval=50\n", "line/speed"},
        {"[line]\ninterval=0\nspeed=625000\n", "line/interval"},
        {"[receiver]\nid=32\n[line]\ninterval=50\n", "receiver/id"},
        {"[port]\nname=ttyUSB0\ndevice=/dev/ttyUSB0\n[line]\ninterval=50\n", "port/name"},
        {"[port]\nname=COM3\n[line]\ninterval=50\n", "port/name"},
    };
    for (const auto& d : damaged) {
        writeFile(file, d.content);
        QString fault;
        const auto stored = LoadSettings(file, &fault);
        ASSERT_TRUE(stored) << d.content;
        EXPECT_EQ(fault, d.bad) << d.content;
        EXPECT_TRUE(stored->intervalMs || stored->bitRate) << d.content;
        EXPECT_FALSE(stored->port) << d.content;
    }

    // The window takes the good values and says which one it could not.
    writeFile(file, "[line]\nspeed=9600\ninterval=50\n[receiver]\nid=7\n");
    WindowRig rig;
    TMainForm form;
    auto* keeper = new SettingsKeeper(form, file);
    keeper->Apply(*keeper->Load());
    QCoreApplication::processEvents();
    EXPECT_EQ(form.Timer->interval(), 50);
    EXPECT_EQ(form.speID->Value(), 7);
    EXPECT_TRUE(form.StatusText().contains("line/speed")) << form.StatusText().toStdString();
    form.close();
    QString fault;
    EXPECT_EQ(LoadSettings(file, &fault)->intervalMs, 50);
}

TEST(WindowSettings, AFileThatCannotBeReadOrWrittenIsSaid)
{
    QTemporaryDir dir;
    WindowRig rig;
    {
        // A folder where the file should be: never written over, and said so.
        const QString file = dir.filePath("folder.conf");
        ASSERT_TRUE(QDir().mkpath(file));
        TMainForm form;
        auto* keeper = new SettingsKeeper(form, file);
        EXPECT_FALSE(keeper->Load());
        QCoreApplication::processEvents();
        EXPECT_TRUE(form.StatusText().contains("を読めません")) << form.StatusText().toStdString();
        WindowRig::Choose(form.cbxInterval, "50");
        form.close();
        EXPECT_TRUE(QFileInfo(file).isDir());
    }
    // A folder that cannot be made: the first failure to save is said in the window.
    TMainForm form;
    new SettingsKeeper(form, "/dev/null/zub3/ZUB3Manager.conf");
    WindowRig::Choose(form.cbxInterval, "50");
    QCoreApplication::processEvents();
    EXPECT_EQ(form.StatusText(), "設定を /dev/null/zub3/ZUB3Manager.conf に保存できません。");
    form.close();
}

TEST(WindowSettings, WindowsComeBackWhereTheyWere)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    WindowRig rig;
    const QRect chartGeometry(120, 90, 400, 300);
    {
        TMainForm form;
        QWidget chart;
        chart.setGeometry(chartGeometry);
        chart.show();
        new SettingsKeeper(form, file, &chart);
        form.move(30, 40);
        form.close();
    }
    TMainForm form;
    QWidget chart;
    (new SettingsKeeper(form, file, &chart))->Load();
    EXPECT_EQ(form.pos(), QPoint(30, 40));
    EXPECT_EQ(chart.geometry(), chartGeometry);

    // Not onto a screen that has gone.
    StoredSettings far;
    far.windowPos = QPoint(100000, 100000);
    ASSERT_TRUE(SaveSettings(file, far));
    TMainForm again;
    const QPoint designed = again.pos();
    (new SettingsKeeper(again, file))->Load();
    EXPECT_EQ(again.pos(), designed);
}

TEST(WindowSettings, HelpNamesTheFilesInUse)
{
    TempRegistry registry;
    auto location = platform::registry::CurrentLocation();
    location.portsFile = registry.Root() / "elsewhere" / "zub3" / "ports.conf";
    platform::registry::SetLocation(location);
    const QString help = WindowExtras::HelpText();
    EXPECT_TRUE(help.contains(QString::fromStdString(location.portsFile.string())));
    EXPECT_TRUE(help.contains(DefaultSettingsFile()));
}

TEST(WindowSettings, OtherKeysSurviveASave)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    QString fault;
    EXPECT_EQ(LoadSettings(dir.filePath("none.conf"), &fault), StoredSettings{});
    // Keys of other versions survive a save.
    writeFile(file, "[window]\nlanguage=en\n");
    ASSERT_TRUE(SaveSettings(file, lineAndReceiver(115200, 10, 0)));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("language=en"));
}

// A file with a line a save would drop or change is used as unreadable: said with the
// line's number, and left byte for byte as it was, the language choice included.
TEST(WindowSettings, AFileWithLinesItDoesNotUnderstandIsLeftAsItIs)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    const struct {
        QByteArray content;
        const char* said;
    } files[] = {
        {"[line]\ninterval=50\nspeed 625000\n", "3 行目に「=」がありません"},
        {"; kept by hand\n[line]\ninterval=50\n", "1 行目のコメントは保存すると消えます"},
        {"[line]\n\n  # the bench's receiver\ninterval=50\n", "3 行目のコメントは保存すると消えます"},
        {"[line]\ninterval=50\n\xC3\x28\xFF\xFE\x80\n", "3 行目が UTF-8 の文字ではありません"},
        {QByteArray("[line]\ninterval=5\0\x01", 19), "2 行目に制御文字があります"},
    };
    WindowRig rig;
    for (const auto& f : files) {
        SCOPED_TRACE(f.said);
        writeFile(file, f.content);
        QString fault;
        EXPECT_FALSE(LoadSettings(file, &fault));
        EXPECT_EQ(fault, f.said);

        TMainForm form;
        auto* keeper = new SettingsKeeper(form, file);
        EXPECT_FALSE(keeper->Load());
        QCoreApplication::processEvents();
        EXPECT_TRUE(form.StatusText().contains(f.said)) << form.StatusText().toStdString();
        WindowRig::Choose(form.cbxInterval, "20");
        EXPECT_FALSE(StoreLanguage(file, "en"));
        form.close();
        QFile kept(file);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), f.content);
    }
    // What QSettings writes itself is understood.
    ASSERT_TRUE(SaveSettings(file, {PortIdentity{"COM9", "/dev/ttyUSB0", {}}, 115200, 10, 0,
                                    QPoint(1, 2), QByteArray("\x01\xd9\0=\n;", 6)}));
    EXPECT_TRUE(StoreLanguage(file, "en"));
    QString fault;
    EXPECT_TRUE(LoadSettings(file, &fault)) << fault.toStdString();
}

// A port given for the run is used instead of the kept one, which is then not said to be
// missing, and is kept should the given one not open.
TEST(WindowSettings, APortGivenForTheRunLeavesTheKeptOneUnsought)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ZUB3Manager.conf");
    WindowRig rig;
    const StoredSettings stored{PortIdentity{"COM11", "/dev/ttyUSB0", {}}, 115200, 20, 3, {}, {}};
    TMainForm form;
    (new SettingsKeeper(form, file))->Apply(stored, true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.StatusText().contains("COM11")) << form.StatusText().toStdString();
    EXPECT_EQ(form.Timer->interval(), 20);
    form.close();
    QString fault;
    EXPECT_EQ(LoadSettings(file, &fault)->port, stored.port);
}
