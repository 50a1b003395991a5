#pragma once
// A file that replaces its target by rename: written to a temporary file in the same
// folder ("<target>.tmp<pid>_<n>"), flushed to disk with its folder, then renamed over the
// target. Until Commit succeeds the target is untouched, and the destructor removes the
// temporary file; only a crash leaves one behind (see RemoveStaleTempFiles).
#include <string>

class TAtomicFile {
public:
  // Mode: the permissions of the new file (before the umask); the program's own files are
  // its user's alone.
  explicit TAtomicFile(std::string Path, unsigned Mode = 0600);
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;
  ~TAtomicFile();

  bool IsOpen() const { return FFd >= 0; }
  bool Write(const void* Data, size_t Size);
  bool Write(const std::string& Data) { return Write(Data.data(), Data.size()); }
  // Starts writing the data out without waiting, so that a later Commit (or a sync of
  // another file of the same disk) has less to wait for.
  void StartWriteback();
  // fsync, rename over the target, fsync the folder. False (target untouched) on any failure.
  bool Commit();

private:
  std::string FPath;
  std::string FTempPath;
  int FFd = -1;
  bool FFailed = false;
};

// Writes Data to Path through a TAtomicFile.
bool WriteFileAtomically(const std::string& Path, const std::string& Data, unsigned Mode = 0600);
// fsync of a folder, so that a rename or a new file in it survives a crash.
bool SyncDirectory(const std::string& Dir);
// Removes from Dir what a TAtomicFile of an ended process left there (a crash between
// writing and renaming): regular files named "<Target>.tmp<pid>_<n>", of any target when
// Target is empty. Those of running processes, and every other file, stay.
void RemoveStaleTempFiles(const std::string& Dir, const std::string& Target = std::string());
