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
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "engine/store/MailJournal.h"
#include "engine/store/MailStore.h"
#include "engine/store/StoreFiles.h"

// A message or log file that cannot be written while a mail is added.
class EFCreateError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A change could not be written to the journal: it did not happen.
class EVexaMailJournalWriteError : public std::runtime_error {
public:
  EVexaMailJournalWriteError() : std::runtime_error("Mail journal write error!") {}
};

// One record of the store with what it keeps in memory only.
struct TStoreRecord {
  TMailRecord Rec;
  int32_t RetryCountdown = -1;  // seconds until a failed mail is queued again; -1 never
  // The journal change that put it where it is; it is not delivered before that is on disk.
  uint64_t Seq = 0;
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
  // Writes the index files of the lists that changed (after the new mails' files are on
  // disk), then starts the journal again.
  void SaveIndexes();
  // Seconds until the next attempt after FailedAttempts failures; -1 for none.
  int32_t RetryDelay(int32_t FailedAttempts) const;
  // The lines of the undeliverable-mail notice for a failed mail.
  std::vector<std::string> ComposeFailureNotice(const TMailData& Mail) const;

  // Until every change so far is on disk, or failed and taken back (false). A delivery's
  // filing (MailDone) does not wait for its sync.
  bool WaitForDisk();

  std::string MailFileName(const std::string& ID) const;
  std::string LogFileName(const std::string& ID) const;
  bool IsRunning() const { return FRunning; }

private:
  struct TRecordList {
    std::mutex Lock;
    std::vector<std::unique_ptr<TStoreRecord>> Items;
  };
  enum TListKind { lkQueue, lkSent, lkFailed };

  // A change of the lists as its undo needs it: the mail left list From (-1: it was new)
  // for list To (-1: deleted; Gone then keeps its record); From == To: changed in place.
  struct TChange {
    std::string ID;
    int From = -1;
    int To = -1;
    TMailRecord OldRec;
    std::shared_ptr<std::unique_ptr<TStoreRecord>> Gone;
  };

  void Load();
  void LoadIndex(const std::string& FileName, TListKind Kind, std::unordered_set<std::string>& Seen);
  void Replay(const std::vector<TJournalEntry>& Entries, bool Touched[3]);
  bool WriteIndex(TListKind Kind);
  // The save itself; the caller holds FFileMutex.
  void Checkpoint();
  TRecordList& ListOf(int Kind);
  std::atomic<bool>& ChangedFlagOf(int Kind);
  // A new mail on its way in: its files are written, its records not yet listed.
  struct TNewMail {
    std::vector<std::unique_ptr<TStoreRecord>> Records;
    std::vector<std::string> IDs, Recipients;
    std::string Data, Log;
    TMailKind Kind = 0;
  };
  // Adds the mail's records; answers how many were stored.
  int StoreMail(TMailData& Mail);
  // Writes the files of a mail's records and makes the records; on failure none is left.
  TNewMail PrepareMail(TMailData& Mail);
  // Its journal records and their undos (caller holds FChangeLock shared).
  void EncodeNew(const TNewMail& New, std::string& Bytes, std::vector<TChange>& Changes);
  // Lists the records as change Seq (caller holds FQueue.Lock).
  void InsertNew(TNewMail& New, uint64_t Seq);
  void DropNew(const TNewMail& New);
  // The log lines of a stored mail, and the delivery engine's wake-up.
  void AnnounceNew(const TNewMail& New);
  // Appends one change to the journal (caller holds FChangeLock shared and the list lock
  // that orders it); answers its number.
  uint64_t Journal(std::string Bytes, std::vector<TChange> Changes, std::function<void(bool)> Done = nullptr);
  // Until change Seq is on disk; false (logged) when it failed and was taken back.
  bool Committed(uint64_t Seq);
  void LogJournalError(const std::string& Error);
  void UndoChange(const TChange& C);
  // Deletes the records chosen by Pick from one list as one change, then their files;
  // their notices go from the first record or from the last.
  void DeleteWhere(TListKind Kind, const std::function<bool(const TStoreRecord&)>& Pick, bool FromLast = false);
  void NoteUnsynced(std::string FileName);

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

  // Every change of the lists holds FChangeLock shared while it changes them and appends its
  // journal record; a save holds it exclusively, so the index files it writes and the
  // journal it starts again agree.
  std::shared_mutex FChangeLock;
  std::unique_ptr<TMailJournal> FJournal;
  // Message and log files written since the last save, not yet known to be on disk.
  std::mutex FUnsyncedLock;
  std::vector<std::string> FUnsynced;
};
