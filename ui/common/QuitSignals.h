#pragma once
// SIGTERM, SIGINT and SIGHUP as a Qt signal on the GUI thread. The handler only writes a
// byte to a pipe; a socket notifier on the pipe's other end does the rest.
#include <QObject>

class QSocketNotifier;

class TQuitSignals : public QObject {
  Q_OBJECT
public:
  explicit TQuitSignals(QObject* Parent = nullptr);
  ~TQuitSignals() override;

signals:
  void Received(int Signal);

private:
  QSocketNotifier* FNotifier = nullptr;
};
