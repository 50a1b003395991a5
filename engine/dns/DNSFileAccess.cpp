#include "engine/dns/DNSFileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TDiskDNSFileAccess : public TDNSFileAccess {
public:
  int64_t FileSize(const std::string& Path) override {
    struct stat St;
    return stat(Path.c_str(), &St) == 0 ? static_cast<int64_t>(St.st_size) : -1;
  }
  bool CreateFile(const std::string& Path, const void* Data, size_t Size) override {
    const int Fd = open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (Fd < 0) return false;
    const bool Ok = WriteAt(Fd, Data, Size, 0);
    close(Fd);
    return Ok;
  }
  int OpenFile(const std::string& Path) override { return open(Path.c_str(), O_RDWR | O_CLOEXEC); }
  bool ReadAt(int Handle, void* Buf, size_t Size, int64_t Pos) override {
    return Handle >= 0 && pread(Handle, Buf, Size, Pos) == static_cast<ssize_t>(Size);
  }
  bool WriteAt(int Handle, const void* Buf, size_t Size, int64_t Pos) override {
    return Handle >= 0 && pwrite(Handle, Buf, Size, Pos) == static_cast<ssize_t>(Size);
  }
  void CloseFile(int Handle) override {
    if (Handle >= 0) close(Handle);
  }
};

}  // namespace

TDNSFileAccess& DiskDNSFileAccess() {
  static TDiskDNSFileAccess Disk;
  return Disk;
}
