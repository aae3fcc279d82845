// Program entry: the application titled "ZUB-3 Manager", its one window, the event loop.
#include "app/ZUB3Check.h"
#include "toolkit/Dialogs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    SetApplicationTitle(QStringLiteral("ZUB-3 Manager"));
    TMainForm MainForm;
    MainForm.show();
    return application.exec();
}
