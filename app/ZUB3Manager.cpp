// Program entry: the application titled "ZUB-3 Manager", its one window, the event loop.
#include "app/Translation.h"
#include "app/ZUB3Check.h"
#include "toolkit/Dialogs.h"
#include "toolkit/TerminationSignals.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // --lang LANG (or --lang=LANG) over the language chosen in the window last time.
    QString language = StoredLanguage();
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--lang") && i + 1 < arguments.size())
            language = arguments[++i];
        else if (arguments[i].startsWith(QStringLiteral("--lang=")))
            language = arguments[i].mid(7);
    }
    InstallTranslation(application, language);
    SetApplicationTitle(QStringLiteral("ZUB-3 Manager"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/appicon/%1x%1/apps/zub3-manager.png").arg(size));
    application.setWindowIcon(icon);
    application.setDesktopFileName(QStringLiteral("zub3-manager"));  // the entry's icon on Wayland
    TMainForm MainForm;
    CloseOnTerminationSignals(&MainForm);
    MainForm.show();
    return application.exec();
}
