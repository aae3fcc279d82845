// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry: the command line, the application titled "ZUB-3 Manager", its one window
// with what is kept and offered around it, the event loop.
#include "app/PortNotices.h"
#include "app/ProgramOptions.h"
#include "app/Translation.h"
#include "app/WindowExtras.h"
#include "app/WindowSettings.h"
#include "app/ZUB3Check.h"
#include "toolkit/Dialogs.h"
#include "toolkit/TerminationSignals.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    const ProgramStart start = ReadProgramOptions({argv + 1, argv + argc});
    if (!start.options)
        return start.exitStatus;
    // A recording into a pipe whose reader has gone fails as a write, not as a kill.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication application(argc, argv);
    const QString settingsFile = DefaultSettingsFile();
    // The language asked for, else the one chosen last time (unless starting afresh).
    QString language = start.options->language;
    if (language.isEmpty() && !start.options->fresh)
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
    if (!start.options->record.isEmpty()) {
        try {
            extras.StartRecording(start.options->record);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ZUB3Manager: cannot record: %s\n", e.what());
            return 1;
        }
    }
    std::optional<StoredSettings> stored;
    if (!start.options->fresh) {
        QString fault;
        stored = LoadSettings(settingsFile, &fault);
        if (!stored)
            std::fprintf(stderr, "ZUB3Manager: ignoring %s: %s\n", qPrintable(settingsFile),
                         qPrintable(fault));
    }
    auto* settings = new SettingsKeeper(MainForm, settingsFile);
    MainForm.show();
    // Once the window is up, so that a refusal to open the port shows over it.
    if (stored)
        QTimer::singleShot(0, settings, [settings, s = *stored] { settings->Apply(s); });
    return application.exec();
}
