// Saves the whole screen of the X display in DISPLAY, or one window of it, as a PNG file
// (the smoke test's pictures for a person to look at). With a colour it also prints how
// many pixels of the picture are close to that colour, so a script can tell whether
// something of that colour appeared.
//   x11_screenshot FILE.png [WINDOW_ID [RRGGBB]]
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: x11_screenshot FILE.png [WINDOW_ID [RRGGBB]]\n");
    return 2;
  }
  QGuiApplication App(argc, argv);
  QScreen* S = QGuiApplication::primaryScreen();
  if (!S) return 1;
  const WId Window = argc > 2 ? static_cast<WId>(std::strtoull(argv[2], nullptr, 0)) : 0;
  const QPixmap Shot = S->grabWindow(Window);
  if (Shot.isNull() || !Shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) return 1;
  if (argc > 3) {
    const QColor Want(QStringLiteral("#") + QString::fromLatin1(argv[3]));
    const QImage Image = Shot.toImage().convertToFormat(QImage::Format_RGB32);
    long Count = 0;
    for (int Y = 0; Y < Image.height(); ++Y)
      for (int X = 0; X < Image.width(); ++X) {
        const QColor C = Image.pixelColor(X, Y);
        if (std::abs(C.red() - Want.red()) + std::abs(C.green() - Want.green()) + std::abs(C.blue() - Want.blue()) < 60)
          ++Count;
      }
    std::printf("%ld\n", Count);
  }
  return 0;
}
