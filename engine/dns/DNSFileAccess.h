#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The disk cache's way to its two files. The cache does every file operation through
// this interface so that a test can put in a disk of its own (one that fails or counts).
class TDNSFileAccess {
public:
  virtual ~TDNSFileAccess() = default;
  // Size in bytes, -1 when the file does not exist.
  virtual int64_t FileSize(const std::string& Path) = 0;
  // Creates or empties Path and writes Data.
  virtual bool CreateFile(const std::string& Path, const void* Data, size_t Size) = 0;
  // Opens an existing file for reading and writing: a handle, or -1 with errno set.
  virtual int OpenFile(const std::string& Path) = 0;
  // Exactly Size bytes at Pos, else false.
  virtual bool ReadAt(int Handle, void* Buf, size_t Size, int64_t Pos) = 0;
  virtual bool WriteAt(int Handle, const void* Buf, size_t Size, int64_t Pos) = 0;
  virtual void CloseFile(int Handle) = 0;
};

// The real disk.
TDNSFileAccess& DiskDNSFileAccess();
