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
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/store/MailJournal.h"
#include "engine/store/MailStore.h"
#include "engine/store/StoreFiles.h"

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
  // Hands the lines that loading logged, before OnLog was set, to OnLog (the owner calls
  // it once it has set OnLog; Start does too).
  void FlushEarlyLog();

private:
  struct TRecordList {
    std::mutex Lock;
    std::vector<std::unique_ptr<TStoreRecord>> Items;
  };
  enum TListKind { lkQueue, lkSent, lkFailed };

  void Load();
  void LoadIndex(const std::string& FileName, TListKind Kind, std::unordered_set<std::string>& Seen);
  // Restored: the mails whose message is written again from the journal.
  void Replay(const std::vector<TJournalEntry>& Entries, bool Touched[3], std::unordered_set<std::string>& Restored);
  // One red line for damage the journal's reader skipped, or for records it lost that the
  // message files tell of, with the message files that belong to no mail (kept where they
  // are); true when it said so.
  bool ReportDamage(const TJournalRead& Journal, const std::unordered_set<std::string>& Messages);
  bool WriteIndex(TListKind Kind);
  // The save itself; the caller holds FFileMutex.
  void Checkpoint();
  TRecordList& ListOf(int Kind);
  std::atomic<bool>& ChangedFlagOf(int Kind);
  // The texts of files still to be written, kept alive by their owners.
  struct TFileTexts {
    std::shared_ptr<const std::string> Owner, LogOwner;
    std::string_view Data, Log;
    bool WriteData = true, WriteLog = true;
  };
  struct TFileJob {
    std::vector<std::string> IDs;  // the message is the same for all
    std::shared_ptr<const TFileTexts> Texts;
  };
  struct TPendingFiles {
    int State = 0;  // 0 queued, 1 being written, 2 deleted while being written
    std::shared_ptr<const TFileTexts> Texts;
  };
  // A new mail on its way in: its records, not yet listed, and its journal record, which
  // its files are written from once it is on disk.
  struct TNewMail {
    std::vector<std::unique_ptr<TStoreRecord>> Records;
    std::vector<std::string> IDs, Recipients;
    const TMailData* Mail = nullptr;
    std::unique_ptr<TMailData> Owned;  // a mail the store made itself (a notice)
    TEncodedMail Encoded;
    std::shared_ptr<const TFileTexts> Texts;
    TMailKind Kind = 0;
  };
  // Adds the mail's records; answers how many were stored.
  int StoreMail(TMailData& Mail);
  // Makes the records of a mail and their IDs.
  TNewMail PrepareMail(TMailData& Mail);
  // Its journal record (caller holds FChangeLock shared).
  void EncodeNew(TNewMail& New);
  // Where its texts stand in that record, once nothing more is appended to it; from here
  // on its files are to be written.
  void PointTexts(TNewMail& New);
  // Lists the records as change Seq (caller holds FQueue.Lock).
  void InsertNew(TNewMail& New, uint64_t Seq);
  // Its files are written now that its record is on disk.
  void QueueFiles(TFileJob Job);
  // The log lines of a stored mail, and the delivery engine's wake-up.
  void AnnounceNew(const TNewMail& New);
  // Appends one change to the journal (caller holds FChangeLock shared and the list lock
  // that orders it); answers its number. A new mail's change (NewIDs) is taken back should
  // its write fail; any other is kept and written again until it is on disk.
  uint64_t Journal(std::shared_ptr<const std::string> Bytes, std::vector<std::string> NewIDs,
                   std::function<void(bool)> Done = nullptr, uint64_t RoomAfter = 0);
  uint64_t Journal(std::string Bytes, std::function<void(bool)> Done = nullptr) {
    return Journal(std::make_shared<const std::string>(std::move(Bytes)), {}, std::move(Done));
  }
  // Until change Seq is on disk; false (logged) when it failed and was taken back.
  bool Committed(uint64_t Seq);
  // Until a kept change Seq is on disk; false while the journal cannot be written.
  bool OnDisk(uint64_t Seq);
  void LogJournalError(const std::string& Error);
  void UndoNew(const std::string& ID);
  // The file writer: writes the files of new mails after their journal record is on
  // disk, off the path of the mail client's answer.
  void FileWriterLoop();
  // Writes the files of Job; answers the job of what could not be written (no IDs: all).
  TFileJob WriteFiles(TFileJob Job);
  // Until every file queued so far is written; false when some cannot be (they stay
  // queued). The caller holds FChangeLock exclusively, after the journal's Flush.
  bool DrainFiles();
  // The message and log lines of a mail, from the files or from what is still to be
  // written to them; false when the message cannot be read.
  bool ReadTexts(const std::string& ID, TMailData& Mail);
  void ForgetFiles(const std::vector<std::string>& IDs);
  // A delivery's log: written by the file writer once the change that holds it is on disk
  // (QueueFiles), read from memory until then.
  void PendLog(const std::string& ID, std::shared_ptr<const std::string> Log);
  // Deletes the records chosen by Pick from one list as one change, then their files;
  // their notices go from the first record or from the last.
  void DeleteWhere(TListKind Kind, const std::function<bool(const TStoreRecord&)>& Pick, bool FromLast = false);
  void NoteUnsynced(std::string FileName);

  // Red lines of a trouble that lasts (a full disk): each cause is said once, and once more
  // (blue) when it is over.
  enum TTrouble { trJournal, trFiles, trSync, trIndex, trCount };
  void SayTrouble(TTrouble Cause, const std::string& Text);
  void SayRecovered(TTrouble Cause, const std::string& Text);

  void PostNotice(uint8_t Action, const TStoreRecord& Record, TMailState State);
  void DoLog(uint8_t Level, const std::string& Text);
  void SignalNewMail();
  void DeleteMailFiles(const std::string& ID);
  void RemoveFromAll(const TStoreRecord* Record);
  void RemoveFromAll(const std::vector<const TStoreRecord*>& Records);
  void SetRecordState(TStoreRecord& Record, TMailState State);
  std::unique_ptr<TStoreRecord> TakeByID(std::vector<std::unique_ptr<TStoreRecord>>& Items, const std::string& ID);
  bool ReadLines(const std::string& FileName, std::vector<std::string>& Lines);
  static void SplitLines(std::string_view S, std::vector<std::string>& Lines);
  // Every line followed by CR LF.
  static std::string JoinLines(const std::vector<std::string>& Lines);

  void AddActiveHost(const std::string& Domain);
  bool IsHostActive(const std::string& Domain);
  void RemoveActiveHost(const std::string& Domain);

  // Journal room kept for each mail still to be delivered: its filing (and a retry's
  // requeue), so that a full disk refuses new mail before it holds up a delivery's filing.
  static constexpr uint64_t FilingRoom = 1024;
  // Failed mails with a retry to come: they need that room too.
  std::atomic<int64_t> FRetrying{0};

  TStoreFiles* FFiles;
  std::function<TDateTime()> FClock;
  std::atomic<bool> FTrouble[trCount] = {};
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
  std::mutex FEarlyLogLock;
  std::vector<std::pair<uint8_t, std::string>> FEarlyLog;
  std::mutex FUnsyncedLock;
  std::vector<std::string> FUnsynced;

  // Mails whose files are not written yet, by ID.
  std::mutex FFileLock;
  std::condition_variable FFileWake, FFileIdle;
  std::unordered_map<std::string, TPendingFiles> FFilesPending;
  std::deque<TFileJob> FFileJobs;
  std::vector<TFileJob> FFileRetry;  // could not be written: the next save tries again
  bool FFileBusy = false, FFileEnding = false;
  std::thread FFileWriter;
};
