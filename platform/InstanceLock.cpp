#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Paths.h"

std::string TInstanceLock::LockFilePath(const std::string& Name) { return RuntimeDir() + LockFileName(Name); }

bool TInstanceLock::Acquire(const std::string& Name) {
  Release();
  // $XDG_RUNTIME_DIR is the session's and there already; our settings folder, the fallback,
  // may still have to be made.
  if (RuntimeDir() == ConfigDir()) ForceDirectories(ConfigDir());
  return AcquireFile(LockFilePath(Name));
}

bool TInstanceLock::AcquireIn(const std::string& Dir, const std::string& Name) {
  Release();
  return AcquireFile((Dir.empty() || Dir.back() == '/' ? Dir : Dir + "/") + LockFileName(Name));
}

bool TInstanceLock::AcquireFile(const std::string& Path) {
  FError = 0;
  const int Fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (Fd < 0) {
    FError = errno;
    return false;
  }
  if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
    FError = errno;
    ::close(Fd);
    return false;
  }
  FFd = Fd;
  return true;
}

void TInstanceLock::Release() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}
