#pragma once
// Helpers of the tests that drive modal windows: act once a window is up (its modal run has
// begun), and keep a picture of a window in the build folder for a person to look at.
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <memory>

// Runs Act on the GUI thread as soon as Ready holds, checking every few milliseconds from
// the event loop that is running then (a modal window's own). Gives up after TimeoutMs.
inline void WhenReady(std::function<bool()> Ready, std::function<void()> Act, int TimeoutMs = 10000) {
  auto* T = new QTimer(qApp);
  auto Left = std::make_shared<int>(TimeoutMs / 5);
  QObject::connect(T, &QTimer::timeout, [T, Ready, Act, Left] {
    if (Ready()) {
      T->stop();
      T->deleteLater();
      Act();
    } else if (--*Left <= 0) {
      T->stop();
      T->deleteLater();
    }
  });
  T->start(5);
}

// Runs Act once W is shown as the active modal window.
inline void WhenShown(QWidget* W, std::function<void()> Act) {
  WhenReady([W] { return W->isVisible() && QApplication::activeModalWidget() == W; }, std::move(Act));
}

// The build folder's screenshots/ (beside bin/); outside ctest a folder in /tmp.
inline void SaveScreenshot(QWidget* W, const QString& Name) {
  const char* Bin = std::getenv("QUILLON_TEST_BIN");
  const QString Dir = Bin ? QString::fromLocal8Bit(Bin) + QStringLiteral("/../screenshots")
                          : QDir::tempPath() + QStringLiteral("/quillon-screenshots");
  QDir().mkpath(Dir);
  W->grab().save(Dir + QLatin1Char('/') + Name + QStringLiteral(".png"));
}
