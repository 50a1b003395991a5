#include "platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>

namespace {
std::atomic<unsigned> TempCounter{0};

// Names of the temporary files this process is writing now: a crashed copy that had our
// process id left files that look like ours.
struct TLiveTemps {
  std::mutex Lock;
  std::multiset<std::string> Names;
};

TLiveTemps& LiveTemps() {
  static TLiveTemps L;
  return L;
}

std::string NameOf(const std::string& Path) {
  const auto Slash = Path.rfind('/');
  return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

bool AllDigits(const std::string& S, size_t From, size_t To) {
  if (From >= To) return false;
  for (size_t I = From; I < To; ++I)
    if (S[I] < '0' || S[I] > '9') return false;
  return true;
}

// The process id of a name "<Target>.tmp<pid>_<n>" (any target when Target is empty); 0 when
// the name is not one of ours.
pid_t TempFileOwner(const std::string& Name, const std::string& Target) {
  const size_t Tmp = Name.rfind(".tmp");
  if (Tmp == std::string::npos || Tmp == 0) return 0;
  if (!Target.empty() && Name.compare(0, Tmp, Target) != 0) return 0;
  const size_t Sep = Name.find('_', Tmp);
  if (Sep == std::string::npos || !AllDigits(Name, Tmp + 4, Sep) || !AllDigits(Name, Sep + 1, Name.size())) return 0;
  if (Sep - (Tmp + 4) > 9) return 0;
  return static_cast<pid_t>(std::stol(Name.substr(Tmp + 4, Sep - Tmp - 4)));
}

bool StillWritten(pid_t Owner, const std::string& Name) {
  if (Owner == getpid()) {
    std::lock_guard<std::mutex> G(LiveTemps().Lock);
    return LiveTemps().Names.count(Name) > 0;
  }
  return ::kill(Owner, 0) == 0 || errno == EPERM;
}

std::string FolderOf(const std::string& Path) {
  const auto Slash = Path.rfind('/');
  return Slash == std::string::npos ? std::string(".") : Path.substr(0, Slash + 1);
}
}  // namespace

TAtomicFile::TAtomicFile(std::string Path, unsigned Mode) : FPath(std::move(Path)) {
  FTempPath = FPath + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(TempCounter++);
  {
    std::lock_guard<std::mutex> G(LiveTemps().Lock);
    LiveTemps().Names.insert(NameOf(FTempPath));
  }
  FFd = ::open(FTempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(Mode));
}

TAtomicFile::~TAtomicFile() {
  if (FFd >= 0) {
    ::close(FFd);
    ::unlink(FTempPath.c_str());
  }
  std::lock_guard<std::mutex> G(LiveTemps().Lock);
  LiveTemps().Names.erase(LiveTemps().Names.find(NameOf(FTempPath)));
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

void RemoveStaleTempFiles(const std::string& Dir, const std::string& Target) {
  DIR* D = ::opendir(Dir.c_str());
  if (!D) return;
  const std::string Folder = Dir.empty() || Dir.back() == '/' ? Dir : Dir + "/";
  while (const dirent* E = ::readdir(D)) {
    const std::string Name = E->d_name;
    const pid_t Owner = TempFileOwner(Name, Target);
    if (Owner <= 0 || StillWritten(Owner, Name)) continue;
    struct stat St;
    if (::lstat((Folder + Name).c_str(), &St) == 0 && S_ISREG(St.st_mode)) ::unlink((Folder + Name).c_str());
  }
  ::closedir(D);
}
