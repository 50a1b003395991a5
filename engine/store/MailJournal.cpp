#include "engine/store/MailJournal.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

using namespace JournalFormat;

namespace {

struct TCrcTable {
  uint32_t T[256];
  TCrcTable() {
    for (uint32_t I = 0; I < 256; ++I) {
      uint32_t C = I;
      for (int K = 0; K < 8; ++K) C = C & 1 ? 0xEDB88320u ^ (C >> 1) : C >> 1;
      T[I] = C;
    }
  }
};

}  // namespace

bool IsNoSpaceError(const std::string& Error) {
  return Error == std::strerror(ENOSPC) || Error == std::strerror(EDQUOT);
}

uint32_t Crc32(const void* Data, size_t Size, uint32_t Crc) {
  static const TCrcTable Table;
  const uint8_t* P = static_cast<const uint8_t*>(Data);
  Crc = ~Crc;
  for (size_t I = 0; I < Size; ++I) Crc = Table.T[(Crc ^ P[I]) & 0xFF] ^ (Crc >> 8);
  return ~Crc;
}

std::string JournalFormat::HeaderCopy(uint64_t ID) {
  std::string H(Magic, 8);
  PutU64(H, ID);
  PutU32(H, Crc32(H.data(), H.size()));
  return H;
}

std::string JournalFormat::Head(uint32_t Size, uint64_t ID, TJournalOp Op, uint8_t List) {
  std::string H;
  H.reserve(HeadSize);
  PutU32(H, Size);
  PutU64(H, ID);
  H += char(Op);
  H += char(List);
  PutU32(H, Crc32(H.data(), H.size()));
  return H;
}

uint64_t JournalFormat::NewJournalID() {
  uint64_t ID = 0;
  while (ID == 0) {
    if (::getrandom(&ID, sizeof ID, 0) == ssize_t(sizeof ID)) continue;
    // No random source from the kernel: the clock and the address space's layout.
    ID = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ uint64_t(uintptr_t(&ID)) << 16 ^
         uint64_t(::getpid()) << 48;
  }
  return ID;
}

TMailJournal::TMailJournal(TStoreFiles& Files, std::string Path) : FFiles(Files), FPath(std::move(Path)) {
  FWriter = std::thread([this] { WriterLoop(); });
}

TMailJournal::~TMailJournal() { Close(); }

void TMailJournal::Close() {
  {
    std::lock_guard<std::mutex> L(FLock);
    FEnding = true;
  }
  FDone.notify_all();
  if (FWriter.joinable()) FWriter.join();
}

void TMailJournal::RunDone(TDoneList& Finished) {
  int Stall;
  std::string Error;
  {
    std::lock_guard<std::mutex> L(FLock);
    Stall = FStallCalls;
    FStallCalls = 0;
    Error = FError;
  }
  if (Stall > 0 && OnStall) OnStall(Error);
  if (Stall < 0 && OnResume) OnResume();
  if (Finished.empty()) return;
  for (auto& [Done, Ok] : Finished) Done(Ok);
  Finished.clear();
  std::lock_guard<std::mutex> L(FLock);
  --FDoneRunning;
  FDone.notify_all();
}

// Writes what changes queue without waiting for it (and everything queued with them), and
// tries a stalled write again now and then.
void TMailJournal::WriterLoop() {
  std::unique_lock<std::mutex> L(FLock);
  while (!FEnding) {
    if (FFailing) {
      L.unlock();
      if (OnFailure) OnFailure();
      L.lock();
      continue;
    }
    if (FPending.empty() || FWriting) {
      FDone.wait(L);
      continue;
    }
    if (FStalled && FPending.back().Seq <= FTriedSeq) {
      // Nothing new since the write that failed: wait a while before the next try.
      const uint64_t Tried = FTriedSeq;
      if (FDone.wait_for(L, FRetryInterval, [&] {
            return FEnding || FWriting || FFailing || !FStalled || FPending.empty() || FPending.back().Seq > Tried;
          }))
        continue;
    }
    std::string Ignored;
    TDoneList Finished;
    WriteBatch(L, Ignored, Finished);
    L.unlock();
    RunDone(Finished);
    L.lock();
  }
}

TJournalRead TMailJournal::Open() {
  std::string Bytes, Error;
  if (!FFiles.ReadFile(FPath, Bytes, Error) && Error != std::strerror(ENOENT)) {
    // Whatever it holds is still to be replayed by a start that can read it.
    FUnusable = Error;
    TJournalRead J;
    return J;
  }
  TJournalRead J = ReadJournal(Bytes);
  FFile = FFiles.OpenJournalFile(FPath, Error);
  if (!FFile) {
    // Its changes can be shown, but none can follow them: what is filed meanwhile would be
    // lost, and a delivery could go out again after the next start.
    FUnusable = Error;
    FUnwritable = true;
    return J;
  }
  FAllocated = Bytes.size();
  FID = J.ID;
  FPos = J.End;
  FLegacy = J.Legacy;
  FSetAside = J.SetAside;
  if (FSetAside) FSetAsideName = FreeSetAsideName();
  // Anything but a clean journal starts again at the save that follows loading; a new one
  // first gets its header, before its first record.
  FNeedHeader = J.Fresh || J.SetAside;
  if (FNeedHeader) FID = NewJournalID();
  // A torn or damaged end must not read as records after the next ones.
  FInvalidLen = J.Leftover;
  FDirtyEnd = J.Legacy || J.Fresh || J.SetAside ? FAllocated : J.End + J.Leftover;
  FHasRecords = !J.Clean();
  return J;
}

std::string TMailJournal::Encode(TJournalOp Op, uint8_t List, const TMailRecord& Rec, const std::string* Data,
                                 const std::string* Log) const {
  const size_t Size = PutFixedSize + (Data ? Data->size() : 0) + (Log ? Log->size() : 0) + 4;
  std::string B = Head(uint32_t(Size), FID.load(), Op, List);
  B.reserve(Size);
  uint8_t Buf[MailRecordSize];
  WriteMailRecord(Rec, Buf);
  if (Buf[315] == msSending) Buf[315] = msWaiting;  // as the index files hold it
  B.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
  PutU32(B, Data ? uint32_t(Data->size()) : NoText);
  PutU32(B, Log ? uint32_t(Log->size()) : NoText);
  if (Data) B += *Data;
  if (Log) B += *Log;
  PutU32(B, Crc32(B.data(), B.size()));
  return B;
}

TEncodedMail TMailJournal::EncodeNew(const std::vector<const TMailRecord*>& Recs, const std::vector<std::string>& Data,
                                     const std::vector<std::string>& Log) const {
  auto Lines = [](const std::vector<std::string>& V) {
    size_t N = 0;
    for (auto& L : V) N += L.size() + 2;
    return N;
  };
  TEncodedMail M;
  M.DataSize = Lines(Data);
  M.LogSize = Lines(Log);
  const size_t Size = NewFixedSize + Recs.size() * MailRecordSize + 8 + M.DataSize + M.LogSize + 4;
  M.Bytes = std::make_shared<std::string>(Head(uint32_t(Size), FID.load(), joNew, 0));
  std::string& B = *M.Bytes;
  B.reserve(Size);
  PutU32(B, uint32_t(Recs.size()));
  uint8_t Buf[MailRecordSize];
  for (const TMailRecord* R : Recs) {
    WriteMailRecord(*R, Buf);
    if (Buf[315] == msSending) Buf[315] = msWaiting;
    B.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
  }
  PutU32(B, uint32_t(M.DataSize));
  PutU32(B, uint32_t(M.LogSize));
  M.DataOffset = B.size();
  for (auto& L : Data) B.append(L).append("\r\n");
  M.LogOffset = B.size();
  for (auto& L : Log) B.append(L).append("\r\n");
  PutU32(B, Crc32(B.data(), B.size()));
  return M;
}

uint64_t TMailJournal::Append(std::shared_ptr<const std::string> Bytes, std::function<void()> Undo,
                              std::function<void(bool)> Done, uint64_t RoomAfter,
                              std::shared_ptr<const std::string> Fallback) {
  uint64_t Seq;
  {
    std::lock_guard<std::mutex> L(FLock);
    Seq = ++FLastSeq;
    FPending.push_back(
        TPending{Seq, std::move(Bytes), std::move(Undo), std::move(Done), RoomAfter, std::move(Fallback)});
  }
  FDone.notify_all();
  return Seq;
}

// Never over one set aside before.
std::string TMailJournal::FreeSetAsideName() const {
  std::string Name = FPath + ".damaged";
  for (int N = 1; FFiles.FileExists(Name); ++N) Name = FPath + ".damaged." + std::to_string(N);
  return Name;
}

bool TMailJournal::Repair(std::string& Error) {
  if (!FUnusable.empty()) {
    Error = FUnusable;
    return false;
  }
  if (FLegacy) {
    Error = "The mail journal is of an earlier layout and is written anew at the next save.";
    return false;
  }
  if (FSetAside) {
    // Records that cannot be trusted: kept for whoever looks into them.
    FFile.reset();
    if (FFiles.FileExists(FSetAsideName)) FSetAsideName = FreeSetAsideName();
    if (!FFiles.RenameFile(FPath, FSetAsideName, Error)) return false;
    FSetAside = false;
    FAllocated = FDirtyEnd = 0;
  }
  if (!FFile) FFile = FFiles.OpenJournalFile(FPath, Error);
  if (!FFile) return false;
  if (FNeedHeader) {
    // The header first, on disk before any old record goes: a crash then leaves the old
    // journal whole, or records of another journal behind the new header, never the old
    // header over what is left of its records. Then the rest of the file goes back to the
    // disk, and what is kept of the old records is zeroed (behind them the file holds zeros
    // already).
    const uint64_t Keep = HeaderSize + FKeep;
    const uint64_t Old = std::min(Keep, std::max<uint64_t>(FDirtyEnd, HeaderSize));
    if (!FFile->WriteAt(0, HeaderCopy(FID) + HeaderCopy(FID), Error) || !FFile->Sync(Error)) return false;
    FAllocated = std::max<uint64_t>(FAllocated, HeaderSize);
    if (FAllocated > Keep) {
      if (!FFile->Truncate(Keep, Error)) return false;
      FAllocated = Keep;
    }
    if (!ZeroOut(HeaderSize, Old, Error)) return false;
    FPos = FDirtyEnd = HeaderSize;
    FNeedHeader = false;
    FInvalidLen = 0;
  }
  if (FInvalidLen > 0) {
    // Records of a failed write must not read as the journal's next ones after a crash.
    if (!ZeroOut(FPos, FPos + FInvalidLen, Error)) return false;
    FInvalidLen = 0;
  }
  return true;
}

bool TMailJournal::ZeroOut(uint64_t From, uint64_t To, std::string& Error) {
  // The head at From goes last, each part synced: until everything behind it is zero, it
  // tells what the bytes behind it are (a torn record, or the journal before), and once it
  // is gone nothing is left behind it. The page cache may write pages out in any order.
  const uint64_t Head = std::min<uint64_t>(To, From + HeadSize);
  if (To > Head && (!FFile->WriteAt(Head, std::string(size_t(To - Head), '\0'), Error) || !FFile->Sync(Error)))
    return false;
  return Head == From || (FFile->WriteAt(From, std::string(size_t(Head - From), '\0'), Error) && FFile->Sync(Error));
}

bool TMailJournal::Grow(uint64_t End, std::string& Error) {
  if (End <= FAllocated) return true;
  // Zeros ahead, as much again as the file holds (64 KB to 16 MB at a time): records
  // written there later change no size, so their syncs stay cheap. On a full disk, what is
  // needed may still fit.
  const uint64_t Need = End - FAllocated;
  const uint64_t Step = std::max<uint64_t>(Need, std::clamp<uint64_t>(FAllocated, 64 << 10, 16 << 20));
  for (const uint64_t Size : {Step, Need}) {
    if (FFile->WriteAt(FAllocated, std::string(size_t(Size), '\0'), Error)) {
      FAllocated += Size;
      return true;
    }
    if (Size == Need) break;
  }
  return false;
}

bool TMailJournal::WriteBatch(std::unique_lock<std::mutex>& L, std::string& Error, TDoneList& Finished) {
  if (FPending.empty()) return true;
  std::vector<TPending> Batch(std::make_move_iterator(FPending.begin()), std::make_move_iterator(FPending.end()));
  FPending.clear();
  FTriedSeq = Batch.back().Seq;
  FWriting = true;
  L.unlock();
  // Only the writer touches the file and its positions.
  std::vector<TPending> Written, Failed;  // each in the order of the batch
  uint64_t Total = 0;
  bool Ok = Repair(Error);
  if (!Ok) {
    Failed = std::move(Batch);
  } else {
    // In order, as far as there is room: a change that can be taken back needs the room
    // that the mails already taken still need behind it, or it is refused; so does a kept
    // change whole, where its fallback can take its place. A kept change that finds no room
    // waits, and every later change with it.
    bool Stop = false;
    for (auto& E : Batch) {
      const uint64_t Need = FPos + Total + E.Bytes->size() + (E.Undo || E.Fallback ? E.RoomAfter : 0);
      const bool Fits = !Stop && Grow(Need, Error);
      if (!Fits && !Stop && E.Fallback && Grow(FPos + Total + E.Fallback->size(), Error)) E.Bytes = E.Fallback;
      if (Fits || E.Bytes == E.Fallback) {
        Total += E.Bytes->size();
        Written.push_back(std::move(E));
        continue;
      }
      if (!E.Undo) Stop = true;
      Failed.push_back(std::move(E));
    }
  }
  if (!Written.empty()) {
    FDirtyEnd = std::max(FDirtyEnd, FPos + Total);
    uint64_t At = FPos;
    bool Wrote = true;
    for (auto& E : Written) {
      if (!(Wrote = FFile->WriteAt(At, *E.Bytes, Error))) break;
      At += E.Bytes->size();
    }
    if (!Wrote || !FFile->Sync(Error)) {
      FInvalidLen = Total;
      std::string Ignored;
      Repair(Ignored);
      Written.insert(Written.end(), std::make_move_iterator(Failed.begin()), std::make_move_iterator(Failed.end()));
      Failed = std::move(Written);
      Written.clear();
    }
  }
  L.lock();
  FWriting = false;
  if (!Written.empty()) {
    FPos += Total;
    FWrittenTo = Written.back().Seq;
    FHasRecords = true;
    const size_t Before = Finished.size();
    for (auto& E : Written)
      if (E.Done) Finished.emplace_back(std::move(E.Done), true);
    if (Before == 0 && !Finished.empty()) ++FDoneRunning;
  }
  // A change that can be taken back is; the others go first in the queue again.
  std::vector<TPending> Kept;
  if (!Failed.empty()) FError = Error;
  for (auto& E : Failed) (E.Undo ? FToUndo : Kept).push_back(std::move(E));
  FFailing = !FToUndo.empty();
  // Up to the first change still to be taken back: a mail refused for room must not count as
  // on disk because a later, smaller one of its batch was written.
  if (!FFailing) FSynced = std::max(FSynced.load(), FWrittenTo);
  else FSynced = std::max(FSynced.load(), std::min(FWrittenTo, FToUndo.front().Seq - 1));
  if (!Kept.empty()) {
    FPending.insert(FPending.begin(), std::make_move_iterator(Kept.begin()), std::make_move_iterator(Kept.end()));
    if (!FStalled) {
      FStalled = true;
      ++FStallCalls;
    }
  } else if (FStalled) {
    FStalled = false;
    --FStallCalls;
  }
  FDone.notify_all();
  return Failed.empty();
}

bool TMailJournal::Wait(uint64_t Seq, std::string& Error) { return WaitFor(Seq, Error, true); }

bool TMailJournal::WaitFor(uint64_t Seq, std::string& Error, bool Forget) {
  std::unique_lock<std::mutex> L(FLock);
  bool Tried = false;
  for (;;) {
    if (auto U = FUndone.find(Seq); U != FUndone.end()) {
      if (Forget) FUndone.erase(U);
      Error = FError;
      return false;
    }
    if (Seq <= FSynced) return true;
    if (FFailing) {
      L.unlock();
      if (OnFailure) OnFailure();
      L.lock();
      continue;
    }
    if (FWriting) {
      FDone.wait(L);
      continue;
    }
    if (Tried) {
      // Kept for a later write: not on disk yet.
      Error = FError;
      return false;
    }
    // Nobody is writing: this thread writes for itself and for everyone queued meanwhile.
    std::string Ignored;
    TDoneList Finished;
    WriteBatch(L, Ignored, Finished);
    Tried = true;
    L.unlock();
    RunDone(Finished);
    L.lock();
  }
}

bool TMailJournal::WaitAll(std::string& Error) {
  uint64_t Last;
  {
    std::lock_guard<std::mutex> L(FLock);
    Last = FLastSeq;
  }
  // Asks without taking the answer from the change's own appender.
  const bool Ok = Last == 0 || WaitFor(Last, Error, false);
  std::unique_lock<std::mutex> L(FLock);
  FDone.wait(L, [this] { return FDoneRunning == 0; });
  return Ok;
}

void TMailJournal::RunUndos() {
  std::vector<TPending> Undos;
  {
    std::unique_lock<std::mutex> L(FLock);
    while (FWriting) FDone.wait(L);
    if (!FFailing) return;
    if (FUndoing) {
      // Another caller runs them: the failure is over only once they are done and recorded.
      FDone.wait(L, [this] { return !FFailing; });
      return;
    }
    FUndoing = true;
    Undos.swap(FToUndo);
  }
  for (auto It = Undos.rbegin(); It != Undos.rend(); ++It) It->Undo();
  TDoneList Finished;
  for (auto& U : Undos)
    if (U.Done) Finished.emplace_back(std::move(U.Done), false);
  {
    std::lock_guard<std::mutex> L(FLock);
    for (auto& U : Undos) FUndone.insert(U.Seq);
    if (!Finished.empty()) ++FDoneRunning;
    FUndoing = false;
    FFailing = false;
    FSynced = std::max(FSynced.load(), FWrittenTo);
    FDone.notify_all();
  }
  RunDone(Finished);
}

bool TMailJournal::Flush(std::string& Error) {
  std::unique_lock<std::mutex> L(FLock);
  for (;;) {
    while (FWriting) FDone.wait(L);
    if (!FFailing) break;
    L.unlock();
    RunUndos();
    L.lock();
  }
  TDoneList Finished;
  bool Ok = WriteBatch(L, Error, Finished);
  L.unlock();
  RunDone(Finished);
  if (Ok) return true;
  RunUndos();
  L.lock();
  if (FPending.empty()) return true;
  Error = FError;
  return false;
}

bool TMailJournal::Restart(std::string& Error, uint64_t Room) {
  std::unique_lock<std::mutex> L(FLock);
  while (FWriting) FDone.wait(L);
  if (!FUnusable.empty()) {
    Error = FUnusable;
    return false;
  }
  FID = NewJournalID();
  FNeedHeader = true;
  FLegacy = false;
  FKeep = Room;
  FHasRecords = false;
  return Repair(Error);
}
