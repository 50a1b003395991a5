#pragma once
// The real disk for the store, counting the syncs it asks for (fsync, fdatasync, syncfs).
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/store/StoreFiles.h"

// The real disk, counting the syncs the store asks for (fsync, fdatasync, syncfs).
class TCountingFiles : public TDiskStoreFiles {
public:
  std::atomic<long> Syncs{0};
  struct TCounted : TJournalFile {
    std::unique_ptr<TJournalFile> Real;
    std::atomic<long>& Syncs;
    TCounted(std::unique_ptr<TJournalFile> R, std::atomic<long>& S) : Real(std::move(R)), Syncs(S) {}
    bool WriteAt(uint64_t Offset, const std::string& D, std::string& E) override { return Real->WriteAt(Offset, D, E); }
    bool Sync(std::string& E) override {
      ++Syncs;
      return Real->Sync(E);
    }
    bool Truncate(uint64_t Size, std::string& E) override {
      ++Syncs;
      return Real->Truncate(Size, E);
    }
  };
  std::unique_ptr<TJournalFile> OpenJournalFile(const std::string& Path, std::string& Error) override {
    auto Real = TDiskStoreFiles::OpenJournalFile(Path, Error);
    return Real ? std::make_unique<TCounted>(std::move(Real), Syncs) : nullptr;
  }
  bool WriteFile(const std::string& Path, std::string_view Data, bool Sync, std::string& Error) override {
    if (Sync) ++Syncs;
    return TDiskStoreFiles::WriteFile(Path, Data, Sync, Error);
  }
  bool ReplaceFile(const std::string& Path, const std::string& Data) override {
    Syncs += 2;  // the file and its folder
    return TDiskStoreFiles::ReplaceFile(Path, Data);
  }
  bool SyncDisk(const std::string& Dir) override {
    ++Syncs;
    return TDiskStoreFiles::SyncDisk(Dir);
  }
  bool SyncFiles(const std::vector<std::string>& Files, const std::vector<std::string>& Dirs) override {
    Syncs += long(Files.size() + Dirs.size());
    return TDiskStoreFiles::SyncFiles(Files, Dirs);
  }
  bool SyncDirectory(const std::string& Dir) override {
    ++Syncs;
    return TDiskStoreFiles::SyncDirectory(Dir);
  }
};

