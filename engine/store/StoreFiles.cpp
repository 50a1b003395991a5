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

bool TStoreFiles::ReadFile(const std::string& Path, std::string& Data, std::string& Error) {
  if (ReadFile(Path, Data)) return true;
  Error = std::strerror(FileExists(Path) ? EIO : ENOENT);
  return false;
}

int64_t TStoreFiles::ModifiedTime(const std::string& Path) {
  struct stat St;
  if (::stat(Path.c_str(), &St) != 0) return -1;
  return int64_t(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec;
}

bool TStoreFiles::RenameFile(const std::string& From, const std::string& To, std::string& Error) {
  (void)From, (void)To;
  Error = std::strerror(ENOSYS);
  return false;
}

bool TDiskStoreFiles::ReadFile(const std::string& Path, std::string& Data) {
  std::string Ignored;
  return ReadFile(Path, Data, Ignored);
}

bool TDiskStoreFiles::ReadFile(const std::string& Path, std::string& Data, std::string& Error) {
  Data.clear();
  int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) {
    Error = std::strerror(errno);
    return false;
  }
  struct stat St;
  if (::fstat(Fd, &St) == 0 && St.st_size > 0) Data.reserve(size_t(St.st_size));
  char Buf[65536];
  for (;;) {
    ssize_t N = ::read(Fd, Buf, sizeof Buf);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) {
      Error = std::strerror(errno);
      ::close(Fd);
      return false;
    }
    if (N == 0) break;
    Data.append(Buf, size_t(N));
  }
  ::close(Fd);
  return true;
}

namespace {

bool WriteAll(int Fd, std::string_view Data) {
  const char* P = Data.data();
  size_t Left = Data.size();
  while (Left > 0) {
    ssize_t N = ::write(Fd, P, Left);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) return false;
    P += N;
    Left -= size_t(N);
  }
  return true;
}

// Writes Data to a file that Flags create; false with errno kept, and the file gone.
bool WriteNew(const std::string& Path, int Flags, std::string_view Data, bool Sync) {
  int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | Flags, 0600);
  if (Fd < 0) return false;
  bool Ok = WriteAll(Fd, Data) && (!Sync || ::fdatasync(Fd) == 0);
  const int Err = errno;
  if (::close(Fd) != 0 && Ok) Ok = false;
  if (!Ok) {
    const int CloseErr = errno;
    ::unlink(Path.c_str());
    errno = Err ? Err : CloseErr;
  }
  return Ok;
}

}  // namespace

bool TDiskStoreFiles::WriteFile(const std::string& Path, std::string_view Data, bool Sync, std::string& Error) {
  // A new name is written directly; a name already there gets a new file.
  errno = 0;
  if (WriteNew(Path, O_EXCL, Data, Sync)) return true;
  if (errno == EEXIST) {
    const std::string Temp = Path + ".tmp";
    ::unlink(Temp.c_str());  // left by a crash: never written through
    errno = 0;
    if (WriteNew(Temp, O_EXCL, Data, Sync)) {
      if (::rename(Temp.c_str(), Path.c_str()) == 0) return true;
      const int Err = errno;
      ::unlink(Temp.c_str());
      errno = Err;
    }
  }
  Error = std::strerror(errno);
  return false;
}

bool TDiskStoreFiles::RenameFile(const std::string& From, const std::string& To, std::string& Error) {
  if (::rename(From.c_str(), To.c_str()) == 0) return true;
  Error = std::strerror(errno);
  return false;
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
  int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
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
