#pragma once
// The mail store's write-ahead journal: every change of the lists is appended as one
// record and synced before it is acted on; changes that arrive while a sync runs share
// the next one (group commit). The index files hold the lists as of the last save;
// loading replays the journal over them, and a save starts the journal again.
//
// The layout is in JournalFormat.h. A new mail is written only with room left behind it
// for what the mails already taken will still need (their filings), so that a full disk
// refuses new mail before it can hold up a delivery's filing.
//
// A change whose write fails is either taken back (a new mail whose sender is told) or
// kept in memory and written again later; while kept changes wait, the journal is
// stalled and says so once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/store/JournalReader.h"
#include "engine/store/StoreFiles.h"

// A new mail's record with where its texts stand in it.
struct TEncodedMail {
  std::shared_ptr<std::string> Bytes;
  size_t DataOffset = 0, DataSize = 0, LogOffset = 0, LogSize = 0;
};

// The error text of a write that failed for lack of space (no room, or the quota).
bool IsNoSpaceError(const std::string& Error);

class TMailJournal {
public:
  static constexpr size_t HeaderSize = JournalFormat::HeaderSize;

  TMailJournal(TStoreFiles& Files, std::string Path);
  ~TMailJournal();  // Close
  // Ends the writer thread (the caller has flushed what it needs); its callbacks are not
  // called any more.
  void Close();
  TMailJournal(const TMailJournal&) = delete;
  TMailJournal& operator=(const TMailJournal&) = delete;

  // Reads the file and opens it for writing. A file that cannot be read, or read but not
  // written, is never written: Unusable says why, and every change fails until a start can
  // use it.
  TJournalRead Open();
  const std::string& Unusable() const { return FUnusable; }
  // It could be read, but not opened for writing.
  bool Unwritable() const { return FUnwritable; }
  // Where a journal that is set aside goes (the first of MailJour.jnl.damaged, .damaged.1,
  // ... that is not taken); empty when none is.
  const std::string& SetAsideName() const { return FSetAsideName; }
  // The bytes of one record of the journal as it is now. The caller holds the store's change
  // lock, so that the journal cannot start again before the record is appended.
  std::string Encode(TJournalOp Op, uint8_t List, const TMailRecord& Rec, const std::string* Data = nullptr,
                     const std::string* Log = nullptr) const;
  // The record of a new mail: its recipients' records, and the lines of its message and
  // log, each followed by CR LF, written once.
  TEncodedMail EncodeNew(const std::vector<const TMailRecord*>& Recs, const std::vector<std::string>& Data,
                         const std::vector<std::string>& Log) const;
  // Queues one change (written whole or not at all). Undo, when given, takes the change
  // back in memory should its write fail; a change without Undo is kept and written
  // again until it is on disk. Done, when given, is called once the change is on disk
  // (true) or failed and undone (false), without any lock of the journal. A writer
  // thread of the journal writes what is queued whenever nobody waits for it. A change
  // that can be taken back is written only with RoomAfter bytes of room behind it (else it
  // fails for lack of space); the others use that room. A kept change with a Fallback (a
  // shorter record of what matters most) goes whole only with that room behind it, else its
  // Fallback goes. Answers the change's number.
  uint64_t Append(std::shared_ptr<const std::string> Bytes, std::function<void()> Undo,
                  std::function<void(bool)> Done = nullptr, uint64_t RoomAfter = 0,
                  std::shared_ptr<const std::string> Fallback = nullptr);
  // Until change Seq is on disk (true), or failed and undone, or kept while the journal
  // cannot be written (false, Error says why). Only the change's own appender asks about
  // one that can be undone, and it asks once: the answer is then forgotten.
  bool Wait(uint64_t Seq, std::string& Error);
  // Until every change queued so far is on disk (true) or cannot be, and the Done calls
  // of what was written have run.
  bool WaitAll(std::string& Error);
  // Why the last write failed.
  std::string LastError() {
    std::lock_guard<std::mutex> L(FLock);
    return FError;
  }
  // Writes and syncs every queued change, undoing what fails and may be undone. True when
  // nothing is left unwritten. The caller holds the change lock exclusively.
  bool Flush(std::string& Error);
  // Starts an empty journal with a new identifier; the index files hold everything. It keeps
  // Room bytes of zeros behind its header and gives the rest of the file back. The caller
  // holds the change lock exclusively, after a successful Flush.
  bool Restart(std::string& Error, uint64_t Room);
  // Runs the undos of failed changes, newest first. The caller holds the change lock
  // exclusively.
  void RunUndos();
  // Records were written since the journal last started (or it needs a fresh start).
  bool HasRecords() {
    std::lock_guard<std::mutex> L(FLock);
    return FHasRecords || FNeedHeader || FLegacy;
  }
  // Every change up to this number is on disk, or failed and taken back.
  uint64_t Synced() const { return FSynced.load(); }
  // Kept changes wait for a write that failed.
  bool Stalled() const { return FStalled.load(); }
  // Answers of undone changes that their appenders have still to ask for.
  size_t UndoneKept() {
    std::lock_guard<std::mutex> L(FLock);
    return FUndone.size();
  }

  // Called without any lock after a write failed: takes the change lock exclusively and
  // calls RunUndos.
  std::function<void()> OnFailure;
  // Called without any lock when kept changes start to wait (with the reason) and when
  // they are on disk again.
  std::function<void(const std::string&)> OnStall;
  std::function<void()> OnResume;

private:
  struct TPending {
    uint64_t Seq;
    std::shared_ptr<const std::string> Bytes;
    std::function<void()> Undo;
    std::function<void(bool)> Done;
    uint64_t RoomAfter = 0;
    std::shared_ptr<const std::string> Fallback;
  };
  using TDoneList = std::vector<std::pair<std::function<void(bool)>, bool>>;
  // Writes the queued changes; FLock held on entry and on return (released meanwhile).
  // The Done calls of a written batch go to Finished.
  bool WriteBatch(std::unique_lock<std::mutex>& L, std::string& Error, TDoneList& Finished);
  // Runs the Done calls of one batch and the stall calls due (without FLock).
  void RunDone(TDoneList& Finished);
  void WriterLoop();
  bool Repair(std::string& Error);
  // Writes zeros over the bytes From to To, which may hold records, and makes them durable.
  bool ZeroOut(uint64_t From, uint64_t To, std::string& Error);
  // Writes zeros from the file's end so that it holds End bytes.
  bool Grow(uint64_t End, std::string& Error);
  bool WaitFor(uint64_t Seq, std::string& Error, bool Forget);
  std::string FreeSetAsideName() const;

  TStoreFiles& FFiles;
  std::string FPath;
  std::unique_ptr<TJournalFile> FFile;
  std::string FUnusable;
  bool FUnwritable = false;
  std::string FSetAsideName;
  std::atomic<uint64_t> FID{0};

  std::mutex FLock;
  std::condition_variable FDone;
  std::deque<TPending> FPending;     // queued, not yet on disk, oldest first
  uint64_t FLastSeq = 0;
  uint64_t FTriedSeq = 0;            // the newest change of the last failed write
  std::atomic<uint64_t> FSynced{0};
  // Written, but behind a failed change whose undo has not run yet: FSynced goes up to it
  // once the undo has run, so that no change below FSynced is still to be taken back.
  uint64_t FWrittenTo = 0;
  bool FWriting = false;
  // A write failed and changes of it wait for RunUndos.
  bool FFailing = false;
  bool FUndoing = false;             // RunUndos is running the undos of that write
  std::atomic<bool> FStalled{false};
  int FStallCalls = 0;               // +1: OnStall due, -1: OnResume due
  // How long the writer waits before it tries a stalled write again.
  static constexpr std::chrono::milliseconds FRetryInterval{1000};
  std::vector<TPending> FToUndo;
  std::unordered_set<uint64_t> FUndone;  // failed and undone, until its appender has asked
  std::string FError;
  uint64_t FPos = 0;                 // the end of the whole records: the next one goes here
  uint64_t FAllocated = 0;           // the file's size: bytes written (zeros ahead of FPos)
  uint64_t FDirtyEnd = 0;            // behind it the file holds nothing but zeros
  bool FNeedHeader = false;          // a fresh start is still to be written (header and zeros)
  bool FSetAside = false;            // the file goes under another name before the fresh start
  bool FLegacy = false;              // of the earlier layout: nothing is appended before a fresh start
  uint64_t FKeep = 0;                // room the fresh start keeps behind the header
  uint64_t FInvalidLen = 0;          // a failed write at FPos still to be overwritten with zeros
  bool FHasRecords = false;
  bool FEnding = false;
  int FDoneRunning = 0;              // batches whose Done calls are being run
  std::thread FWriter;
};
