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
  return Pix;
}
}  // namespace

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
