// Saves a picture of the whole X screen as PNG: the run script's screenshot on a display
// without a desktop (Xvfb), where no screenshot tool is installed.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zub3shot <file.png>\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "zub3shot: cannot grab the screen into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
