// quenbril-screengrab FILE.png: saves the whole screen of $DISPLAY as a PNG, for looking at the
// application under a headless X server (xvfb-run). A test and demo helper, not installed.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quenbril-screengrab FILE.png\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return 1;
    QPixmap shot = screen->grabWindow(0);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "quenbril-screengrab: no picture saved\n");
        return 1;
    }
    return 0;
}
