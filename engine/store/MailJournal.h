#pragma once
// The mail store's write-ahead journal: every change of the lists is appended as one
// record and synced before it is acted on; changes that arrive while a sync runs share
// the next one (group commit). The index files hold the lists as of the last save;
// loading replays the journal over them, and a save starts the journal again.
//
// File: a 16-byte header ("QuilJrnl", 32-bit epoch, CRC-32 of the 12 bytes before it),
// then records, little-endian:
//   0   4    record size in bytes, all fields included
//   4   4    epoch (the header's; a record of another epoch is not one of this journal)
//   8   1    operation: 1 the mail is in the list named next, with the record; 2 deleted;
//            3 a new mail for one or more recipients
//   9   1    list: 0 waiting, 1 sent, 2 failed
// Operations 1 and 2:
//   10  321  the mail record (only the ID counts for a deletion)
//   331 4    size of the message text that follows, 0xFFFFFFFF for none
//   335 4    size of the log text that follows it, 0xFFFFFFFF for none
//   339 ...  message text, log text
// Operation 3 (the message once, whatever the number of recipients):
//   10  4    number of records N (1 or more)
//   14  321N the records, one per recipient
//   ... 4    size of the message text, 4 size of the log text, then both texts
// Every record ends with the CRC-32 of every byte of the record before it.
//
// A record that is short or fails its check ends the journal when nothing valid of this
// epoch follows it (a torn tail). When a valid record follows, the bytes between were
// damaged: the reader skips them and goes on, and says what it skipped.
// The file is written ahead with zeros and records overwrite them, so that the sync of a
// change needs no change of the file's size; a fresh start rewrites the header with the
// next epoch and leaves the old records behind it, where reading ends.
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
#include <utility>
#include <vector>

#include "engine/store/MailData.h"
#include "engine/store/StoreFiles.h"

enum TJournalOp : uint8_t { joPut = 1, joDelete = 2, joNew = 3 };

// One mail's change as loading reads it (a new mail gives one entry per recipient, all
// sharing its texts).
struct TJournalEntry {
  TJournalOp Op = joPut;
  uint8_t List = 0;
  TMailRecord Rec;
  std::shared_ptr<const std::string> Data, Log;  // none: not in this record
};

// What reading the journal skipped.
struct TJournalDamage {
  uint64_t Offset = 0;   // where the first damaged record starts
  int Records = 0;       // damaged records skipped
};

// A new mail's record with where its texts stand in it.
struct TEncodedMail {
  std::shared_ptr<std::string> Bytes;
  size_t DataOffset = 0, DataSize = 0, LogOffset = 0, LogSize = 0;
};

uint32_t Crc32(const void* Data, size_t Size, uint32_t Crc = 0);
// The error text of a write that failed for lack of space (no room, or the quota).
bool IsNoSpaceError(const std::string& Error);

class TMailJournal {
public:
  static constexpr size_t HeaderSize = 16;

  TMailJournal(TStoreFiles& Files, std::string Path);
  ~TMailJournal();  // Close
  // Ends the writer thread (the caller has flushed what it needs); its callbacks are not
  // called any more.
  void Close();
  TMailJournal(const TMailJournal&) = delete;
  TMailJournal& operator=(const TMailJournal&) = delete;

  // Opens the file and reads the records of its epoch. Clean: the file holds nothing
  // else (no records, no torn tail), so it needs no fresh start. Damage: what was skipped.
  std::vector<TJournalEntry> Open(bool& Clean, std::vector<TJournalDamage>& Damage);
  // The bytes of one record of the current epoch. The caller holds the store's change
  // lock, so that the epoch cannot change before the record is appended.
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
  // thread of the journal writes what is queued whenever nobody waits for it. Answers
  // the change's number.
  uint64_t Append(std::shared_ptr<const std::string> Bytes, std::function<void()> Undo,
                  std::function<void(bool)> Done = nullptr);
  // Until change Seq is on disk (true), or failed and undone, or kept while the journal
  // cannot be written (false, Error says why).
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
  // Starts an empty journal of the next epoch; the index files hold everything. The caller
  // holds the change lock exclusively, after a successful Flush.
  bool Restart(std::string& Error);
  // Runs the undos of failed changes, newest first. The caller holds the change lock
  // exclusively.
  void RunUndos();
  // Records were written since the journal last started (or it needs a fresh start).
  bool HasRecords() {
    std::lock_guard<std::mutex> L(FLock);
    return FHasRecords || FNeedFresh || FNeedHeader;
  }
  // The highest change number on disk.
  uint64_t Synced() const { return FSynced.load(); }
  // Kept changes wait for a write that failed.
  bool Stalled() const { return FStalled.load(); }

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
  };
  using TDoneList = std::vector<std::pair<std::function<void(bool)>, bool>>;
  // Writes the queued changes; FLock held on entry and on return (released meanwhile).
  // The Done calls of a written batch go to Finished.
  bool WriteBatch(std::unique_lock<std::mutex>& L, std::string& Error, TDoneList& Finished);
  // Runs the Done calls of one batch and the stall calls due (without FLock).
  void RunDone(TDoneList& Finished);
  void WriterLoop();
  bool Repair(std::string& Error);
  bool IsUndone(uint64_t Seq) const;
  std::string HeaderBytes(uint32_t Epoch) const;

  TStoreFiles& FFiles;
  std::string FPath;
  std::unique_ptr<TJournalFile> FFile;
  std::string FOpenError;
  std::atomic<uint32_t> FEpoch{1};

  std::mutex FLock;
  std::condition_variable FDone;
  std::deque<TPending> FPending;     // queued, not yet on disk, oldest first
  uint64_t FLastSeq = 0;
  uint64_t FTriedSeq = 0;            // the newest change of the last failed write
  std::atomic<uint64_t> FSynced{0};
  bool FWriting = false;
  // A write failed and changes of it wait for RunUndos.
  bool FFailing = false;
  std::atomic<bool> FStalled{false};
  int FStallCalls = 0;               // +1: OnStall due, -1: OnResume due
  // How long the writer waits before it tries a stalled write again.
  static constexpr std::chrono::milliseconds FRetryInterval{1000};
  std::vector<TPending> FToUndo;
  std::vector<uint64_t> FUndone;     // failed and undone
  std::string FError;
  uint64_t FPos = 0;                 // the end of the whole records: the next one goes here
  uint64_t FAllocated = 0;           // the file's size: bytes written (zeros ahead of FPos)
  bool FNeedFresh = false;           // not a journal of ours: cut it and write a header
  bool FNeedHeader = false;          // the header of a fresh start is still to be written
  uint64_t FInvalidLen = 0;          // a failed write at FPos still to be overwritten with zeros
  bool FHasRecords = false;
  bool FEnding = false;
  int FDoneRunning = 0;              // batches whose Done calls are being run
  std::thread FWriter;
};
