#pragma once
// The mail store's way to the disk. The store does every file operation through this
// interface so that a test can put a disk of its own in (one that fails, that counts, or
// that loses what was not synced).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A file kept open for writing at given places (the store's journal).
class TJournalFile {
public:
  virtual ~TJournalFile() = default;
  // Writes Data at Offset; on failure part of it may have been written.
  virtual bool WriteAt(uint64_t Offset, const std::string& Data, std::string& Error) = 0;
  // What was written is on disk on return (fdatasync).
  virtual bool Sync(std::string& Error) = 0;
  // Cuts the file to Size bytes and makes that durable.
  virtual bool Truncate(uint64_t Size, std::string& Error) = 0;
};

class TStoreFiles {
public:
  virtual ~TStoreFiles() = default;
  virtual bool ForceDirectories(const std::string& Dir) = 0;
  virtual bool FileExists(const std::string& Path) = 0;
  // The names of the entries of Dir (one scan of the folder).
  virtual bool ListFiles(const std::string& Dir, std::vector<std::string>& Names) = 0;
  virtual bool ReadFile(const std::string& Path, std::string& Data) = 0;
  // When the file was last written, in nanoseconds of the system's clock; -1 when unknown.
  virtual int64_t ModifiedTime(const std::string& Path);
  // The same, with the reason when it fails (strerror's text; ENOENT's for a missing file).
  virtual bool ReadFile(const std::string& Path, std::string& Data, std::string& Error);
  // Writes Data as the file Path; with Sync the data is on disk on return. A file already
  // there is never opened: the new one is written under a temporary name and renamed over
  // it, so that another name of the old file keeps the old content, and a write that fails
  // leaves it as it was. On failure Error holds the reason.
  virtual bool WriteFile(const std::string& Path, std::string_view Data, bool Sync, std::string& Error) = 0;
  // Gives the file From the name To (replacing To).
  virtual bool RenameFile(const std::string& From, const std::string& To, std::string& Error);
  // Makes New a second name of the file Existing (a hard link); false where the folder's
  // filesystem cannot, or New exists.
  virtual bool LinkFile(const std::string& Existing, const std::string& New) {
    (void)Existing, (void)New;
    return false;
  }
  // Replaces Path as a whole: temporary file, fsync, rename, fsync of the folder. Path is
  // untouched when it fails.
  virtual bool ReplaceFile(const std::string& Path, const std::string& Data) = 0;
  // Opens Path for writing, creating it when missing.
  virtual std::unique_ptr<TJournalFile> OpenJournalFile(const std::string& Path, std::string& Error) = 0;
  // Makes every file written so far on the disk that holds Dir durable, names included.
  virtual bool SyncDisk(const std::string& Dir) = 0;
  // Makes the written files Files and the folders Dirs durable (a file already gone is
  // skipped: its mail was deleted meanwhile).
  virtual bool SyncFiles(const std::vector<std::string>& Files, const std::vector<std::string>& Dirs) = 0;
  virtual bool SyncDirectory(const std::string& Dir) = 0;
  virtual bool DeleteFile(const std::string& Path) = 0;
};

// The real disk.
class TDiskStoreFiles : public TStoreFiles {
public:
  bool ForceDirectories(const std::string& Dir) override;
  bool FileExists(const std::string& Path) override;
  bool ListFiles(const std::string& Dir, std::vector<std::string>& Names) override;
  bool ReadFile(const std::string& Path, std::string& Data) override;
  bool ReadFile(const std::string& Path, std::string& Data, std::string& Error) override;
  bool RenameFile(const std::string& From, const std::string& To, std::string& Error) override;
  bool WriteFile(const std::string& Path, std::string_view Data, bool Sync, std::string& Error) override;
  bool LinkFile(const std::string& Existing, const std::string& New) override;
  bool ReplaceFile(const std::string& Path, const std::string& Data) override;
  std::unique_ptr<TJournalFile> OpenJournalFile(const std::string& Path, std::string& Error) override;
  bool SyncDisk(const std::string& Dir) override;
  bool SyncFiles(const std::vector<std::string>& Files, const std::vector<std::string>& Dirs) override;
  bool SyncDirectory(const std::string& Dir) override;
  bool DeleteFile(const std::string& Path) override;
};

TStoreFiles& DiskStoreFiles();
