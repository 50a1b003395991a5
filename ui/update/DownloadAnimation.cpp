#include "ui/update/DownloadAnimation.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

TDownloadAnimation::TDownloadAnimation(QWidget* Parent) : QWidget(Parent) {
  FTimer = new QTimer(this);
  FTimer->setInterval(60);
  connect(FTimer, &QTimer::timeout, this, [this] {
    FFrame = (FFrame + 1) % FrameCount;
    update();
  });
}

void TDownloadAnimation::Play() {
  FFrame = 0;
  FTimer->start();
  update();
}

void TDownloadAnimation::Stop() {
  FTimer->stop();
  FFrame = StopFrame;
  update();
}

bool TDownloadAnimation::Playing() const { return FTimer->isActive(); }

void TDownloadAnimation::paintEvent(QPaintEvent*) {
  QPainter P(this);
  P.setRenderHint(QPainter::Antialiasing);
  const QRectF R = QRectF(rect()).adjusted(2, 2, -2, -2);
  // A globe on the left, a tray on the right, and the package travelling between them.
  const QRectF Globe(R.left(), R.center().y() - R.height() * 0.35, R.height() * 0.7, R.height() * 0.7);
  P.setPen(QPen(QColor(0x1f, 0x4e, 0x99), 1.5));
  P.setBrush(QColor(0xcf, 0xe2, 0xff));
  P.drawEllipse(Globe);
  P.drawLine(QPointF(Globe.left(), Globe.center().y()), QPointF(Globe.right(), Globe.center().y()));
  P.drawEllipse(Globe.adjusted(Globe.width() * 0.3, 0, -Globe.width() * 0.3, 0));

  const QRectF Tray(R.right() - R.height() * 0.8, R.bottom() - R.height() * 0.35, R.height() * 0.8, R.height() * 0.3);
  QPainterPath TrayPath;
  TrayPath.moveTo(Tray.topLeft());
  TrayPath.lineTo(Tray.bottomLeft());
  TrayPath.lineTo(Tray.bottomRight());
  TrayPath.lineTo(Tray.topRight());
  P.setPen(QPen(QColor(0x40, 0x40, 0x40), 2));
  P.setBrush(Qt::NoBrush);
  P.drawPath(TrayPath);

  // Frames 0..StopFrame move the package along an arc; the stop frame has it in the tray.
  const double T = double(FFrame) / double(StopFrame);
  const QPointF From(Globe.right(), Globe.center().y());
  const QPointF To(Tray.center().x(), Tray.bottom() - 6);
  const QPointF Mid((From.x() + To.x()) / 2, R.top() + 4);
  const double U = 1 - T;
  const QPointF At = U * U * From + 2 * U * T * Mid + T * T * To;
  const double S = R.height() * 0.22;
  P.setPen(QPen(QColor(0x7a, 0x4a, 0x10), 1));
  P.setBrush(QColor(0xe8, 0xb0, 0x5a));
  P.drawRect(QRectF(At.x() - S / 2, At.y() - S / 2, S, S));
  P.drawLine(QPointF(At.x() - S / 2, At.y()), QPointF(At.x() + S / 2, At.y()));
}
