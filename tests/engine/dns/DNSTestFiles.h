#pragma once
// Byte access to the DNS cache files for the tests that check or damage them.
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "engine/dns/DNSFile.h"

namespace dnstest {

inline std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& Path, const std::string& Data) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Data;
}

inline int32_t I32(const std::string& B, size_t At) {
  uint32_t U = 0;
  for (int I = 0; I < 4; ++I) U |= static_cast<uint32_t>(static_cast<unsigned char>(B[At + I])) << (8 * I);
  return static_cast<int32_t>(U);
}

inline uint16_t U16(const std::string& B, size_t At) {
  return static_cast<uint16_t>(static_cast<unsigned char>(B[At]) | (static_cast<unsigned char>(B[At + 1]) << 8));
}

inline double F64(const std::string& B, size_t At) {
  uint64_t U = 0;
  for (int I = 0; I < 8; ++I) U |= static_cast<uint64_t>(static_cast<unsigned char>(B[At + I])) << (8 * I);
  double D;
  std::memcpy(&D, &U, 8);
  return D;
}

inline std::string Name(const std::string& B, size_t At) {
  return B.substr(At + 1, static_cast<unsigned char>(B[At]));
}

// Overwrites a little-endian 32-bit field in place.
inline void Patch32(const std::string& Path, size_t At, int32_t V) {
  std::string B = ReadAll(Path);
  for (int I = 0; I < 4; ++I) B[At + I] = static_cast<char>(static_cast<uint32_t>(V) >> (8 * I));
  WriteAll(Path, B);
}

constexpr size_t IndexRec(int N) { return 34 + static_cast<size_t>(N - 1) * 282; }
constexpr size_t DataRec(int N) { return 30 + static_cast<size_t>(N - 1) * 263; }

// The real disk, with reads or writes of one file failing on demand.
class TFailingDisk : public TDNSFileAccess {
public:
  std::string FailReadsOf, FailWritesOf, FailOpenOf;

  int64_t FileSize(const std::string& Path) override { return Disk().FileSize(Path); }
  bool CreateFile(const std::string& Path, const void* Data, size_t Size) override {
    return Path != FailWritesOf && Disk().CreateFile(Path, Data, Size);
  }
  int OpenFile(const std::string& Path) override {
    if (Path == FailOpenOf) {
      errno = EACCES;
      return -1;
    }
    const int H = Disk().OpenFile(Path);
    if (H >= 0) FPaths[H] = Path;
    return H;
  }
  bool ReadAt(int Handle, void* Buf, size_t Size, int64_t Pos) override {
    return FPaths[Handle] != FailReadsOf && Disk().ReadAt(Handle, Buf, Size, Pos);
  }
  bool WriteAt(int Handle, const void* Buf, size_t Size, int64_t Pos) override {
    return FPaths[Handle] != FailWritesOf && Disk().WriteAt(Handle, Buf, Size, Pos);
  }
  void CloseFile(int Handle) override {
    FPaths.erase(Handle);
    Disk().CloseFile(Handle);
  }

private:
  static TDNSFileAccess& Disk() { return DiskDNSFileAccess(); }
  std::map<int, std::string> FPaths;
};


}  // namespace dnstest
