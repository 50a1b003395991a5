#pragma once
// The mail store: every mail as one record per recipient in three locked lists in memory
// (waiting, sent, failed), each mirrored in an index file in the data folder; the message
// and the delivery log of each mail in files of their own; change notices for the main
// window; and a ticker thread for retries, clean-up and saving.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/store/MailStore.h"
#include "engine/store/StoreFiles.h"

// A message or log file that cannot be written while a mail is added.
class EFCreateError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The waiting list's index file could not be written, so a new mail is not safe on disk.
class EVexaMailIndexFileWriteError : public std::runtime_error {
public:
  EVexaMailIndexFileWriteError() : std::runtime_error("Mail index file write error!") {}
};

// One record of the store with what it keeps in memory only.
struct TStoreRecord {
  TMailRecord Rec;
  int32_t RetryCountdown = -1;  // seconds until a failed mail is queued again; -1 never
  // The change of the waiting list that brought it over from the failed list (0: none).
  // Until the waiting index on disk holds that change, the failed index keeps it too.
  uint64_t FromFailedSeq = 0;
};

// Calls OnTick about once a second until it is told to end.
class TMailUpdateThread {
public:
  explicit TMailUpdateThread(std::function<void()> OnTick);
  ~TMailUpdateThread();  // tells the thread to end and waits for it
  TMailUpdateThread(const TMailUpdateThread&) = delete;
  TMailUpdateThread& operator=(const TMailUpdateThread&) = delete;
  void Terminate();

private:
  void Execute();
  std::function<void()> FOnTick;
  std::mutex FLock;
  std::condition_variable FWake;
  bool FTerminated = false;
  std::thread FThread;
};

struct TMemoryMailStoreOptions {
  TStoreFiles* Files = nullptr;      // nullptr: the real disk
  std::function<TDateTime()> Clock;  // empty: the local time (Now)
  bool RunTicker = true;             // false: the owner calls Tick() itself (tests)
};

class TMemoryMailStore : public TMailStore {
public:
  // The fixed local sender of undeliverable-mail notices.
  static const char* const NoticeSenderAddress;

  TMemoryMailStore();
  explicit TMemoryMailStore(TMemoryMailStoreOptions Options);
  ~TMemoryMailStore() override;

  bool AddMail(TMailData& Mail) override;
  bool HasMailToSend() override;
  bool GetNextMail(TMailData& Mail) override;
  bool MailDone(TMailData& Mail) override;
  bool ChangeMailState(const std::string& ID, TMailState OldState, TMailState NewState) override;
  bool DeleteMail(const std::string& ID) override;
  void DeleteMails(TMailStateSet States) override;
  void Start() override;
  void Stop() override;
  void ResetSending() override;
  int32_t GetMailCount(TMailKindSet Kinds, TMailStateSet States) override;
  bool FindFirst(TMailKindSet Kinds, TMailStateSet States, TMailRecord& Rec) override;
  bool FindNext(TMailRecord& Rec) override;
  void GetMailRecord(const std::string& ID, TMailRecord& Rec) override;
  std::unique_ptr<TMailData> LoadMailData(const std::string& ID) override;
  void FreeMailData(std::unique_ptr<TMailData> Mail) override;
  bool PopNotice(TMailNotice& Notice) override;

  // The once-a-second step of the ticker thread (retries, clean-up, saving, pause).
  void Tick();
  // Deletes sent mails older than DelMessageDelay days (when DelMessageAfterSent is on).
  void AutoDeleteSent();
  // Writes the index files of the lists that changed.
  void SaveIndexes();
  // Seconds until the next attempt after FailedAttempts failures; -1 for none.
  int32_t RetryDelay(int32_t FailedAttempts) const;
  // The lines of the undeliverable-mail notice for a failed mail.
  std::vector<std::string> ComposeFailureNotice(const TMailData& Mail) const;

  std::string MailFileName(const std::string& ID) const;
  std::string LogFileName(const std::string& ID) const;
  bool IsRunning() const { return FRunning; }

private:
  struct TRecordList {
    std::mutex Lock;
    std::vector<std::unique_ptr<TStoreRecord>> Items;
  };
  enum TListKind { lkQueue, lkSent, lkFailed };

  void Load();
  void LoadIndex(const std::string& FileName, TRecordList& List, int64_t& Largest);
  bool WriteIndex(TListKind Kind);
  void WaitQueueOnDisk(uint64_t Seq);
  TRecordList& ListOf(TListKind Kind);
  std::atomic<bool>& ChangedFlagOf(TListKind Kind);

  void PostNotice(uint8_t Action, const TStoreRecord& Record, TMailState State);
  void DoLog(uint8_t Level, const std::string& Text);
  void SignalNewMail();
  void DeleteMailFiles(const std::string& ID);
  void RemoveFromAll(const TStoreRecord* Record);
  void RemoveFromAll(const std::vector<const TStoreRecord*>& Records);
  void SetRecordState(TStoreRecord& Record, TMailState State);
  std::unique_ptr<TStoreRecord> TakeByID(std::vector<std::unique_ptr<TStoreRecord>>& Items, const std::string& ID);
  bool ReadLines(const std::string& FileName, std::vector<std::string>& Lines);
  // Every line followed by CR LF.
  static std::string JoinLines(const std::vector<std::string>& Lines);

  void AddActiveHost(const std::string& Domain);
  bool IsHostActive(const std::string& Domain);
  void RemoveActiveHost(const std::string& Domain);

  TStoreFiles* FFiles;
  std::function<TDateTime()> FClock;
  std::string FDataDir;

  TRecordList FQueue;
  TRecordList FSent;
  TRecordList FFailed;
  std::mutex FFileMutex;  // loading and saving of the index files
  std::atomic<bool> FQueueChanged{false};
  std::atomic<bool> FSentChanged{false};
  std::atomic<bool> FFailedChanged{false};
  // A record moved from the waiting list to the failed list since the failed index was
  // last written: that index goes to disk before the waiting index drops the record.
  std::atomic<bool> FMovedToFailed{false};
  // The failed index on disk still holds mails that went back to the waiting list; it is
  // written again once the waiting index holds them.
  std::atomic<bool> FFailedHasMovedOut{false};
  std::string FQueueFile;
  std::string FSentFile;
  std::string FFailedFile;
  std::atomic<int32_t> FNextID{0};
  std::mutex FAllMailsLock;
  std::vector<TStoreRecord*> FAllMails;
  int32_t FFindIndex = -1;  // guarded by FAllMailsLock
  TMailStateSet FFindStates;
  TMailKindSet FFindKinds;
  std::mutex FNoticesLock;
  std::deque<TMailNotice> FNotices;
  std::unique_ptr<TMailUpdateThread> FTicker;
  std::atomic<bool> FRunning{false};
  std::mutex FActiveHostsLock;
  std::vector<std::string> FActiveHosts;
  std::atomic<int32_t> FDayTicks{0};
  std::atomic<int32_t> FSentCount{0};
  std::atomic<int32_t> FPauseCountdown{0};
  std::atomic<int32_t> FSaveTicks{0};

  // Group commit of the waiting index: every change of FQueue takes the next sequence
  // number (under FQueue.Lock); FQueueOnDisk is the highest one whose index file is on
  // disk. A mail's AddMail waits until its number is on disk; one writer at a time
  // writes for everyone waiting.
  uint64_t FQueueSeq = 0;
  // Message and log files of new mails not yet synced, guarded by FQueue.Lock like the
  // sequence: the writer of the waiting index syncs them with it.
  std::vector<std::string> FUnsynced;
  std::mutex FCommitLock;
  std::condition_variable FCommitDone;
  uint64_t FQueueOnDisk = 0;
  bool FCommitting = false;
};
