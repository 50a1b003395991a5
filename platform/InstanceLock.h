#pragma once
// One running copy per user: an exclusive flock() on a lock file named after the lock.
// The kernel drops the lock when the process ends, so a crashed copy never blocks the next.
#include <string>

class TInstanceLock {
public:
  TInstanceLock() = default;
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;
  ~TInstanceLock() { Release(); }

  // False when another process holds the lock (or the lock file cannot be made).
  bool Acquire(const std::string& Name);
  void Release();
  bool Held() const { return FFd >= 0; }
  static std::string LockFilePath(const std::string& Name);

private:
  int FFd = -1;
};
