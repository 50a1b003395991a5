#include "ui/common/EventSounds.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

namespace {
class TSystemSoundPlayer : public TSoundPlayer {
public:
  void Play(const QString& WavFile) override {
    // One effect for the program's lifetime, owned by the application so that it goes
    // before the audio system does. It loads and plays in the background; its status and
    // isPlaying() are never waited for.
    if (!FEffect) {
      if (!QCoreApplication::instance()) return;
      FEffect = new QSoundEffect(QCoreApplication::instance());
    }
    const QUrl Source = QUrl::fromLocalFile(WavFile);
    if (FEffect->source() != Source) FEffect->setSource(Source);
    FEffect->play();
  }

private:
  QPointer<QSoundEffect> FEffect;
};

TSoundPlayer* Replacement = nullptr;
}  // namespace

TSoundPlayer& SoundPlayer() {
  static TSystemSoundPlayer System;
  return Replacement ? *Replacement : System;
}

void SetSoundPlayer(TSoundPlayer* Player) { Replacement = Player; }
