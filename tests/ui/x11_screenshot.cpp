// Saves the whole screen of the X display in DISPLAY as a PNG file (the smoke test's
// pictures for a person to look at).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: x11_screenshot FILE.png\n");
    return 2;
  }
  QGuiApplication App(argc, argv);
  QScreen* S = QGuiApplication::primaryScreen();
  return S && S->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
