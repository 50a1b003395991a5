#pragma once
// A mail store in a private data folder with a clock the test sets and ticks the test
// drives, a recorder of its log lines and posted messages, and a disk that can be told to
// fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "support/TestEnv.h"

class TRecordingTarget : public TNotifyTarget {
public:
  std::atomic<int> Posted{0};
  void post(unsigned Message) override {
    if (Message == WM_MAILSTORECHANGE) ++Posted;
  }
};

// The real disk, with failures on request for paths that end with a given text, a journal
// that can run out of space after a number of bytes, a count of syncs, and a crash that
// loses whatever was not synced.
class TFaultyFiles : public TDiskStoreFiles {
public:
  std::mutex Lock;
  std::set<std::string> FailWrites;    // WriteFile of a path ending so fails
  std::set<std::string> FailReplaces;  // ReplaceFile of a path ending so fails
  std::set<std::string> FailReads;     // ReadFile of a path ending so fails (an I/O error)
  std::atomic<int> Replaces{0};
  std::atomic<int> Writes{0};  // WriteFile calls
  std::map<std::string, int> WritesOf;  // WriteFile calls by path (under Lock)
  std::atomic<int> Syncs{0};
  // Bytes the journal may still take before the disk is full (-1: no limit).
  std::atomic<int64_t> JournalSpace{-1};

  using TDiskStoreFiles::ReadFile;
  bool ReadFile(const std::string& Path, std::string& Data, std::string& Error) override {
    if (Matches(FailReads, Path)) {
      Error = "Input/output error";
      return false;
    }
    return TDiskStoreFiles::ReadFile(Path, Data, Error);
  }
  bool WriteFile(const std::string& Path, std::string_view Data, bool Sync, std::string& Error) override {
    ++Writes;
    {
      std::lock_guard<std::mutex> L(Lock);
      ++WritesOf[Path];
    }
    if (Frozen || Matches(FailWrites, Path)) {
      Error = "No space left on device";
      return false;
    }
    if (!TDiskStoreFiles::WriteFile(Path, Data, Sync, Error)) return false;
    std::lock_guard<std::mutex> L(Lock);
    if (Sync) {
      ++Syncs;
      Unsynced.erase(Path);
    } else {
      Unsynced.insert(Path);
    }
    return true;
  }
  bool LinkFile(const std::string& Existing, const std::string& New) override {
    if (Frozen || Matches(FailWrites, New) || !TDiskStoreFiles::LinkFile(Existing, New)) return false;
    std::lock_guard<std::mutex> L(Lock);
    Unsynced.insert(New);
    return true;
  }
  bool ReplaceFile(const std::string& Path, const std::string& Data) override {
    ++Replaces;
    if (Frozen || Matches(FailReplaces, Path)) return false;
    ++Syncs;
    return TDiskStoreFiles::ReplaceFile(Path, Data);
  }
  bool SyncDisk(const std::string& Dir) override {
    if (Frozen) return false;
    ++Syncs;
    std::lock_guard<std::mutex> L(Lock);
    Unsynced.clear();
    for (auto* J : Journals) J->Commit();
    return TDiskStoreFiles::SyncDisk(Dir);
  }
  bool SyncFiles(const std::vector<std::string>& Files, const std::vector<std::string>& Dirs) override {
    if (Frozen) return false;
    Syncs += int(Files.size() + Dirs.size());
    std::lock_guard<std::mutex> L(Lock);
    for (auto& F : Files) Unsynced.erase(F);
    return TDiskStoreFiles::SyncFiles(Files, Dirs);
  }
  bool DeleteFile(const std::string& Path) override { return !Frozen && TDiskStoreFiles::DeleteFile(Path); }

  std::unique_ptr<TJournalFile> OpenJournalFile(const std::string& Path, std::string& Error) override {
    if (FailJournalOpen) {
      Error = "Permission denied";
      return nullptr;
    }
    auto Real = TDiskStoreFiles::OpenJournalFile(Path, Error);
    if (!Real) return nullptr;
    return std::make_unique<TJournal>(*this, std::move(Real), Path);
  }

  // The machine stops: the journal keeps what was synced and the first KeepUnsynced bytes
  // of what was written after (a torn write), and of those writes also every byte from
  // offset KeepFrom on (the page cache wrote those pages out, not the ones before); files
  // written since their last sync are empty, and nothing reaches the disk any more until
  // Thaw.
  void Crash(size_t KeepUnsynced = 0, size_t KeepFrom = SIZE_MAX) {
    std::lock_guard<std::mutex> L(Lock);
    Frozen = true;
    for (auto& P : Unsynced) ::truncate(P.c_str(), 0);
    Unsynced.clear();
    for (auto* J : Journals) {
      std::string Disk = J->Synced;
      for (auto& [Offset, Data] : J->Writes) {
        const size_t Take = std::min(KeepUnsynced, Data.size());
        KeepUnsynced -= Take;
        if (Disk.size() < Offset + Take) Disk.resize(Offset + Take, '\0');
        Disk.replace(Offset, Take, Data, 0, Take);
        if (Offset + Data.size() > KeepFrom) {
          const size_t From = std::max(Offset, KeepFrom);
          if (Disk.size() < Offset + Data.size()) Disk.resize(Offset + Data.size(), '\0');
          Disk.replace(From, Offset + Data.size() - From, Data, From - Offset, std::string::npos);
        }
      }
      std::string Ignored;
      TDiskStoreFiles::WriteFile(J->Path, Disk, true, Ignored);
    }
  }
  // The program is killed: nothing more reaches the disk from it, and what it wrote stays in
  // the page cache, unsynced, for a later Crash to lose.
  void Kill() { Frozen = true; }
  void Thaw() { Frozen = false; }
  std::atomic<bool> FailJournalSync{false};
  // Journal syncs that still succeed before every later one fails (-1: no limit).
  std::atomic<int> JournalSyncsLeft{-1};
  // The journal cannot be opened for writing (Permission denied).
  std::atomic<bool> FailJournalOpen{false};
  // Called with the data of every write to the journal before it is made (set it while no
  // store runs).
  std::function<void(const std::string&)> OnJournalWrite;

private:
  // The journal with a copy of what a crash would leave of it: the synced content, and the
  // writes since.
  struct TJournal : TJournalFile {
    TFaultyFiles& Owner;
    std::unique_ptr<TJournalFile> Real;
    std::string Path;
    std::string Synced;
    std::vector<std::pair<size_t, std::string>> Writes;
    uint64_t Size = 0;
    TJournal(TFaultyFiles& O, std::unique_ptr<TJournalFile> R, std::string P)
        : Owner(O), Real(std::move(R)), Path(std::move(P)) {
      Owner.TDiskStoreFiles::ReadFile(Path, Synced);
      Size = Synced.size();
      std::lock_guard<std::mutex> L(Owner.Lock);
      Owner.Journals.insert(this);
    }
    ~TJournal() override {
      std::lock_guard<std::mutex> L(Owner.Lock);
      Owner.Journals.erase(this);
    }
    bool WriteAt(uint64_t Offset, const std::string& Data, std::string& Error) override {
      if (Owner.OnJournalWrite) Owner.OnJournalWrite(Data);
      if (Owner.Frozen) return Fail(Error);
      std::string Part = Data;
      bool Full = false;
      const int64_t Space = Owner.JournalSpace;
      if (Space >= 0 && Offset + Data.size() > Size) {
        // A full disk: the file grows by what is left and no more.
        const uint64_t Room = std::max<uint64_t>(Offset, Size) - Offset + uint64_t(Space);
        if (Room < Data.size()) {
          Part.resize(size_t(Room));
          Full = true;
        }
        Owner.JournalSpace = Space - int64_t(std::max<uint64_t>(Size, Offset + Part.size()) - Size);
      }
      if (!Part.empty() && !Real->WriteAt(Offset, Part, Error)) return false;
      Size = std::max<uint64_t>(Size, Offset + Part.size());
      std::lock_guard<std::mutex> L(Owner.Lock);
      Writes.emplace_back(size_t(Offset), std::move(Part));
      return Full ? Fail(Error) : true;
    }
    bool Sync(std::string& Error) override {
      if (Owner.Frozen || Owner.FailJournalSync || Owner.JournalSyncsLeft == 0) return Fail(Error);
      if (Owner.JournalSyncsLeft > 0) --Owner.JournalSyncsLeft;
      ++Owner.Syncs;
      if (!Real->Sync(Error)) return false;
      std::lock_guard<std::mutex> L(Owner.Lock);
      Commit();
      return true;
    }
    // What was written is what a crash leaves (Owner.Lock held).
    void Commit() {
      for (auto& [Offset, Data] : Writes) {
        if (Synced.size() < Offset + Data.size()) Synced.resize(Offset + Data.size(), '\0');
        Synced.replace(Offset, Data.size(), Data);
      }
      Writes.clear();
    }
    bool Truncate(uint64_t To, std::string& Error) override {
      if (Owner.Frozen) return Fail(Error);
      ++Owner.Syncs;
      if (!Real->Truncate(To, Error)) return false;
      std::lock_guard<std::mutex> L(Owner.Lock);
      Size = To;
      Writes.clear();
      Synced.resize(size_t(To));
      return true;
    }
    static bool Fail(std::string& Error) {
      Error = "No space left on device";
      return false;
    }
  };

  bool Matches(const std::set<std::string>& Set, const std::string& Path) {
    std::lock_guard<std::mutex> L(Lock);
    for (auto& End : Set)
      if (Path.size() >= End.size() && Path.compare(Path.size() - End.size(), End.size(), End) == 0) return true;
    return false;
  }

  std::atomic<bool> Frozen{false};
  std::set<std::string> Unsynced;
  std::set<TJournal*> Journals;
};

class StoreTest : public ::testing::Test {
protected:
  TTestEnv Env;
  TRecordingTarget Target;
  TFaultyFiles Files;
  double Clock = 46000.5;  // a day at noon
  std::mutex LogLock;
  std::vector<std::pair<int, std::string>> Logs;
  std::unique_ptr<TMemoryMailStore> Store;

  void SetUp() override {
    RetrySend = false;
    RetryInterval = 10;
    MaxRetries = 3;
    SendNotifyMail = false;
    NotifyMailSender = true;
    SpecialNotifyMail = "";
    DelNotifiedMail = false;
    DelMessageAfterSent = false;
    DelMessageDelay = 0;
    ForbiddenMultiConn = false;
    SenderPauseAfterSent = false;
    SenderPauseMailCount = 0;
    SenderPauseTime = 0;
    Open();
  }
  void TearDown() override { Store.reset(); }

  void Open() {
    TMemoryMailStoreOptions O;
    O.Files = &Files;
    O.Clock = [this] { return Clock; };
    O.RunTicker = false;
    Store = std::make_unique<TMemoryMailStore>(std::move(O));
    Store->OnLog = [this](uint8_t Level, const std::string& Text) {
      std::lock_guard<std::mutex> L(LogLock);
      Logs.emplace_back(Level, Text);
    };
    Store->NotifyWindow = &Target;
    Store->FlushEarlyLog();
  }
  void Reopen() {
    Store.reset();
    Open();
  }

  static TMailData MakeMail(std::vector<std::string> Recipients, std::string Subject = "Hello") {
    TMailData M;
    M.MailFrom = "<sender@here.example>";
    M.Recipients = std::move(Recipients);
    M.Subject = std::move(Subject);
    M.Size = 42;
    M.ReceiveTime = 46000.25;
    M.Kind = mkReceived;
    M.State = msWaiting;
    M.Data = {"Subject: hello", "", "body line", "..dotted"};
    return M;
  }
  // Adds a mail for one recipient and answers its ID.
  std::string Add(const std::string& Recipient, std::string Subject = "Hello") {
    TMailData M = MakeMail({Recipient}, std::move(Subject));
    Store->AddMail(M);
    return M.ID;
  }
  // Hands out the next mail and files Status for it; answers its ID.
  std::string Deliver(TDeliveryStatus Status, std::vector<std::string> Log = {"attempt"}) {
    TMailData M;
    EXPECT_TRUE(Store->GetNextMail(M));
    M.State = msAttemptDone;
    M.Status = Status;
    M.Log = std::move(Log);
    if (Status == dsDelivered || Status == dsRelayed) M.SentTime = Clock;
    if (Status == dsRelayed) M.LastError = "127.0.0.9";
    Store->MailDone(M);
    Store->WaitForDisk();  // the filing's sync comes after MailDone returns
    return M.ID;
  }
  std::vector<TMailNotice> Notices() {
    std::vector<TMailNotice> Out;
    TMailNotice N;
    while (Store->PopNotice(N)) Out.push_back(N);
    return Out;
  }
  TMailRecord Record(const std::string& ID) {
    TMailRecord R;
    Store->GetMailRecord(ID, R);
    return R;
  }
  // Every mail the store holds, as ID and state.
  std::map<std::string, int> States() {
    std::map<std::string, int> Out;
    TMailRecord R;
    for (bool Ok = Store->FindFirst({0, 1, 2, 3}, TMailStateSet::FromBits(0xFF), R); Ok; Ok = Store->FindNext(R))
      Out[R.ID.str()] = R.State;
    return Out;
  }
  // Every record the enumeration gives for the states, as their IDs.
  std::vector<std::string> IDs(TMailStateSet States) {
    std::vector<std::string> Out;
    TMailRecord R;
    for (bool Ok = Store->FindFirst({1, 2, 3}, States, R); Ok; Ok = Store->FindNext(R)) Out.push_back(R.ID.str());
    return Out;
  }
  std::string DataPath(const std::string& Name) const { return DataDir.get() + Name; }
  bool Exists(const std::string& Name) { return Files.TDiskStoreFiles::FileExists(DataPath(Name)); }
  std::vector<std::string> LogTexts() {
    std::lock_guard<std::mutex> L(LogLock);
    std::vector<std::string> Out;
    for (auto& [Level, Text] : Logs) Out.push_back(std::to_string(Level) + " " + Text);
    return Out;
  }
  void Ticks(int N) {
    for (int I = 0; I < N; ++I) Store->Tick();
  }
};
