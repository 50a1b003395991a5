#include "engine/store/StoreFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

bool TDiskStoreFiles::ForceDirectories(const std::string& Dir) { return ::ForceDirectories(Dir); }

bool TDiskStoreFiles::FileExists(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

bool TDiskStoreFiles::ReadFile(const std::string& Path, std::string& Data) {
  Data.clear();
  int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return false;
  struct stat St;
  if (::fstat(Fd, &St) == 0 && St.st_size > 0) Data.reserve(size_t(St.st_size));
  char Buf[65536];
  for (;;) {
    ssize_t N = ::read(Fd, Buf, sizeof Buf);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) {
      ::close(Fd);
      return false;
    }
    if (N == 0) break;
    Data.append(Buf, size_t(N));
  }
  ::close(Fd);
  return true;
}

bool TDiskStoreFiles::WriteFile(const std::string& Path, std::string_view Data, bool Sync, std::string& Error) {
  int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Fd < 0) {
    Error = std::strerror(errno);
    return false;
  }
  const char* P = Data.data();
  size_t Left = Data.size();
  while (Left > 0) {
    ssize_t N = ::write(Fd, P, Left);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) {
      Error = std::strerror(errno);
      ::close(Fd);
      return false;
    }
    P += N;
    Left -= size_t(N);
  }
  if (Sync && ::fdatasync(Fd) != 0) {
    Error = std::strerror(errno);
    ::close(Fd);
    return false;
  }
  if (::close(Fd) != 0) {
    Error = std::strerror(errno);
    return false;
  }
  return true;
}

bool TDiskStoreFiles::LinkFile(const std::string& Existing, const std::string& New) {
  return ::link(Existing.c_str(), New.c_str()) == 0;
}

bool TDiskStoreFiles::ReplaceFile(const std::string& Path, const std::string& Data) {
  return WriteFileAtomically(Path, Data);
}

namespace {

class TDiskJournalFile : public TJournalFile {
public:
  explicit TDiskJournalFile(int Fd) : FFd(Fd) {}
  ~TDiskJournalFile() override { ::close(FFd); }
  bool WriteAt(uint64_t Offset, const std::string& Data, std::string& Error) override {
    const char* P = Data.data();
    size_t Left = Data.size();
    while (Left > 0) {
      ssize_t N = ::pwrite(FFd, P, Left, off_t(Offset));
      if (N < 0 && errno == EINTR) continue;
      if (N < 0) {
        Error = std::strerror(errno);
        return false;
      }
      P += N;
      Left -= size_t(N);
      Offset += uint64_t(N);
    }
    return true;
  }
  bool Sync(std::string& Error) override {
    if (::fdatasync(FFd) == 0) return true;
    Error = std::strerror(errno);
    return false;
  }
  bool Truncate(uint64_t Size, std::string& Error) override {
    if (::ftruncate(FFd, off_t(Size)) == 0 && ::fsync(FFd) == 0) return true;
    Error = std::strerror(errno);
    return false;
  }

private:
  int FFd;
};

}  // namespace

bool TDiskStoreFiles::ListFiles(const std::string& Dir, std::vector<std::string>& Names) {
  Names.clear();
  DIR* D = ::opendir(Dir.c_str());
  if (!D) return false;
  while (dirent* E = ::readdir(D)) {
    if (E->d_type != DT_REG && E->d_type != DT_UNKNOWN && E->d_type != DT_LNK) continue;
    Names.emplace_back(E->d_name);
  }
  ::closedir(D);
  return true;
}

std::unique_ptr<TJournalFile> TDiskStoreFiles::OpenJournalFile(const std::string& Path, std::string& Error) {
  int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (Fd < 0) {
    Error = std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<TDiskJournalFile>(Fd);
}

bool TDiskStoreFiles::SyncDisk(const std::string& Dir) {
  int Fd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) return false;
  const bool Ok = ::syncfs(Fd) == 0;
  ::close(Fd);
  return Ok;
}

bool TDiskStoreFiles::SyncFiles(const std::vector<std::string>& Files, const std::vector<std::string>& Dirs) {
  // Start every write-out first: the disk then takes the whole batch in one go.
  std::vector<int> Fds;
  bool Ok = true;
  for (auto& F : Files) {
    int Fd = ::open(F.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0 && errno == ENOENT) continue;
    if (Fd < 0) {
      Ok = false;
      break;
    }
    ::sync_file_range(Fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    Fds.push_back(Fd);
  }
  for (int Fd : Fds) {
    if (Ok && ::fdatasync(Fd) != 0) Ok = false;
    ::close(Fd);
  }
  for (auto& D : Dirs)
    if (Ok && !::SyncDirectory(D)) Ok = false;
  return Ok;
}

bool TDiskStoreFiles::SyncDirectory(const std::string& Dir) { return ::SyncDirectory(Dir); }

bool TDiskStoreFiles::DeleteFile(const std::string& Path) { return ::unlink(Path.c_str()) == 0; }

TStoreFiles& DiskStoreFiles() {
  static TDiskStoreFiles Disk;
  return Disk;
}
