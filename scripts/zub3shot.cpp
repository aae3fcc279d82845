// Screenshots without a desktop, where no screenshot tool is installed:
//   zub3shot screen FILE.png   the whole X screen (the run script under Xvfb)
//   zub3shot window FILE.png   the main window monitoring a virtual receiver (the README)
#include "app/ZUB3Check.h"
#include "platform/SerialRegistry.h"
#include "sim/VirtualReceiver.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Shape.h"
#include "widgets/ComComboBox.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace {

bool grabScreen(const QString& file)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->grabWindow(0).save(file, "PNG");
}

// The window as a user sees it a moment after switching monitoring on, with "↑", "←" and
// S2 held and the four channels apart.
bool grabWindow(const QString& file)
{
    namespace reg = platform::registry;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zub3shot-" + std::to_string(::getpid()));
    reg::SetLocation({dir, dir / "no-sys", "/dev"});
    zub3::sim::VirtualReceiver receiver(zub3::sim::VirtualReceiver::Config{});
    receiver.SetButtons(0x0001 | 0x0008 | 0x0400);
    const zub3::Byte channels[4] = {96, 40, 110, 64};
    for (int i = 0; i < 4; ++i)
        receiver.SetChannel(i, channels[i]);
    bool saved = false;
    {
        const reg::Registration port(0, receiver.SlavePath(), "zub3sim");
        SetApplicationTitle(QStringLiteral("ZUB-3 Manager"));
        TMainForm form;
        form.show();
        form.cbxPort->SetPortNo(port.PortNumber());
        emit form.cbxPort->activated(form.cbxPort->currentIndex());
        form.cbxBaudRate->setCurrentIndex(0);
        emit form.cbxBaudRate->activated(0);
        QTest::mousePress(form.shpPower, Qt::LeftButton);
        QElapsedTimer t;
        t.start();
        while (receiver.GetCounters().polls < 5 && t.elapsed() < 5000)
            QTest::qWait(10);
        QTest::qWait(50);
        saved = form.grab().save(file, "PNG");
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
    const QString mode = argc == 3 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode != QLatin1String("screen") && mode != QLatin1String("window")) {
        std::fprintf(stderr, "usage: zub3shot screen|window FILE.png\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[2]);
    if (!(mode == QLatin1String("screen") ? grabScreen(file) : grabWindow(file))) {
        std::fprintf(stderr, "zub3shot: cannot save %s\n", argv[2]);
        return 1;
    }
    return 0;
}
