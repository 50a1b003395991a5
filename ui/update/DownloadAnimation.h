#pragma once
// The download window's animation: a package dropping into a tray, painted frame by frame.
// Stopped, it shows its stop frame.
#include <QWidget>

class QTimer;

class TDownloadAnimation : public QWidget {
  Q_OBJECT
public:
  static constexpr int FrameCount = 35;
  static constexpr int StopFrame = 34;

  explicit TDownloadAnimation(QWidget* Parent = nullptr);
  void Play();
  void Stop();
  bool Playing() const;
  int Frame() const { return FFrame; }

protected:
  void paintEvent(QPaintEvent* E) override;

private:
  QTimer* FTimer = nullptr;
  int FFrame = StopFrame;
};
