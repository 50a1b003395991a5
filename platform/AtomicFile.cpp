#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace {
std::atomic<unsigned> TempCounter{0};

std::string FolderOf(const std::string& Path) {
  const auto Slash = Path.rfind('/');
  return Slash == std::string::npos ? std::string(".") : Path.substr(0, Slash + 1);
}
}  // namespace

TAtomicFile::TAtomicFile(std::string Path, unsigned Mode) : FPath(std::move(Path)) {
  FTempPath = FPath + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(TempCounter++);
  FFd = ::open(FTempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(Mode));
}

TAtomicFile::~TAtomicFile() {
  if (FFd >= 0) {
    ::close(FFd);
    ::unlink(FTempPath.c_str());
  }
}

bool TAtomicFile::Write(const void* Data, size_t Size) {
  if (FFd < 0 || FFailed) return false;
  const char* P = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t N = ::write(FFd, P, Size);
    if (N < 0) {
      if (errno == EINTR) continue;
      FFailed = true;
      return false;
    }
    P += N;
    Size -= static_cast<size_t>(N);
  }
  return true;
}

void TAtomicFile::StartWriteback() {
  if (FFd >= 0 && !FFailed) ::sync_file_range(FFd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool TAtomicFile::Commit() {
  if (FFd < 0 || FFailed) return false;
  if (::fsync(FFd) != 0) return false;
  if (::close(FFd) != 0) {
    FFd = -1;
    ::unlink(FTempPath.c_str());
    return false;
  }
  FFd = -1;
  if (std::rename(FTempPath.c_str(), FPath.c_str()) != 0) {
    ::unlink(FTempPath.c_str());
    return false;
  }
  return SyncDirectory(FolderOf(FPath));
}

bool WriteFileAtomically(const std::string& Path, const std::string& Data, unsigned Mode) {
  TAtomicFile F(Path, Mode);
  return F.Write(Data) && F.Commit();
}

bool SyncDirectory(const std::string& Dir) {
  const int Fd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) return false;
  const bool Ok = ::fsync(Fd) == 0;
  ::close(Fd);
  return Ok;
}
