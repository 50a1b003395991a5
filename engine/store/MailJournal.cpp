#include "engine/store/MailJournal.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char JournalMagic[8] = {'Q', 'u', 'i', 'l', 'J', 'r', 'n', 'l'};
constexpr size_t RecordFixedSize = 339;  // up to the texts
constexpr uint32_t NoText = 0xFFFFFFFF;

void PutU32(std::string& S, uint32_t V) {
  for (int I = 0; I < 4; ++I) S += char((V >> (8 * I)) & 0xFF);
}

uint32_t GetU32(const uint8_t* P) {
  return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
}

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

uint32_t Crc32(const void* Data, size_t Size, uint32_t Crc) {
  static const TCrcTable Table;
  const uint8_t* P = static_cast<const uint8_t*>(Data);
  Crc = ~Crc;
  for (size_t I = 0; I < Size; ++I) Crc = Table.T[(Crc ^ P[I]) & 0xFF] ^ (Crc >> 8);
  return ~Crc;
}

TMailJournal::TMailJournal(TStoreFiles& Files, std::string Path) : FFiles(Files), FPath(std::move(Path)) {
  FWriter = std::thread([this] { WriterLoop(); });
}

TMailJournal::~TMailJournal() {
  {
    std::lock_guard<std::mutex> L(FLock);
    FEnding = true;
  }
  FDone.notify_all();
  FWriter.join();
}

void TMailJournal::RunDone(TDoneList& Finished) {
  if (Finished.empty()) return;
  for (auto& [Done, Ok] : Finished) Done(Ok);
  Finished.clear();
  std::lock_guard<std::mutex> L(FLock);
  --FDoneRunning;
  FDone.notify_all();
}

// Writes what changes queue without waiting for it (and everything queued with them).
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
    std::string Ignored;
    TDoneList Finished;
    WriteBatch(L, Ignored, Finished);
    L.unlock();
    RunDone(Finished);
    L.lock();
  }
}

std::string TMailJournal::HeaderBytes(uint32_t Epoch) const {
  std::string H(JournalMagic, 8);
  PutU32(H, Epoch);
  PutU32(H, Crc32(H.data(), H.size()));
  return H;
}

std::vector<TJournalEntry> TMailJournal::Open(bool& Clean) {
  std::vector<TJournalEntry> Entries;
  std::string Bytes;
  const bool Read = FFiles.ReadFile(FPath, Bytes);
  FFile = FFiles.OpenJournalFile(FPath, FOpenError);
  FAllocated = Bytes.size();
  const uint8_t* P = reinterpret_cast<const uint8_t*>(Bytes.data());
  if (!Read || Bytes.size() < HeaderSize || std::memcmp(P, JournalMagic, 8) != 0 || GetU32(P + 12) != Crc32(P, 12)) {
    // New, or not ours: nothing to replay, and it starts again before its first record.
    FNeedFresh = true;
    Clean = false;
    return Entries;
  }
  const uint32_t Epoch = GetU32(P + 8);
  FEpoch = Epoch;
  size_t Pos = HeaderSize;
  while (Bytes.size() - Pos >= RecordFixedSize + 4) {
    const uint8_t* R = P + Pos;
    const uint32_t Size = GetU32(R);
    if (Size < RecordFixedSize + 4 || Size > Bytes.size() - Pos) break;
    if (GetU32(R + Size - 4) != Crc32(R, Size - 4) || GetU32(R + 4) != Epoch) break;
    const uint32_t DataLen = GetU32(R + 331), LogLen = GetU32(R + 335);
    const uint64_t Texts = uint64_t(DataLen == NoText ? 0 : DataLen) + (LogLen == NoText ? 0 : LogLen);
    if (RecordFixedSize + Texts + 4 != Size || (R[8] != joPut && R[8] != joDelete) || R[9] > 2) break;
    TJournalEntry E;
    E.Op = TJournalOp(R[8]);
    E.List = R[9];
    ReadMailRecord(R + 10, E.Rec);
    const char* T = reinterpret_cast<const char*>(R + RecordFixedSize);
    if (DataLen != NoText) {
      E.HasData = true;
      E.Data.assign(T, DataLen);
      T += DataLen;
    }
    if (LogLen != NoText) {
      E.HasLog = true;
      E.Log.assign(T, LogLen);
    }
    Entries.push_back(std::move(E));
    Pos += Size;
  }
  FPos = Pos;
  // Clean: nothing to replay and nothing but zeros (or older epochs) where the next
  // record goes. A torn record there is left behind by a fresh start.
  const bool TornTail = Bytes.size() - Pos >= 8 && GetU32(P + Pos) != 0 && GetU32(P + Pos + 4) == Epoch;
  Clean = Entries.empty() && !TornTail;
  FHasRecords = !Clean;
  return Entries;
}

std::string TMailJournal::Encode(TJournalOp Op, uint8_t List, const TMailRecord& Rec, const std::string* Data,
                                 const std::string* Log) const {
  const size_t Size = RecordFixedSize + (Data ? Data->size() : 0) + (Log ? Log->size() : 0) + 4;
  std::string B;
  B.reserve(Size);
  PutU32(B, uint32_t(Size));
  PutU32(B, FEpoch.load());
  B += char(Op);
  B += char(List);
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

uint64_t TMailJournal::Append(std::string Bytes, std::function<void()> Undo, std::function<void(bool)> Done) {
  uint64_t Seq;
  {
    std::lock_guard<std::mutex> L(FLock);
    Seq = ++FLastSeq;
    if (FBuffer.empty())
      FBuffer = std::move(Bytes);
    else
      FBuffer += Bytes;
    FPending.push_back(TPending{Seq, std::move(Undo), std::move(Done)});
  }
  FDone.notify_all();
  return Seq;
}

bool TMailJournal::IsIn(const std::vector<std::pair<uint64_t, uint64_t>>& Ranges, uint64_t Seq) const {
  for (auto& [First, Last] : Ranges)
    if (Seq >= First && Seq <= Last) return true;
  return false;
}

bool TMailJournal::Repair(std::string& Error) {
  if (!FFile) FFile = FFiles.OpenJournalFile(FPath, Error);
  if (!FFile) return false;
  if (FNeedFresh) {
    if (!FFile->Truncate(0, Error)) return false;
    FAllocated = 0;
    FNeedFresh = false;
    FNeedHeader = true;
  }
  if (FNeedHeader) {
    if (!FFile->WriteAt(0, HeaderBytes(FEpoch), Error) || !FFile->Sync(Error)) return false;
    FAllocated = std::max<uint64_t>(FAllocated, HeaderSize);
    FPos = HeaderSize;
    FNeedHeader = false;
    FInvalidLen = 0;
  }
  if (FInvalidLen > 0) {
    // Records of a failed write must not read as the journal's next ones after a crash.
    if (!FFile->WriteAt(FPos, std::string(size_t(FInvalidLen), '\0'), Error) || !FFile->Sync(Error)) return false;
    FInvalidLen = 0;
  }
  return true;
}

bool TMailJournal::WriteBatch(std::unique_lock<std::mutex>& L, std::string& Error, TDoneList& Finished) {
  if (FPending.empty()) return true;
  std::string Batch;
  Batch.swap(FBuffer);
  std::vector<TPending> Entries;
  Entries.swap(FPending);
  FWriting = true;
  L.unlock();
  // Only the writer touches the file and its positions.
  bool Ok = Repair(Error);
  if (Ok && FPos + Batch.size() > FAllocated) {
    // Zeros ahead, as much again as the file holds (64 KB to 16 MB at a time): records
    // written there later change no size, so their syncs stay cheap.
    const uint64_t Need = FPos + Batch.size() - FAllocated;
    const uint64_t Grow = std::max<uint64_t>(Need, std::clamp<uint64_t>(FAllocated, 64 << 10, 16 << 20));
    Ok = FFile->WriteAt(FAllocated, std::string(size_t(Grow), '\0'), Error);
    if (Ok) FAllocated += Grow;
  }
  if (Ok) {
    Ok = FFile->WriteAt(FPos, Batch, Error) && FFile->Sync(Error);
    if (!Ok) {
      FInvalidLen = Batch.size();
      std::string Ignored;
      Repair(Ignored);
    }
  }
  L.lock();
  FWriting = false;
  if (Ok) {
    FPos += Batch.size();
    FSynced = Entries.back().Seq;
    FHasRecords = true;
    const size_t Before = Finished.size();
    for (auto& E : Entries)
      if (E.Done) Finished.emplace_back(std::move(E.Done), true);
    if (Before == 0 && !Finished.empty()) ++FDoneRunning;
  } else {
    FFailing = true;
    FError = Error;
    for (auto& E : Entries) FToUndo.push_back(std::move(E));
  }
  FDone.notify_all();
  return Ok;
}

bool TMailJournal::Wait(uint64_t Seq, std::string& Error) {
  std::unique_lock<std::mutex> L(FLock);
  for (;;) {
    if (IsIn(FUndone, Seq)) {
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
    // Nobody is writing: this thread writes for itself and for everyone queued meanwhile.
    std::string Ignored;
    TDoneList Finished;
    WriteBatch(L, Ignored, Finished);
    if (Finished.empty()) continue;
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
  const bool Ok = Last == 0 || Wait(Last, Error);
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
    // What was queued after the failure saw the failed changes: it goes with them.
    Undos.swap(FToUndo);
    for (auto& P : FPending) Undos.push_back(std::move(P));
    FPending.clear();
    FBuffer.clear();
  }
  for (auto It = Undos.rbegin(); It != Undos.rend(); ++It)
    if (It->Undo) It->Undo();
  TDoneList Finished;
  for (auto& U : Undos)
    if (U.Done) Finished.emplace_back(std::move(U.Done), false);
  {
    std::lock_guard<std::mutex> L(FLock);
    if (!Undos.empty()) FUndone.emplace_back(Undos.front().Seq, Undos.back().Seq);
    if (!Finished.empty()) ++FDoneRunning;
    FFailing = false;
    FDone.notify_all();
  }
  RunDone(Finished);
}

bool TMailJournal::Flush(std::string& Error) {
  std::unique_lock<std::mutex> L(FLock);
  for (;;) {
    while (FWriting) FDone.wait(L);
    if (!FFailing) break;
    // A failed write not yet taken back: what is queued goes with it.
    L.unlock();
    RunUndos();
    L.lock();
  }
  TDoneList Finished;
  const bool Ok = WriteBatch(L, Error, Finished);
  L.unlock();
  RunDone(Finished);
  if (Ok) return true;
  RunUndos();
  return false;
}

bool TMailJournal::Restart(std::string& Error) {
  std::unique_lock<std::mutex> L(FLock);
  while (FWriting) FDone.wait(L);
  FEpoch = FEpoch + 1;
  FNeedHeader = true;
  FHasRecords = false;
  return Repair(Error);
}
