#pragma once
// The mail store's way to the disk. The store does every file operation through this
// interface so that a test can put a disk of its own in (one that fails, or that counts).
#include <string>
#include <vector>

class TStoreFiles {
public:
  virtual ~TStoreFiles() = default;
  virtual bool ForceDirectories(const std::string& Dir) = 0;
  virtual bool FileExists(const std::string& Path) = 0;
  virtual bool ReadFile(const std::string& Path, std::string& Data) = 0;
  // Creates or truncates Path and writes Data; with Sync the data is on disk on return.
  // On failure Error holds the reason.
  virtual bool WriteFile(const std::string& Path, const std::string& Data, bool Sync, std::string& Error) = 0;
  // Replaces Path as a whole: temporary file, fsync, rename, fsync of the folder. Path is
  // untouched when it fails.
  virtual bool ReplaceFile(const std::string& Path, const std::string& Data) = 0;
  // Makes the written files Files and the folders Dirs durable, then replaces Path as
  // ReplaceFile does: the commit of one batch of new mails.
  virtual bool CommitFiles(const std::vector<std::string>& Files, const std::vector<std::string>& Dirs,
                           const std::string& Path, const std::string& Data) = 0;
  virtual bool SyncDirectory(const std::string& Dir) = 0;
  virtual bool DeleteFile(const std::string& Path) = 0;
};

// The real disk.
class TDiskStoreFiles : public TStoreFiles {
public:
  bool ForceDirectories(const std::string& Dir) override;
  bool FileExists(const std::string& Path) override;
  bool ReadFile(const std::string& Path, std::string& Data) override;
  bool WriteFile(const std::string& Path, const std::string& Data, bool Sync, std::string& Error) override;
  bool ReplaceFile(const std::string& Path, const std::string& Data) override;
  bool CommitFiles(const std::vector<std::string>& Files, const std::vector<std::string>& Dirs,
                   const std::string& Path, const std::string& Data) override;
  bool SyncDirectory(const std::string& Dir) override;
  bool DeleteFile(const std::string& Path) override;
};

TStoreFiles& DiskStoreFiles();
