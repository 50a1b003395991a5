#pragma once
// Plays the program's event sounds (.wav files) without waiting for them. The player is
// replaceable, so tests can record what would have been played.
#include <QString>

class TSoundPlayer {
public:
  virtual ~TSoundPlayer() = default;
  // Starts WavFile and returns at once; a missing file or no audio device is silent.
  virtual void Play(const QString& WavFile) = 0;
};

// The player in force: the one set last, else one that plays through QSoundEffect.
TSoundPlayer& SoundPlayer();
// nullptr goes back to the QSoundEffect player.
void SetSoundPlayer(TSoundPlayer* Player);
