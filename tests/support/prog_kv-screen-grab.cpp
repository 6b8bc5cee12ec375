// kv-screen-grab OUT.png: saves the whole primary screen of the X display in DISPLAY, as another
// process sees it (the windows of the programs under test included).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kv-screen-grab OUT.png\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "kv-screen-grab: no screen\n");
        return 1;
    }
    const QPixmap shot = screen->grabWindow(0);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "kv-screen-grab: could not grab or write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
