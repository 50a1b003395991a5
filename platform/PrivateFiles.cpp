#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
// Takes group and others' bits from Path when it is of the kind wanted and ours; a link is
// never followed (it may lead to a folder of someone else's).
bool CloseToOthers(const std::string& Path, bool Folder) {
  struct stat St;
  if (::lstat(Path.c_str(), &St) != 0) return false;
  if (Folder ? !S_ISDIR(St.st_mode) : !S_ISREG(St.st_mode)) {
    errno = Folder ? ENOTDIR : EINVAL;
    return false;
  }
  if (St.st_uid != ::geteuid()) {
    errno = EPERM;
    return false;
  }
  return (St.st_mode & 077) == 0 || ::chmod(Path.c_str(), St.st_mode & 07700) == 0;
}
}  // namespace

bool MakePrivateFolder(const std::string& Folder) {
  std::string Dir = Folder;
  while (Dir.size() > 1 && Dir.back() == '/') Dir.pop_back();
  for (size_t Slash = Dir.find('/', 1);; Slash = Dir.find('/', Slash + 1)) {
    const std::string Part = Dir.substr(0, Slash);
    if (::mkdir(Part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (Slash == std::string::npos) break;
  }
  return CloseToOthers(Dir, true);
}

bool MakePrivateFile(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (Fd >= 0) return ::close(Fd) == 0;
  return errno == EEXIST && CloseToOthers(Path, false);
}
