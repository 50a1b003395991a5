#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/Paths.h"

std::string TInstanceLock::LockFilePath(const std::string& Name) { return RuntimeDir() + "quillon-" + Name + ".lock"; }

bool TInstanceLock::Acquire(const std::string& Name) {
  Release();
  const std::string Dir = RuntimeDir();
  ForceDirectories(Dir);
  const int Fd = ::open(LockFilePath(Name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (Fd < 0) return false;
  if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
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
