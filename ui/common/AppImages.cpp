#include "ui/common/AppImages.h"

#include <QPainter>
#include <QPainterPath>

namespace {
QColor MarkColour(TMarkColour Mark) {
  switch (Mark) {
    case TMarkColour::Green: return QColor(0, 160, 60);
    case TMarkColour::Grey: return QColor(130, 130, 130);
    case TMarkColour::Yellow: return QColor(230, 190, 0);
    case TMarkColour::Orange: return QColor(240, 130, 0);
    case TMarkColour::Red: return QColor(220, 30, 30);
    case TMarkColour::Sending: return QColor(255, 190, 90);
    case TMarkColour::None: break;
  }
  return Qt::transparent;
}

void PaintEnvelope(QPainter& P, const QRectF& R) {
  P.setRenderHint(QPainter::Antialiasing);
  P.setPen(QPen(QColor(30, 70, 140), R.width() / 16));
  P.setBrush(QColor(235, 242, 255));
  P.drawRoundedRect(R, R.width() / 14, R.width() / 14);
  QPainterPath Flap;
  Flap.moveTo(R.topLeft());
  Flap.lineTo(R.center().x(), R.top() + R.height() * 0.6);
  Flap.lineTo(R.topRight());
  P.setBrush(Qt::NoBrush);
  P.drawPath(Flap);
}

QPixmap Envelope(int Size, TMarkColour Mark) {
  QPixmap Pix(Size, Size);
  Pix.fill(Qt::transparent);
  QPainter P(&Pix);
  PaintEnvelope(P, QRectF(Size * 0.06, Size * 0.2, Size * 0.88, Size * 0.6));
  if (Mark != TMarkColour::None) {
    P.setPen(QPen(Qt::white, Size / 20.0));
    P.setBrush(MarkColour(Mark));
    P.drawEllipse(QRectF(Size * 0.52, Size * 0.52, Size * 0.46, Size * 0.46));
  }
  if (Mark == TMarkColour::Sending || Mark == TMarkColour::Orange) {
    // An arrow on the mark: mail on its way.
    const qreal C = Size * 0.75, R = Size * 0.13;
    QPainterPath Arrow;
    Arrow.moveTo(C - R, C - R * 0.4);
    Arrow.lineTo(C, C - R * 0.4);
    Arrow.lineTo(C, C - R);
    Arrow.lineTo(C + R, C);
    Arrow.lineTo(C, C + R);
    Arrow.lineTo(C, C + R * 0.4);
    Arrow.lineTo(C - R, C + R * 0.4);
    Arrow.closeSubpath();
    P.setPen(Qt::NoPen);
    P.setBrush(Qt::white);
    P.drawPath(Mark == TMarkColour::Orange ? Arrow : Arrow.translated(R * 0.5, 0));
  }
  return Pix;
}
}  // namespace

// Outside any namespace, as the resource macro needs.
static void InitImageResources() { Q_INIT_RESOURCE(images); }

QIcon ThemeIcon(const char* ThemeName, const char* Own) {
  static const bool Loaded = (InitImageResources(), true);
  (void)Loaded;
  return QIcon::fromTheme(QString::fromLatin1(ThemeName),
                          QIcon(QStringLiteral(":/images/%1.svg").arg(QString::fromLatin1(Own))));
}

std::array<QIcon, 4> StateImages() {
  return {ThemeIcon("mail-send", "state-sending"), ThemeIcon("appointment-soon", "state-waiting"),
          ThemeIcon("dialog-error", "state-failed"), ThemeIcon("emblem-default", "state-sent")};
}

std::array<QIcon, 4> CategoryImages() {
  return {ThemeIcon("folder-mail", "category-all"), ThemeIcon("mail-folder-outbox", "category-queue"),
          ThemeIcon("mail-folder-sent", "category-sent"), ThemeIcon("mail-mark-important", "category-failed")};
}

std::vector<QIcon> TrayImagesNormal() {
  return {EnvelopeIcon(TMarkColour::Green), EnvelopeIcon(TMarkColour::Grey), EnvelopeIcon(TMarkColour::Yellow)};
}

// Running: the mark swings between orange and a lighter orange, with an arrow on the envelope.
std::vector<QIcon> TrayImagesRunning() { return {EnvelopeIcon(TMarkColour::Orange), EnvelopeIcon(TMarkColour::Sending)}; }

// Error: the red mark blinks on and off.
std::vector<QIcon> TrayImagesError() { return {EnvelopeIcon(TMarkColour::Red), EnvelopeIcon(TMarkColour::None)}; }

QIcon EnvelopeIcon(TMarkColour Mark) {
  QIcon Icon;
  for (int Size : {16, 22, 24, 32, 48, 64}) Icon.addPixmap(Envelope(Size, Mark));
  return Icon;
}

QPixmap AboutPicture(int Width, int Height) {
  QPixmap Pix(Width, Height);
  Pix.fill(QColor(30, 70, 140));
  QPainter P(&Pix);
  const qreal S = Width * 0.8;
  PaintEnvelope(P, QRectF((Width - S) / 2, Height * 0.2, S, S * 0.68));
  return Pix;
}
