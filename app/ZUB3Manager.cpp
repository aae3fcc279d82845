// Program entry: the application titled "ZUB-3 Manager", its one window, the event loop.
#include "app/ZUB3Check.h"
#include "toolkit/Dialogs.h"
#include "toolkit/TerminationSignals.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
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
