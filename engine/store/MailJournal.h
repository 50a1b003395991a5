#pragma once
// The mail store's write-ahead journal: every change of the lists is appended as one
// record and synced before it is acknowledged or acted on; changes that arrive while a
// sync runs share the next one (group commit). The index files hold the lists as of the
// last save; loading replays the journal over them, and a save starts the journal again.
//
// File: a 16-byte header ("QuilJrnl", 32-bit epoch, CRC-32 of the 12 bytes before it),
// then records, little-endian:
//   0   4    record size in bytes, all fields included
//   4   4    epoch (the header's; a record of another epoch ends the journal)
//   8   1    operation: 1 the mail is in the list named next, with the record; 2 deleted
//   9   1    list: 0 waiting, 1 sent, 2 failed
//   10  321  the mail record (only the ID counts for a deletion)
//   331 4    size of the message text that follows, 0xFFFFFFFF for none
//   335 4    size of the log text that follows it, 0xFFFFFFFF for none
//   339 ...  message text, log text
//   end-4 4  CRC-32 of every byte of the record before it
// Reading stops at the first record that is short or fails its check (a torn tail).
// The file is written ahead with zeros and records overwrite them, so that the sync of a
// change needs no change of the file's size; a fresh start rewrites the header with the
// next epoch and leaves the old records behind it, where reading ends.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/store/MailData.h"
#include "engine/store/StoreFiles.h"

enum TJournalOp : uint8_t { joPut = 1, joDelete = 2 };

struct TJournalEntry {
  TJournalOp Op = joPut;
  uint8_t List = 0;
  TMailRecord Rec;
  bool HasData = false, HasLog = false;
  std::string Data, Log;
};

uint32_t Crc32(const void* Data, size_t Size, uint32_t Crc = 0);

class TMailJournal {
public:
  static constexpr size_t HeaderSize = 16;

  TMailJournal(TStoreFiles& Files, std::string Path);
  ~TMailJournal();  // ends the writer thread (the caller has flushed what it needs)
  TMailJournal(const TMailJournal&) = delete;
  TMailJournal& operator=(const TMailJournal&) = delete;

  // Opens the file and reads the records of its epoch. Clean: the file holds nothing
  // else (no records, no torn tail), so it needs no fresh start.
  std::vector<TJournalEntry> Open(bool& Clean);
  // The bytes of one record of the current epoch. The caller holds the store's change
  // lock, so that the epoch cannot change before the record is appended.
  std::string Encode(TJournalOp Op, uint8_t List, const TMailRecord& Rec, const std::string* Data = nullptr,
                     const std::string* Log = nullptr) const;
  // Queues the records Bytes (one change, written whole or not at all); Undo takes the
  // change back in memory should the write fail. Done, when given, is called once the
  // change is on disk (true) or failed and undone (false), without any lock of the
  // journal: a caller that need not wait goes on at once. A writer thread of the journal
  // writes what is queued whenever nobody waits for it. Answers the change's number.
  uint64_t Append(std::string Bytes, std::function<void()> Undo, std::function<void(bool)> Done = nullptr);
  // Until change Seq is on disk (true), or failed and undone (false, Error says why).
  bool Wait(uint64_t Seq, std::string& Error);
  // Until every change queued so far is on disk (true) or failed and undone, and its Done
  // call has run.
  bool WaitAll(std::string& Error);
  // Why the last write failed.
  std::string LastError() {
    std::lock_guard<std::mutex> L(FLock);
    return FError;
  }
  // Writes and syncs every queued change, undoing what fails. The caller holds the change
  // lock exclusively.
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

  // Called without any lock after a write failed: takes the change lock exclusively and
  // calls RunUndos.
  std::function<void()> OnFailure;

private:
  struct TPending {
    uint64_t Seq;
    std::function<void()> Undo;
    std::function<void(bool)> Done;
  };
  using TDoneList = std::vector<std::pair<std::function<void(bool)>, bool>>;
  // Writes the queued batch; FLock held on entry and on return (released meanwhile). The
  // Done calls of a written batch go to Finished.
  bool WriteBatch(std::unique_lock<std::mutex>& L, std::string& Error, TDoneList& Finished);
  // Runs the Done calls of one batch (without FLock).
  void RunDone(TDoneList& Finished);
  void WriterLoop();
  bool Repair(std::string& Error);
  bool IsIn(const std::vector<std::pair<uint64_t, uint64_t>>& Ranges, uint64_t Seq) const;
  std::string HeaderBytes(uint32_t Epoch) const;

  TStoreFiles& FFiles;
  std::string FPath;
  std::unique_ptr<TJournalFile> FFile;
  std::string FOpenError;
  std::atomic<uint32_t> FEpoch{1};

  std::mutex FLock;
  std::condition_variable FDone;
  std::string FBuffer;               // queued, not yet written
  std::vector<TPending> FPending;    // their changes, oldest first
  uint64_t FLastSeq = 0;
  std::atomic<uint64_t> FSynced{0};
  bool FWriting = false;
  // A write failed: its changes and every change queued after it wait for RunUndos, and
  // nothing is written meanwhile.
  bool FFailing = false;
  std::vector<TPending> FToUndo;
  std::vector<std::pair<uint64_t, uint64_t>> FUndone;  // failed and undone: [first, last]
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
