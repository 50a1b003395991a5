#include "ui/common/EventSounds.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace {
class TSoundEffectPlayer : public TSoundPlayer {
public:
  void Play(const QString& WavFile) override {
    if (WavFile.isEmpty() || !QFileInfo(WavFile).isFile()) return;
    // Each sound owns itself and goes once it stopped or failed to load, so nothing
    // ever waits for it.
    auto* Effect = new QSoundEffect(QCoreApplication::instance());
    QObject::connect(Effect, &QSoundEffect::playingChanged, Effect, [Effect] {
      if (!Effect->isPlaying()) Effect->deleteLater();
    });
    QObject::connect(Effect, &QSoundEffect::statusChanged, Effect, [Effect] {
      if (Effect->status() == QSoundEffect::Error) Effect->deleteLater();
    });
    Effect->setSource(QUrl::fromLocalFile(WavFile));
    Effect->play();
  }
};

TSoundPlayer* Current = nullptr;
}  // namespace

TSoundPlayer& SoundPlayer() {
  static TSoundEffectPlayer Default;
  return Current ? *Current : Default;
}

void SetSoundPlayer(TSoundPlayer* Player) { Current = Player; }
