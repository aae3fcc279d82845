// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry: the command line, the application titled "ZUB-3 Manager", its one window
// with what is kept and offered around it, the event loop.
#include "app/ChartWindow.h"
#include "app/Notices.h"
#include "app/PortNotices.h"
#include "app/ProgramOptions.h"
#include "app/Recording.h"
#include "app/Translation.h"
#include "app/WindowExtras.h"
#include "app/WindowSettings.h"
#include "app/ZUB3Check.h"
#include "serial/CommX.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Shape.h"
#include "toolkit/SpinEdit.h"
#include "toolkit/TerminationSignals.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

// Qt aborts without a display it can reach: why there is none, or "" when there is one or
// none is needed (another platform chosen on purpose, offscreen or vnc).
std::string missingDisplay()
{
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    const QString platform = QString::fromLocal8Bit(std::getenv("QT_QPA_PLATFORM"));
    const QStringList names = platform.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& name : names)
        if (!name.startsWith(QLatin1String("xcb")) && !name.startsWith(QLatin1String("wayland")))
            return {};
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY"))
        return "DISPLAY/WAYLAND_DISPLAY unset";
    // X is what Qt takes unless Wayland is there: a DISPLAY naming no server is asked
    // first, for Qt would abort on it.
    const bool x11 = !set("WAYLAND_DISPLAY") ||
                     (!names.isEmpty() && names.front().startsWith(QLatin1String("xcb")));
    if (!x11)
        return {};
    if (!set("DISPLAY"))
        return "DISPLAY unset";
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reached ? std::string() : std::string("no X server answers at DISPLAY=") + std::getenv("DISPLAY");
}

// Once the window has closed the program ends, even from inside a message box's own loop
// (a window manager or the session's end destroys the window under the box).
class QuitOnClose : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide && !event->spontaneous())
            QCoreApplication::exit(0);
        return false;
    }
};

// --monitor: as a click on the switch, polling the ID the window shows. Nobody may be there
// to close a box: what stops it is said in the status line and on standard error.
void startMonitoring(TMainForm& form)
{
    const char* refusal = nullptr;
    const char* english = nullptr;
    const auto speed = zub3::LineSpeedByIndex(form.cbxBaudRate->currentIndex());
    if (form.ComPort->Handle() == INVALID_HANDLE_VALUE) {
        refusal = QT_TRANSLATE_NOOP("TMainForm", "ポートが接続されていません。");
        english = "no port is open";
    } else if (!speed) {
        refusal = QT_TRANSLATE_NOOP("TMainForm", "ボーレート設定が正しくないか、設定されていません。");
        english = "no line speed is chosen";
    }
    if (refusal) {
        ShowNotice(form, QCoreApplication::translate("TMainForm", refusal), false);
        std::fprintf(stderr, "ZUB3Manager: cannot start monitoring: %s\n", english);
        return;
    }
    form.CurrentID = static_cast<std::uint8_t>(form.speID->Value());
    form.LineSpeedCode = speed->code;
    RunGuarded([&] { form.shpPowerMouseDown(form.shpPower, Qt::LeftButton, {}, 0, 0); });
}

// --port, --speed and --id: chosen over what was kept, as the user would in the window.
void chooseGiven(TMainForm& form, const ProgramOptions& options)
{
    if (options.portNo && !ChoosePort(form, *options.portNo)) {
        const QString name = QStringLiteral("COM%1").arg(*options.portNo);
        ShowNotice(form, QCoreApplication::translate("TMainForm", "ポート %1 が見つかりません。").arg(name),
                   false);
        std::fprintf(stderr, "ZUB3Manager: --port: %s is not a port this system lists\n",
                     qPrintable(name));
    }
    if (options.id)
        form.speID->SetValue(*options.id);
    if (options.bitRate)
        ChooseNumber(form.cbxBaudRate, *options.bitRate);
}

}  // namespace

int main(int argc, char** argv)
{
    const ProgramStart start = ReadProgramOptions({argv + 1, argv + argc});
    if (!start.options)
        return start.exitStatus;
    const ProgramOptions& options = *start.options;
    // A recording into a pipe whose reader has gone fails as a write, not as a kill.
    std::signal(SIGPIPE, SIG_IGN);

    // A file that cannot be recorded into is the first thing to say, display or not.
    if (!options.record.isEmpty()) {
        if (const QString why = Recording::Refusal(options.record, options.overwrite);
            !why.isEmpty()) {
            const QFileInfo target(options.record);
            const bool exists = !options.overwrite && target.exists() && !target.isDir();
            std::fprintf(stderr, "ZUB3Manager: cannot record: %s%s\n", qPrintable(why),
                         exists ? " (--overwrite replaces it)" : "");
            return 1;
        }
    }
    if (const std::string why = missingDisplay(); !why.empty()) {
        std::fprintf(stderr, "ZUB3Manager: no display (%s); zub3ctl works without one\n",
                     why.c_str());
        return 1;
    }

    QApplication application(argc, argv);
    const QString settingsFile = DefaultSettingsFile();
    // The language asked for, else the one chosen last time (unless starting afresh).
    QString language = options.language;
    if (language.isEmpty() && !options.fresh)
        language = StoredLanguage(settingsFile);
    InstallTranslation(application, language);
    SetApplicationTitle(QStringLiteral("ZUB-3 Manager"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/appicon/%1x%1/apps/zub3-manager.png").arg(size));
    application.setWindowIcon(icon);
    application.setDesktopFileName(QStringLiteral("zub3-manager"));  // the entry's icon on Wayland

    TMainForm MainForm;
    CloseOnTerminationSignals(&MainForm);
    new PortNotices(MainForm);  // the form's child
    WindowExtras extras(MainForm, settingsFile);
    if (!options.record.isEmpty()) {
        try {
            extras.StartRecording(options.record, options.overwrite);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ZUB3Manager: cannot record: %s\n", e.what());
            return 1;
        }
    }
    // A fresh start neither reads nor writes what is kept.
    SettingsKeeper* settings =
        options.fresh ? nullptr : new SettingsKeeper(MainForm, settingsFile, &extras.Chart());
    const auto stored = settings ? settings->Load() : std::nullopt;
    MainForm.installEventFilter(new QuitOnClose(&MainForm));
    MainForm.show();
    // Once the window is up, so that a refusal to open the port shows over it.
    QTimer::singleShot(0, &MainForm, [&] {
        if (stored)
            settings->Apply(*stored, options.portNo.has_value());
        chooseGiven(MainForm, options);
        if (options.monitor)
            startMonitoring(MainForm);
    });
    return application.exec();
}
