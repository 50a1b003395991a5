#pragma once
// The event sounds of the program (a mail sent, a mail failed). Playing never waits and
// never fails: a missing file or a machine without an audio device is simply silent.
// Tests put in a recorder so that nothing plays on the user's desktop.
#include <QString>

class TSoundPlayer {
public:
  virtual ~TSoundPlayer() = default;
  // Starts playing the WAV file and returns at once.
  virtual void Play(const QString& WavFile) = 0;
};

TSoundPlayer& SoundPlayer();
// Replaces the player (nullptr: the real one again). The caller keeps ownership.
void SetSoundPlayer(TSoundPlayer* Player);
