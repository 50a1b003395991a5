// Loading and saving of the mail store: the index files, the journal replayed over them
// at start-up, and the save that writes the changed index files and starts the journal
// again.
#include <algorithm>
#include <climits>
#include <unordered_map>
#include <unordered_set>

#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"

namespace {

constexpr char IndexMagic[8] = {'V', 'e', 'x', 'a', 'M', 'I', 'd', 'x'};
constexpr size_t IndexHeaderSize = 22;

void PutU16(std::string& S, uint16_t V) {
  S += char(V & 0xFF);
  S += char(V >> 8);
}

void PutU32(std::string& S, uint32_t V) {
  for (int I = 0; I < 4; ++I) S += char((V >> (8 * I)) & 0xFF);
}

// A decimal number as IDs are written; false for anything else.
bool ParseID(const std::string& S, int64_t& V) {
  if (S.empty() || S.size() > 10) return false;
  V = 0;
  for (char C : S) {
    if (C < '0' || C > '9') return false;
    V = V * 10 + (C - '0');
  }
  return true;
}

// An ID names the mail's files: one that reaches out of the data folder (or that a NUL
// would cut) has no message file of its own.
bool IsFileName(const std::string& ID) {
  return !ID.empty() && ID.find_first_of(std::string("/\0", 2)) == std::string::npos && ID != "." && ID != "..";
}

}  // namespace

TMemoryMailStore::TRecordList& TMemoryMailStore::ListOf(int Kind) {
  return Kind == lkQueue ? FQueue : Kind == lkSent ? FSent : FFailed;
}

std::atomic<bool>& TMemoryMailStore::ChangedFlagOf(int Kind) {
  return Kind == lkQueue ? FQueueChanged : Kind == lkSent ? FSentChanged : FFailedChanged;
}

void TMemoryMailStore::Load() {
  std::lock_guard<std::mutex> F(FFileMutex);
  const TJournalRead Journal = FJournal->Open();
  std::unordered_set<std::string> Seen;
  LoadIndex(FQueueFile, lkQueue, Seen);
  LoadIndex(FSentFile, lkSent, Seen);
  LoadIndex(FFailedFile, lkFailed, Seen);
  bool Touched[3] = {false, false, false};
  std::unordered_set<std::string> Restored;
  Replay(Journal.Entries, Touched, Restored);

  // One scan of the message folder tells which mails still have their message.
  std::vector<std::string> Names;
  FFiles->ListFiles(FDataDir + "mail", Names);
  std::unordered_set<std::string> Messages;
  // New mails are numbered above every file there: a message that belongs to no mail (its
  // record was lost) is never written over.
  int64_t Largest = 0;
  for (auto& N : Names) {
    if (N.size() > 3 && N.compare(N.size() - 3, 3, ".qn") == 0) Messages.insert(N.substr(0, N.size() - 3));
    int64_t V;
    if (ParseID(N.substr(0, N.find('.')), V) && V > Largest && V < INT32_MAX) Largest = V;
  }
  // Being written again from the journal (or written already since the scan).
  Messages.insert(Restored.begin(), Restored.end());
  for (TListKind K : {lkQueue, lkSent, lkFailed}) {
    auto& Items = ListOf(K).Items;
    size_t Keep = 0;
    for (size_t I = 0; I < Items.size(); ++I) {
      TStoreRecord& R = *Items[I];
      const std::string ID = R.Rec.ID.str();
      if (!Messages.count(ID)) continue;
      R.RetryCountdown = R.Rec.State == msFailed ? RetryDelay(R.Rec.FailedAttempts) : -1;
      if (K == lkFailed && R.RetryCountdown >= 0) ++FRetrying;
      // A number the 32-bit counter cannot go past (only a damaged file holds one) must not
      // make it wrap: the next IDs would be negative and too long for the record.
      int64_t V;
      if (ParseID(ID, V) && V > Largest && V < INT32_MAX) Largest = V;
      {
        std::lock_guard<std::mutex> A(FAllMailsLock);
        FAllMails.push_back(Items[I].get());
      }
      if (Keep != I) Items[Keep] = std::move(Items[I]);
      ++Keep;
      Messages.erase(ID);
    }
    Items.resize(Keep);
    if (Touched[K]) ChangedFlagOf(K) = true;
  }
  FNextID = int32_t(Largest + 1);
  if (!FJournal->Unusable().empty()) {
    // Its changes are still to come: nothing is written, and no mail taken, until then.
    FTrouble[trJournal] = true;
    const bool Read = !FJournal->Unwritable();
    DoLog(3, "The mail journal " + FDataDir + "MailJour.jnl cannot be " + (Read ? "read" : "written") + " (" +
                 FJournal->Unusable() + "): no mail is taken or delivered until a start can " +
                 (Read ? "read" : "write") + " it.");
    return;
  }
  const bool Reported = ReportDamage(Journal, Messages);
  if (Journal.Clean() && !Reported) return;
  // What the journal held goes into the index files now, and the journal starts again. The
  // files said to belong to no mail are then older than the index files: they are not said
  // again.
  if (Reported) FQueueChanged = true;
  FFiles->SyncDirectory(FDataDir);
  Checkpoint();
}

void TMemoryMailStore::LoadIndex(const std::string& FileName, TListKind Kind, std::unordered_set<std::string>& Seen) {
  std::string Data;
  if (!FFiles->ReadFile(FileName, Data)) return;
  try {
    if (Data.size() < IndexHeaderSize) throw EVexaMailIndexFileReadError();
  } catch (const EVexaMailIndexFileReadError&) {
    return;
  }
  const uint8_t* P = reinterpret_cast<const uint8_t*>(Data.data());
  int32_t Count = int32_t(uint32_t(P[18]) | uint32_t(P[19]) << 8 | uint32_t(P[20]) << 16 | uint32_t(P[21]) << 24);
  if (Count <= 0) return;
  size_t Present = (Data.size() - IndexHeaderSize) / MailRecordSize;
  size_t N = std::min(size_t(Count), Present);
  TRecordList& List = ListOf(Kind);
  List.Items.reserve(List.Items.size() + N);
  for (size_t I = 0; I < N; ++I) {
    auto R = std::make_unique<TStoreRecord>();
    ReadMailRecord(P + IndexHeaderSize + I * MailRecordSize, R->Rec);
    std::string ID = R->Rec.ID.str();
    if (!IsFileName(ID)) continue;
    // A record whose ID is already loaded comes from a damaged file; the first copy stands.
    // This index is written again at the next save, so that the stale copy cannot stand at
    // a later load once the first copy has moved on to a list that loads after this one.
    if (!Seen.insert(ID).second) {
      ChangedFlagOf(Kind) = true;
      continue;
    }
    List.Items.push_back(std::move(R));
  }
}

// The journal's changes over the lists the index files gave: the last change of each mail
// says where it is now. A message or log file that a crash left missing, short or damaged
// is written again from the journal.
void TMemoryMailStore::Replay(const std::vector<TJournalEntry>& Entries, bool Touched[3],
                              std::unordered_set<std::string>& Restored) {
  if (Entries.empty()) return;
  struct TWhere {
    int List;
    size_t Index;
  };
  std::unordered_map<std::string, TWhere> Where;
  for (TListKind K : {lkQueue, lkSent, lkFailed}) {
    auto& Items = ListOf(K).Items;
    for (size_t I = 0; I < Items.size(); ++I) Where[Items[I]->Rec.ID.str()] = TWhere{K, I};
  }
  std::unordered_map<std::string, size_t> Last, LastData, LastLog;
  for (size_t I = 0; I < Entries.size(); ++I) {
    const std::string ID = Entries[I].Rec.ID.str();
    if (!IsFileName(ID)) continue;
    Last[ID] = I;
    if (Entries[I].Data) LastData[ID] = I;
    if (Entries[I].Log) LastLog[ID] = I;
  }
  std::vector<std::unique_ptr<TStoreRecord>> Appended[3];
  for (size_t I = 0; I < Entries.size(); ++I) {
    const TJournalEntry& E = Entries[I];
    const std::string ID = E.Rec.ID.str();
    auto L = Last.find(ID);
    if (L == Last.end() || L->second != I) continue;
    auto W = Where.find(ID);
    if (E.Op == joPut && W != Where.end() && W->second.List == E.List) {
      ListOf(E.List).Items[W->second.Index]->Rec = E.Rec;
      Touched[E.List] = true;
      continue;
    }
    if (W != Where.end()) {
      ListOf(W->second.List).Items[W->second.Index].reset();
      Touched[W->second.List] = true;
    }
    if (E.Op == joDelete) {
      // The deletion may have come before its files went.
      DeleteMailFiles(ID);
      continue;
    }
    auto R = std::make_unique<TStoreRecord>();
    R->Rec = E.Rec;
    Appended[E.List].push_back(std::move(R));
    Touched[E.List] = true;
  }
  for (TListKind K : {lkQueue, lkSent, lkFailed}) {
    auto& Items = ListOf(K).Items;
    Items.erase(std::remove(Items.begin(), Items.end(), nullptr), Items.end());
    for (auto& R : Appended[K]) Items.push_back(std::move(R));
  }
  std::unordered_map<std::string, TFileTexts> Rewrite;
  auto Restore = [&](const std::unordered_map<std::string, size_t>& Texts, bool Message) {
    for (auto& [ID, I] : Texts) {
      auto L = Last.find(ID);
      if (Entries[L->second].Op == joDelete) continue;
      const auto& Text = Message ? Entries[I].Data : Entries[I].Log;
      const std::string Name = Message ? MailFileName(ID) : LogFileName(ID);
      // Compared whole: a crash may leave an unsynced file of the right size with zeros.
      // A file that is right is never written again, but it may still be in the page cache
      // alone: the journal goes only once it has been synced.
      std::string OnDisk;
      if (FFiles->ReadFile(Name, OnDisk) && OnDisk == *Text) {
        NoteUnsynced(Name);
        continue;
      }
      if (Message) Restored.insert(ID);
      auto& T = Rewrite.try_emplace(ID, TFileTexts{nullptr, nullptr, {}, {}, false, false}).first->second;
      (Message ? T.Owner : T.LogOwner) = Text;
      (Message ? T.Data : T.Log) = *Text;
      (Message ? T.WriteData : T.WriteLog) = true;
    }
  };
  Restore(LastData, true);
  Restore(LastLog, false);
  if (Rewrite.empty()) return;
  {
    std::lock_guard<std::mutex> G(FFileLock);
    for (auto& [ID, T] : Rewrite) {
      FFilesPending[ID] = TPendingFiles{0, std::make_shared<const TFileTexts>(std::move(T))};
      FFileJobs.push_back(TFileJob{{ID}, nullptr});
    }
  }
  FFileWake.notify_one();
}

bool TMemoryMailStore::ReportDamage(const TJournalRead& Journal, const std::unordered_set<std::string>& Messages) {
  std::vector<TJournalDamage> Damage = Journal.Damage;
  if (Damage.empty()) {
    if (Messages.empty()) return false;
    // A journal may also end cleanly where it was cut, or be empty; the files tell. A message
    // file that belongs to no mail and was written since the last save (the newest index
    // file) was a mail of the journal: records of an acknowledged mail were lost with it. One
    // from before was there at that save already. A record that the last write left
    // unfinished was never acknowledged, unless such files are there.
    int64_t LastSave = -1;
    for (const std::string* F : {&FQueueFile, &FSentFile, &FFailedFile})
      LastSave = std::max(LastSave, FFiles->ModifiedTime(*F));
    const bool Lost = std::any_of(Messages.begin(), Messages.end(),
                                  [&](const std::string& ID) { return FFiles->ModifiedTime(MailFileName(ID)) >= LastSave; });
    if (!Lost) return false;
    Damage.push_back(TJournalDamage{Journal.End, Journal.TornTail ? 1 : 0});
  }
  int Records = 0;
  for (auto& D : Damage) Records += D.Records;
  std::string Text = "Mail journal damaged: " + FDataDir + "MailJour.jnl at offset " +
                     std::to_string(Damage.front().Offset) + ", " + std::to_string(Records) +
                     " damaged record(s) skipped; " + std::to_string(Messages.size()) +
                     " message file(s) belong to no mail and are kept in " + FDataDir + "mail/.";
  DoLog(3, Text);
  if (Journal.SetAside) DoLog(1, "The damaged mail journal is kept as " + FJournal->SetAsideName() + ".");
  return true;
}

// Caller holds FFileMutex and FChangeLock exclusively.
bool TMemoryMailStore::WriteIndex(TListKind Kind) {
  std::string Bytes;
  {
    TRecordList& List = ListOf(Kind);
    std::lock_guard<std::mutex> L(List.Lock);
    Bytes.reserve(IndexHeaderSize + List.Items.size() * MailRecordSize);
    Bytes.append(IndexMagic, 8);
    uint16_t Major, Minor, Release, Build;
    GetFileVersion(Major, Minor, Release, Build);
    PutU16(Bytes, Major);
    PutU16(Bytes, Minor);
    PutU16(Bytes, Release);
    PutU16(Bytes, Build);
    PutU16(Bytes, uint16_t(IndexHeaderSize));
    PutU32(Bytes, uint32_t(List.Items.size()));
    uint8_t Buf[MailRecordSize];
    for (auto& R : List.Items) {
      WriteMailRecord(R->Rec, Buf);
      if (Buf[315] == msSending) Buf[315] = msWaiting;
      Bytes.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
    }
  }
  return FFiles->ReplaceFile(Kind == lkQueue ? FQueueFile : Kind == lkSent ? FSentFile : FFailedFile, Bytes);
}

void TMemoryMailStore::SaveIndexes() {
  std::lock_guard<std::mutex> L(FFileMutex);
  Checkpoint();
}

void TMemoryMailStore::Checkpoint() {
  // A journal that cannot be read or written holds changes that the index files lack:
  // nothing is written over either until a start can use it.
  if (!FJournal->Unusable().empty()) return;
  if (!FQueueChanged && !FSentChanged && !FFailedChanged && !FJournal->HasRecords()) return;
  const std::string SyncFailed = "Cannot sync the mail files in " + FDataDir;
  // The index files may name a mail only once its files are on disk. Most of them get
  // there before the lists are locked, all at once.
  size_t Early;
  {
    std::lock_guard<std::mutex> U(FUnsyncedLock);
    Early = FUnsynced.size();
  }
  if (Early > 0) {
    if (!FFiles->SyncDisk(FDataDir)) {
      SayTrouble(trSync, SyncFailed);
      return;
    }
    std::lock_guard<std::mutex> U(FUnsyncedLock);
    FUnsynced.erase(FUnsynced.begin(), FUnsynced.begin() + std::ptrdiff_t(Early));
  }
  std::unique_lock<std::shared_mutex> X(FChangeLock);
  std::string Error;
  if (!FJournal->Flush(Error)) {
    LogJournalError(Error);
    return;
  }
  // Every listed mail's files are written before an index names it; until they can be,
  // the journal holds them.
  FJournal->WaitAll(Error);
  if (!DrainFiles()) {
    SayTrouble(trFiles, "Cannot write the mail files in " + FDataDir + "mail/: the mail journal keeps them.");
    return;
  }
  std::vector<std::string> Late;
  {
    std::lock_guard<std::mutex> U(FUnsyncedLock);
    Late.swap(FUnsynced);
  }
  if (!Late.empty() && !FFiles->SyncFiles(Late, {FDataDir + "mail/", FDataDir + "log/"})) {
    SayTrouble(trSync, SyncFailed);
    std::lock_guard<std::mutex> U(FUnsyncedLock);
    FUnsynced.insert(FUnsynced.begin(), Late.begin(), Late.end());
    return;
  }
  SayRecovered(trSync, "The mail files in " + FDataDir + " can be synced again.");
  // An index that could not be written keeps the journal as it is: loading replays it
  // over whatever the index files hold.
  bool AllWritten = true;
  for (TListKind K : {lkQueue, lkSent, lkFailed}) {
    if (!ChangedFlagOf(K).exchange(false)) continue;
    if (WriteIndex(K)) continue;
    ChangedFlagOf(K) = true;
    AllWritten = false;
    SayTrouble(trIndex,
               "Mail index file write error! " + (K == lkQueue ? FQueueFile : K == lkSent ? FSentFile : FFailedFile));
  }
  if (!AllWritten) return;
  SayRecovered(trIndex, "The mail index files can be written again.");
  // The journal keeps room for the filings of the mails still to be delivered.
  uint64_t Room;
  {
    std::lock_guard<std::mutex> L(FQueue.Lock);
    Room = FilingRoom * (FQueue.Items.size() + uint64_t(FRetrying.load()) + 64);
  }
  if (!FJournal->Restart(Error, Room)) LogJournalError(Error);
}
