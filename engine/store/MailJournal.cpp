#include "engine/store/MailJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr char JournalMagic[8] = {'Q', 'u', 'i', 'l', 'J', 'r', 'n', 'l'};
constexpr size_t RecordFixedSize = 339;  // up to the texts, of operations 1 and 2
constexpr size_t NewFixedSize = 14;      // up to the records, of operation 3
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

uint64_t TextSize(uint32_t Size) { return Size == NoText ? 0 : Size; }

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

std::string TMailJournal::HeaderBytes(uint32_t Epoch) const {
  std::string H(JournalMagic, 8);
  PutU32(H, Epoch);
  PutU32(H, Crc32(H.data(), H.size()));
  return H;
}

namespace {

// The size of the record of epoch Epoch at R when it is a whole, valid one; 0 otherwise.
size_t ValidRecord(const uint8_t* R, size_t Avail, uint32_t Epoch) {
  if (Avail < RecordFixedSize + 4) return 0;
  const uint32_t Size = GetU32(R);
  if (Size < RecordFixedSize + 4 || Size > Avail || GetU32(R + 4) != Epoch || R[9] > 2) return 0;
  if (R[8] == joPut || R[8] == joDelete) {
    if (RecordFixedSize + TextSize(GetU32(R + 331)) + TextSize(GetU32(R + 335)) + 4 != Size) return 0;
  } else if (R[8] == joNew) {
    const uint64_t Count = GetU32(R + 10);
    if (Count == 0 || R[9] != 0 || Count > Size / MailRecordSize) return 0;
    const uint64_t Texts = NewFixedSize + Count * MailRecordSize;
    if (Texts + 12 > Size) return 0;
    if (Texts + 8 + TextSize(GetU32(R + Texts)) + TextSize(GetU32(R + Texts + 4)) + 4 != Size) return 0;
  } else {
    return 0;
  }
  return GetU32(R + Size - 4) == Crc32(R, Size - 4) ? Size : 0;
}

std::shared_ptr<const std::string> TextAt(const uint8_t*& T, uint32_t Size) {
  if (Size == NoText) return nullptr;
  auto S = std::make_shared<const std::string>(reinterpret_cast<const char*>(T), Size);
  T += Size;
  return S;
}

void DecodeRecord(const uint8_t* R, std::vector<TJournalEntry>& Entries) {
  if (R[8] != joNew) {
    TJournalEntry E;
    E.Op = TJournalOp(R[8]);
    E.List = R[9];
    ReadMailRecord(R + 10, E.Rec);
    const uint8_t* T = R + RecordFixedSize;
    E.Data = TextAt(T, GetU32(R + 331));
    E.Log = TextAt(T, GetU32(R + 335));
    Entries.push_back(std::move(E));
    return;
  }
  const uint32_t Count = GetU32(R + 10);
  const uint8_t* Sizes = R + NewFixedSize + size_t(Count) * MailRecordSize;
  const uint8_t* T = Sizes + 8;
  auto Data = TextAt(T, GetU32(Sizes));
  auto Log = TextAt(T, GetU32(Sizes + 4));
  for (uint32_t I = 0; I < Count; ++I) {
    TJournalEntry E;
    E.Op = joPut;
    E.List = 0;
    ReadMailRecord(R + NewFixedSize + size_t(I) * MailRecordSize, E.Rec);
    E.Data = Data;
    E.Log = Log;
    Entries.push_back(std::move(E));
  }
}

}  // namespace

std::vector<TJournalEntry> TMailJournal::Open(bool& Clean, std::vector<TJournalDamage>& Damage) {
  std::vector<TJournalEntry> Entries;
  Damage.clear();
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
  const size_t End = Bytes.size();
  size_t Pos = HeaderSize;
  for (;;) {
    if (const size_t Size = ValidRecord(P + Pos, End - Pos, Epoch)) {
      DecodeRecord(P + Pos, Entries);
      Pos += Size;
      continue;
    }
    // Not a record: the end, or damage with valid records after it. The damaged record's
    // own size, when it still leads to a valid record, skips it without looking inside.
    if (std::all_of(P + Pos, P + End, [](uint8_t B) { return B == 0; })) break;
    size_t Next = 0;
    int Skipped = 1;
    const size_t Claimed = End - Pos >= 4 ? GetU32(P + Pos) : 0;
    if (Claimed >= RecordFixedSize + 4 && Claimed < End - Pos && ValidRecord(P + Pos + Claimed, End - Pos - Claimed, Epoch))
      Next = Pos + Claimed;
    for (size_t Q = Pos + 1; Next == 0 && Q + RecordFixedSize + 4 <= End; ++Q)
      if (GetU32(P + Q + 4) == Epoch && ValidRecord(P + Q, End - Q, Epoch)) Next = Q;
    if (Next == 0) break;
    // How many records the damaged bytes held, as far as their sizes still tell.
    for (size_t Hop = Pos + Claimed; Claimed >= RecordFixedSize + 4 && Hop < Next;) {
      const size_t S = GetU32(P + Hop);
      if (S < RecordFixedSize + 4 || Hop + S > Next) break;
      ++Skipped;
      Hop += S;
    }
    Damage.push_back(TJournalDamage{Pos, Skipped});
    Pos = Next;
  }
  FPos = Pos;
  // Clean: nothing to replay and nothing but zeros (or older epochs) where the next
  // record goes. A torn record there is left behind by a fresh start.
  const bool TornTail = End - Pos >= 8 && GetU32(P + Pos) != 0 && GetU32(P + Pos + 4) == Epoch;
  Clean = Entries.empty() && !TornTail && Damage.empty();
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
  M.Bytes = std::make_shared<std::string>();
  std::string& B = *M.Bytes;
  B.reserve(Size);
  PutU32(B, uint32_t(Size));
  PutU32(B, FEpoch.load());
  B += char(joNew);
  B += char(0);
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
                              std::function<void(bool)> Done) {
  uint64_t Seq;
  {
    std::lock_guard<std::mutex> L(FLock);
    Seq = ++FLastSeq;
    FPending.push_back(TPending{Seq, std::move(Bytes), std::move(Undo), std::move(Done)});
  }
  FDone.notify_all();
  return Seq;
}

bool TMailJournal::IsUndone(uint64_t Seq) const {
  return std::find(FUndone.begin(), FUndone.end(), Seq) != FUndone.end();
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
  std::vector<TPending> Batch(std::make_move_iterator(FPending.begin()), std::make_move_iterator(FPending.end()));
  FPending.clear();
  FTriedSeq = Batch.back().Seq;
  FWriting = true;
  L.unlock();
  // Only the writer touches the file and its positions.
  uint64_t Total = 0;
  for (auto& E : Batch) Total += E.Bytes->size();
  bool Ok = Repair(Error);
  if (Ok && FPos + Total > FAllocated) {
    // Zeros ahead, as much again as the file holds (64 KB to 16 MB at a time): records
    // written there later change no size, so their syncs stay cheap.
    const uint64_t Need = FPos + Total - FAllocated;
    const uint64_t Grow = std::max<uint64_t>(Need, std::clamp<uint64_t>(FAllocated, 64 << 10, 16 << 20));
    Ok = FFile->WriteAt(FAllocated, std::string(size_t(Grow), '\0'), Error);
    if (Ok) FAllocated += Grow;
  }
  if (Ok) {
    uint64_t At = FPos;
    for (auto& E : Batch) {
      if (!(Ok = FFile->WriteAt(At, *E.Bytes, Error))) break;
      At += E.Bytes->size();
    }
    Ok = Ok && FFile->Sync(Error);
    if (!Ok) {
      FInvalidLen = Total;
      std::string Ignored;
      Repair(Ignored);
    }
  }
  L.lock();
  FWriting = false;
  if (Ok) {
    FPos += Total;
    FSynced = Batch.back().Seq;
    FHasRecords = true;
    if (FStalled) {
      FStalled = false;
      --FStallCalls;
    }
    const size_t Before = Finished.size();
    for (auto& E : Batch)
      if (E.Done) Finished.emplace_back(std::move(E.Done), true);
    if (Before == 0 && !Finished.empty()) ++FDoneRunning;
  } else {
    FError = Error;
    // A change that can be taken back is; the others go first in the queue again.
    std::vector<TPending> Kept;
    for (auto& E : Batch) (E.Undo ? FToUndo : Kept).push_back(std::move(E));
    FFailing = !FToUndo.empty();
    if (!Kept.empty()) {
      FPending.insert(FPending.begin(), std::make_move_iterator(Kept.begin()), std::make_move_iterator(Kept.end()));
      if (!FStalled) {
        FStalled = true;
        ++FStallCalls;
      }
    }
  }
  FDone.notify_all();
  return Ok;
}

bool TMailJournal::Wait(uint64_t Seq, std::string& Error) {
  std::unique_lock<std::mutex> L(FLock);
  bool Tried = false;
  for (;;) {
    if (IsUndone(Seq)) {
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
    Undos.swap(FToUndo);
  }
  for (auto It = Undos.rbegin(); It != Undos.rend(); ++It) It->Undo();
  TDoneList Finished;
  for (auto& U : Undos)
    if (U.Done) Finished.emplace_back(std::move(U.Done), false);
  {
    std::lock_guard<std::mutex> L(FLock);
    for (auto& U : Undos) FUndone.push_back(U.Seq);
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

bool TMailJournal::Restart(std::string& Error) {
  std::unique_lock<std::mutex> L(FLock);
  while (FWriting) FDone.wait(L);
  FEpoch = FEpoch + 1;
  FNeedHeader = true;
  FHasRecords = false;
  return Repair(Error);
}
