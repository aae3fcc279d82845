// SPDX-License-Identifier: GPL-3.0-or-later
// Screenshots without a desktop, where no screenshot tool is installed:
//   zub3shot screen FILE.png         the whole X screen
//   zub3shot window FILE.png         the main window monitoring a virtual receiver of its
//                                    own, with fixed buttons and channels (the README)
//   zub3shot window FILE.png COMn    the main window monitoring the receiver on COMn (the
//                                    run script, with the demo receiver)
//   zub3shot chart FILE.png          the window monitoring a demo receiver of its own with
//                                    the chart beside it, paused and scrolled back (the README)
//   zub3shot sticks FILE.png         the same with the sticks and link panel (the README)
// A trailing "--lang LANG" shows the window in that language.
#include "app/ChartWindow.h"
#include "app/StickView.h"
#include "app/Translation.h"
#include "app/WindowExtras.h"
#include "app/ZUB3Check.h"
#include "platform/SerialRegistry.h"
#include "sim/Controller.h"
#include "sim/VirtualReceiver.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Memo.h"
#include "toolkit/Shape.h"
#include "widgets/ComComboBox.h"
#include "widgets/PngSpeedButton.h"

#include <QApplication>
#include <QChart>
#include <QValueAxis>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

bool grabScreen(const QString& file)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->grabWindow(0).save(file, "PNG");
}

// The window as a user sees it a moment after choosing the port, reading the receiver's
// settings and switching monitoring on. False when nothing was received.
bool grabMonitoringWindow(const QString& file, int portNumber)
{
    SetApplicationTitle(QStringLiteral("ZUB-3 Manager"));
    TMainForm form;
    form.show();
    form.cbxPort->SetPortNo(portNumber);
    emit form.cbxPort->activated(form.cbxPort->currentIndex());
    QTest::mouseClick(form.btnRead, Qt::LeftButton);
    QTest::mousePress(form.shpPower, Qt::LeftButton);
    QElapsedTimer t;
    t.start();
    while (form.memRecv->toPlainText().isEmpty() && t.elapsed() < 5000)
        QTest::qWait(10);
    QTest::qWait(50);
    const bool received = !form.memRecv->toPlainText().isEmpty();
    const bool saved = form.grab().save(file, "PNG");
    QTest::mousePress(form.shpPower, Qt::LeftButton);
    form.close();
    return received && saved;
}

// With "↑", "←" and S2 held and the four channels apart.
bool grabWindow(const QString& file)
{
    namespace reg = platform::registry;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zub3shot-" + std::to_string(::getpid()));
    reg::SetLocation({dir, dir / "no-sys", "/dev", {}});
    zub3::sim::VirtualReceiver receiver(zub3::sim::VirtualReceiver::Config{});
    receiver.SetButtons(0x0001 | 0x0008 | 0x0400);
    const zub3::Byte channels[4] = {96, 40, 110, 64};
    for (int i = 0; i < 4; ++i)
        receiver.SetChannel(i, channels[i]);
    bool saved = false;
    {
        const reg::Registration port(0, receiver.SlavePath(), "zub3sim");
        saved = grabMonitoringWindow(file, port.PortNumber());
    }
    std::filesystem::remove_all(dir);
    return saved;
}

// The window polling the demo animation of a receiver of its own, with a panel beside it:
// "chart" after 16 s, with a moment of bad checksums, paused and scrolled back 4 s with
// the pointer over the plot; "sticks" after 8 s.
bool grabBeside(const QString& file, const QString& panel)
{
    namespace reg = platform::registry;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zub3shot-" + std::to_string(::getpid()));
    reg::SetLocation({dir, dir / "no-sys", "/dev", {}});
    zub3::sim::VirtualReceiver::Config config;
    config.playback = [](std::chrono::nanoseconds t) {
        return zub3::sim::DemoStateAt(std::chrono::duration_cast<std::chrono::milliseconds>(t));
    };
    zub3::sim::VirtualReceiver receiver(config);
    bool saved = false;
    {
        const reg::Registration port(0, receiver.SlavePath(), "zub3sim");
        SetApplicationTitle(QStringLiteral("ZUB-3 Manager"));
        TMainForm form;
        WindowExtras extras(form);
        form.move(10, 10);
        form.show();
        form.cbxPort->SetPortNo(port.PortNumber());
        emit form.cbxPort->activated(form.cbxPort->currentIndex());
        form.cbxBaudRate->setCurrentIndex(0);
        emit form.cbxBaudRate->activated(0);
        QTest::mousePress(form.shpPower, Qt::LeftButton);
        const bool chart = panel == QLatin1String("chart");
        QWidget& beside = chart ? static_cast<QWidget&>(extras.Chart()) : extras.Sticks();
        if (chart)
            beside.resize(760, form.frameGeometry().height());
        beside.move(form.frameGeometry().right() + 12, 10);
        beside.show();
        if (chart) {
            QTest::qWait(9000);
            zub3::sim::Faults garbled;
            garbled.badChecksum = true;
            receiver.SetFaults(garbled);
            QTest::qWait(400);
            receiver.SetFaults({});
            QTest::qWait(6600);
            ChartWindow& c = extras.Chart();
            c.SetPaused(true);
            c.ScrollTo(c.TimeAxis()->max() - 4);
            QTest::mouseMove(c.Plot(), c.Chart()->plotArea().center().toPoint() + QPoint(60, 0));
            QTest::qWait(300);
        } else {
            QTest::qWait(8000);
        }
        const QRect both = form.frameGeometry().united(beside.frameGeometry());
        saved = QGuiApplication::primaryScreen()
                    ->grabWindow(0, both.x(), both.y(), both.width(), both.height())
                    .save(file, "PNG");
        QTest::mousePress(form.shpPower, Qt::LeftButton);
        form.close();
    }
    std::filesystem::remove_all(dir);
    return saved;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc >= 3 && std::string(argv[argc - 2]) == "--lang") {
        InstallTranslation(app, QString::fromLocal8Bit(argv[argc - 1]));
        argc -= 2;
    }
    const QString mode = argc >= 3 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString port = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString();
    const int portNumber = port.isEmpty() ? 0 : platform::registry::PortNumber(port.toStdString());
    const bool portOk = port.isEmpty() || portNumber > 0;
    if (!(mode == QLatin1String("screen") && argc == 3) &&
        !(mode == QLatin1String("window") && argc <= 4 && portOk) &&
        !((mode == QLatin1String("chart") || mode == QLatin1String("sticks")) && argc == 3)) {
        std::fprintf(stderr, "usage: zub3shot screen FILE.png | window FILE.png [COMn] | "
                             "chart FILE.png | sticks FILE.png\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[2]);
    const bool done = mode == QLatin1String("screen")  ? grabScreen(file)
                      : mode == QLatin1String("window")
                          ? (port.isEmpty() ? grabWindow(file) : grabMonitoringWindow(file, portNumber))
                          : grabBeside(file, mode);
    if (!done) {
        std::fprintf(stderr, "zub3shot: cannot save %s\n", argv[2]);
        return 1;
    }
    return 0;
}
