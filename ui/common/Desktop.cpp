#include "ui/common/Desktop.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace {
class TSystemDesktop : public TDesktop {
public:
  bool OpenUrl(const QUrl& Url) override { return QDesktopServices::openUrl(Url); }

  // QDesktopServices starts the opener detached and never learns whether it failed; xdg-open
  // returns once it has handed the file to the desktop's handler, so its exit status says.
  bool OpenFile(const QString& Path) override {
    const QString Opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (Opener.isEmpty()) return false;
    QProcess P;
    // Its complaints belong on our terminal; it has nothing to read.
    P.setProcessChannelMode(QProcess::ForwardedChannels);
    P.setStandardInputFile(QProcess::nullDevice());
    P.start(Opener, {QFileInfo(Path).absoluteFilePath()});
    if (!P.waitForStarted()) return false;
    QEventLoop Loop;
    QTimer Limit;
    Limit.setSingleShot(true);
    QObject::connect(&P, &QProcess::finished, &Loop, &QEventLoop::quit);
    QObject::connect(&Limit, &QTimer::timeout, &Loop, &QEventLoop::quit);
    Limit.start(OpenerTimeLimitMs());
    // A quit of the program ends this loop too; the opener is then given up.
    if (P.state() != QProcess::NotRunning) Loop.exec();
    if (P.state() != QProcess::NotRunning) {
      P.kill();
      P.waitForFinished();
      return false;
    }
    return P.exitStatus() == QProcess::NormalExit && P.exitCode() == 0;
  }
};

TDesktop* Replacement = nullptr;
}  // namespace

TDesktop& Desktop() {
  static TSystemDesktop System;
  return Replacement ? *Replacement : System;
}

void SetDesktop(TDesktop* D) { Replacement = D; }

int& OpenerTimeLimitMs() {
  static int Limit = DefaultOpenerTimeLimitMs;
  return Limit;
}
