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

  // False when another process holds the lock (or the lock file cannot be made); Error()
  // then tells which (EWOULDBLOCK: held by another process).
  bool Acquire(const std::string& Name);
  // The same with the lock file in the folder Dir (which must exist) instead.
  bool AcquireIn(const std::string& Dir, const std::string& Name);
  void Release();
  bool Held() const { return FFd >= 0; }
  int Error() const { return FError; }
  static std::string LockFilePath(const std::string& Name);
  static std::string LockFileName(const std::string& Name) { return "quillon-" + Name + ".lock"; }

private:
  bool AcquireFile(const std::string& Path);
  int FFd = -1;
  int FError = 0;
};
