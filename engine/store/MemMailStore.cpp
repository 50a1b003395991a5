#include "engine/store/MemMailStore.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <unordered_set>

#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailText.h"
#include "platform/Events.h"
#include "platform/IniFile.h"

// --- Ticker ---

TMailUpdateThread::TMailUpdateThread(std::function<void()> OnTick) : FOnTick(std::move(OnTick)) {
  FThread = std::thread([this] { Execute(); });
}

TMailUpdateThread::~TMailUpdateThread() {
  Terminate();
  if (FThread.joinable()) FThread.join();
}

void TMailUpdateThread::Terminate() {
  std::lock_guard<std::mutex> L(FLock);
  FTerminated = true;
  FWake.notify_all();
}

void TMailUpdateThread::Execute() {
  for (;;) {
    {
      std::unique_lock<std::mutex> L(FLock);
      if (FWake.wait_for(L, std::chrono::seconds(1), [this] { return FTerminated; })) return;
    }
    if (FOnTick) FOnTick();
  }
}

// --- Helpers ---

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

bool IsBlank(const std::string& S) { return Trim(S).empty(); }

}  // namespace

std::string TMemoryMailStore::JoinLines(const std::vector<std::string>& Lines) {
  size_t Total = 0;
  for (auto& L : Lines) Total += L.size() + 2;
  std::string S;
  S.reserve(Total);
  for (auto& L : Lines) {
    S += L;
    S += "\r\n";
  }
  return S;
}

namespace {

void SplitLines(const std::string& S, std::vector<std::string>& Lines) {
  Lines.clear();
  size_t B = 0;
  while (B < S.size()) {
    size_t E = S.find('\n', B);
    size_t Next = E == std::string::npos ? S.size() : E + 1;
    if (E == std::string::npos) E = S.size();
    size_t End = E;
    if (End > B && S[End - 1] == '\r') --End;
    Lines.emplace_back(S, B, End - B);
    B = Next;
  }
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

}  // namespace

// --- Creation and destruction ---

TMemoryMailStore::TMemoryMailStore() : TMemoryMailStore(TMemoryMailStoreOptions()) {}

TMemoryMailStore::TMemoryMailStore(TMemoryMailStoreOptions Options)
    : FFiles(Options.Files ? Options.Files : &DiskStoreFiles()), FClock(std::move(Options.Clock)) {
  if (!FClock) FClock = [] { return Now(); };
  std::string Dir = DataDir.get();
  if (Dir.empty() || Dir.back() != '/') {
    Dir += '/';
    DataDir = Dir;
  }
  FDataDir = Dir;
  FFiles->ForceDirectories(FDataDir);
  FFiles->ForceDirectories(FDataDir + "mail");
  FFiles->ForceDirectories(FDataDir + "log");
  FQueueFile = FDataDir + "MailQueu.idx";
  FSentFile = FDataDir + "MailSucc.idx";
  FFailedFile = FDataDir + "MailFail.idx";
  Load();
  AutoDeleteSent();
  FRunning = false;
  if (Options.RunTicker) FTicker = std::make_unique<TMailUpdateThread>([this] { Tick(); });
}

TMemoryMailStore::~TMemoryMailStore() {
  if (FRunning) Stop();
  FTicker.reset();
  SaveIndexes();
  {
    std::lock_guard<std::mutex> L(FAllMailsLock);
    FAllMails.clear();
  }
  for (TRecordList* List : {&FQueue, &FSent, &FFailed}) {
    std::lock_guard<std::mutex> L(List->Lock);
    List->Items.clear();
  }
}

// --- Files ---

std::string TMemoryMailStore::MailFileName(const std::string& ID) const { return FDataDir + "mail/" + ID + ".qn"; }

std::string TMemoryMailStore::LogFileName(const std::string& ID) const { return FDataDir + "log/" + ID + ".log"; }

void TMemoryMailStore::DeleteMailFiles(const std::string& ID) {
  std::string M = MailFileName(ID), L = LogFileName(ID);
  if (FFiles->FileExists(M)) FFiles->DeleteFile(M);
  if (FFiles->FileExists(L)) FFiles->DeleteFile(L);
}

bool TMemoryMailStore::ReadLines(const std::string& FileName, std::vector<std::string>& Lines) {
  std::string S;
  Lines.clear();
  if (!FFiles->ReadFile(FileName, S)) return false;
  SplitLines(S, Lines);
  return true;
}

// --- Loading and saving ---

void TMemoryMailStore::Load() {
  int64_t Largest = 0;
  {
    std::lock_guard<std::mutex> L(FFileMutex);
    LoadIndex(FQueueFile, FQueue, Largest);
    LoadIndex(FSentFile, FSent, Largest);
    LoadIndex(FFailedFile, FFailed, Largest);
  }
  FNextID = int32_t(Largest + 1);
}

void TMemoryMailStore::LoadIndex(const std::string& FileName, TRecordList& List, int64_t& Largest) {
  if (!FFiles->FileExists(FileName)) return;
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
  std::lock_guard<std::mutex> LL(List.Lock);
  std::lock_guard<std::mutex> LA(FAllMailsLock);
  // A record whose ID is already loaded can only come from a crash between the writes of
  // two index files; the first copy stands.
  std::unordered_set<std::string> Seen;
  for (TStoreRecord* R : FAllMails) Seen.insert(R->Rec.ID.str());
  for (size_t I = 0; I < N; ++I) {
    auto R = std::make_unique<TStoreRecord>();
    ReadMailRecord(P + IndexHeaderSize + I * MailRecordSize, R->Rec);
    std::string ID = R->Rec.ID.str();
    // An ID names the mail's files: one that reaches out of the data folder (or that a NUL
    // would cut) has no message file of its own.
    if (ID.find_first_of(std::string("/\0", 2)) != std::string::npos || ID == "." || ID == "..") continue;
    if (!FFiles->FileExists(MailFileName(ID))) continue;
    if (!Seen.insert(ID).second) {
      // Rewrite this index at the next save: a stale copy left in it would stand at a
      // later load once the first copy has moved on to a list that loads after this one.
      (&List == &FQueue ? FQueueChanged : &List == &FSent ? FSentChanged : FFailedChanged) = true;
      continue;
    }
    R->RetryCountdown = R->Rec.State == msFailed ? RetryDelay(R->Rec.FailedAttempts) : -1;
    // A number the 32-bit counter cannot go past (only a damaged file holds one) must not
    // make it wrap: the next IDs would be negative and too long for the record.
    int64_t V;
    if (ParseID(ID, V) && V > Largest && V < INT32_MAX) Largest = V;
    FAllMails.push_back(R.get());
    List.Items.push_back(std::move(R));
  }
}

TMemoryMailStore::TRecordList& TMemoryMailStore::ListOf(TListKind Kind) {
  return Kind == lkQueue ? FQueue : Kind == lkSent ? FSent : FFailed;
}

std::atomic<bool>& TMemoryMailStore::ChangedFlagOf(TListKind Kind) {
  return Kind == lkQueue ? FQueueChanged : Kind == lkSent ? FSentChanged : FFailedChanged;
}

// Caller holds FFileMutex.
bool TMemoryMailStore::WriteIndex(TListKind Kind) {
  if (Kind == lkQueue && FMovedToFailed.exchange(false)) {
    // The failed index first, so a mail that just failed is never in neither file.
    if (!WriteIndex(lkFailed)) FMovedToFailed = true;
  }
  std::string Bytes;
  uint64_t Seq = 0;
  std::vector<std::string> Unsynced;
  std::atomic<bool>& Changed = ChangedFlagOf(Kind);
  uint64_t QueueOnDisk = 0;
  if (Kind == lkFailed) {
    std::lock_guard<std::mutex> L(FCommitLock);
    QueueOnDisk = FQueueOnDisk;
  }
  // Mails that left the failed list for the waiting list since the waiting index was last
  // written: this index keeps them (as failed) so that a crash between the two writes
  // finds them in one file or the other. Loading keeps the waiting list's copy.
  std::vector<TMailRecord> MovedOut;
  {
    TRecordList& List = ListOf(Kind);
    std::lock_guard<std::mutex> L(List.Lock);
    if (Kind == lkQueue) {
      Seq = FQueueSeq;
      Unsynced.swap(FUnsynced);
    } else if (Kind == lkFailed) {
      std::lock_guard<std::mutex> Q(FQueue.Lock);
      for (auto& R : FQueue.Items) {
        if (R->FromFailedSeq <= QueueOnDisk) continue;
        MovedOut.push_back(R->Rec);
        MovedOut.back().State = msFailed;
      }
    }
    Changed = false;
    Bytes.reserve(IndexHeaderSize + (List.Items.size() + MovedOut.size()) * MailRecordSize);
    Bytes.append(IndexMagic, 8);
    uint16_t Major, Minor, Release, Build;
    GetFileVersion(Major, Minor, Release, Build);
    PutU16(Bytes, Major);
    PutU16(Bytes, Minor);
    PutU16(Bytes, Release);
    PutU16(Bytes, Build);
    PutU16(Bytes, uint16_t(IndexHeaderSize));
    PutU32(Bytes, uint32_t(List.Items.size() + MovedOut.size()));
    uint8_t Buf[MailRecordSize];
    for (auto& R : List.Items) {
      WriteMailRecord(R->Rec, Buf);
      if (Buf[315] == msSending) Buf[315] = msWaiting;
      Bytes.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
    }
    for (auto& R : MovedOut) {
      WriteMailRecord(R, Buf);
      Bytes.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
    }
  }
  bool Ok;
  if (Kind == lkQueue) {
    // New message and log files are on disk, in their folders, before the index names them.
    Ok = FFiles->CommitFiles(Unsynced, {FDataDir + "mail/", FDataDir + "log/"}, FQueueFile, Bytes);
  } else {
    Ok = FFiles->ReplaceFile(Kind == lkSent ? FSentFile : FFailedFile, Bytes);
  }
  if (!Ok) {
    Changed = true;  // try again at the next save
    if (!Unsynced.empty()) {
      std::lock_guard<std::mutex> L(FQueue.Lock);
      FUnsynced.insert(FUnsynced.end(), Unsynced.begin(), Unsynced.end());
    }
    return false;
  }
  if (Kind == lkFailed) FFailedHasMovedOut = !MovedOut.empty();
  if (Kind == lkQueue) {
    {
      std::lock_guard<std::mutex> L(FCommitLock);
      if (Seq > FQueueOnDisk) FQueueOnDisk = Seq;
      FCommitDone.notify_all();
    }
    // The mails the failed index kept for this write may go from it now.
    if (FFailedHasMovedOut) WriteIndex(lkFailed);
  }
  return true;
}

void TMemoryMailStore::SaveIndexes() {
  std::lock_guard<std::mutex> L(FFileMutex);
  const bool QueueOnDisk = !FQueueChanged || WriteIndex(lkQueue);
  // A mail resent from the sent list is on disk only in the sent index until the waiting
  // index is written; the sent index waits for it. (The failed index keeps such mails itself.)
  if (FSentChanged && QueueOnDisk) WriteIndex(lkSent);
  if (FFailedChanged) WriteIndex(lkFailed);
}

void TMemoryMailStore::WaitQueueOnDisk(uint64_t Seq) {
  std::unique_lock<std::mutex> L(FCommitLock);
  bool Tried = false;
  while (FQueueOnDisk < Seq) {
    if (FCommitting) {
      FCommitDone.wait(L);
      continue;
    }
    if (Tried) throw EVexaMailIndexFileWriteError();
    // Nobody is writing: this thread writes for itself and for everyone added meanwhile.
    FCommitting = true;
    Tried = true;
    L.unlock();
    try {
      std::lock_guard<std::mutex> F(FFileMutex);
      WriteIndex(lkQueue);
    } catch (...) {
      L.lock();
      FCommitting = false;
      FCommitDone.notify_all();
      throw;
    }
    L.lock();
    FCommitting = false;
    FCommitDone.notify_all();
  }
}

// --- Notices, log, records ---

void TMemoryMailStore::PostNotice(uint8_t Action, const TStoreRecord& Record, TMailState State) {
  {
    std::lock_guard<std::mutex> L(FNoticesLock);
    FNotices.push_back(TMailNotice{Action, Record.Rec.ID.str(), Record.Rec.Kind, State});
  }
  if (TNotifyTarget* W = NotifyWindow.load()) W->post(WM_MAILSTORECHANGE);
}

void TMemoryMailStore::DoLog(uint8_t Level, const std::string& Text) {
  if (OnLog) OnLog(Level, CutText(Text, 255));
}

void TMemoryMailStore::SignalNewMail() {
  if (TEvent* E = NewMailEvent.load()) E->SetEvent();
}

void TMemoryMailStore::SetRecordState(TStoreRecord& Record, TMailState State) {
  std::lock_guard<std::mutex> L(FAllMailsLock);
  Record.Rec.State = State;
}

void TMemoryMailStore::RemoveFromAll(const TStoreRecord* Record) {
  std::lock_guard<std::mutex> L(FAllMailsLock);
  auto It = std::find(FAllMails.begin(), FAllMails.end(), Record);
  if (It == FAllMails.end()) return;
  if (It - FAllMails.begin() <= FFindIndex) --FFindIndex;
  FAllMails.erase(It);
}

void TMemoryMailStore::RemoveFromAll(const std::vector<const TStoreRecord*>& Records) {
  if (Records.empty()) return;
  std::unordered_set<const TStoreRecord*> Gone(Records.begin(), Records.end());
  std::lock_guard<std::mutex> L(FAllMailsLock);
  int32_t Before = 0;
  size_t Out = 0;
  for (size_t I = 0; I < FAllMails.size(); ++I) {
    if (Gone.count(FAllMails[I])) {
      if (int32_t(I) <= FFindIndex) ++Before;
      continue;
    }
    FAllMails[Out++] = FAllMails[I];
  }
  FAllMails.resize(Out);
  FFindIndex -= Before;
}

std::unique_ptr<TStoreRecord> TMemoryMailStore::TakeByID(std::vector<std::unique_ptr<TStoreRecord>>& Items,
                                                         const std::string& ID) {
  for (auto It = Items.begin(); It != Items.end(); ++It) {
    if ((*It)->Rec.ID == ID) {
      std::unique_ptr<TStoreRecord> R = std::move(*It);
      Items.erase(It);
      return R;
    }
  }
  return nullptr;
}

// --- Operations ---

bool TMemoryMailStore::AddMail(TMailData& Mail) {
  if (Mail.State == msNone) return false;
  Mail.State = msWaiting;
  uint64_t Seq = 0;
  for (size_t I = 0; I < Mail.Recipients.size(); ++I) {
    if (IsBlank(Mail.Recipients[I])) continue;
    int32_t Number = FNextID.fetch_add(1);
    Mail.ID = std::to_string(Number);
    std::string Error;
    std::string MailFile = MailFileName(Mail.ID), LogFile = LogFileName(Mail.ID);
    // Both files are synced with the waiting index that names them (WaitQueueOnDisk).
    if (!FFiles->WriteFile(MailFile, JoinLines(Mail.Data), false, Error))
      throw EFCreateError("Cannot create file \"" + MailFile + "\". " + Error);
    if (!FFiles->WriteFile(LogFile, JoinLines(Mail.Log), false, Error))
      throw EFCreateError("Cannot create file \"" + LogFile + "\". " + Error);
    auto R = std::make_unique<TStoreRecord>();
    Mail.SaveToRecord(int32_t(I), R->Rec);
    R->RetryCountdown = -1;
    std::string Recipient = R->Rec.Recipient.str();
    {
      std::lock_guard<std::mutex> L(FQueue.Lock);
      {
        std::lock_guard<std::mutex> A(FAllMailsLock);
        FAllMails.push_back(R.get());
      }
      FQueueChanged = true;
      Seq = ++FQueueSeq;
      FUnsynced.push_back(MailFile);
      // An empty log has no data to sync; its name goes to disk with the folder.
      if (!Mail.Log.empty()) FUnsynced.push_back(LogFile);
      PostNotice(naAdded, *R, msWaiting);
      FQueue.Items.push_back(std::move(R));
    }
    DoLog(2, Mail.Kind == mkNotice ? LangFmt(80, Recipient) : LangFmt(22, Recipient));
    if (FRunning) SignalNewMail();
  }
  if (Seq != 0) WaitQueueOnDisk(Seq);
  return false;
}

bool TMemoryMailStore::ChangeMailState(const std::string& ID, TMailState OldState, TMailState NewState) {
  if ((OldState == msSent || OldState == msFailed) && NewState == msWaiting) {
    TRecordList& From = OldState == msSent ? FSent : FFailed;
    std::unique_ptr<TStoreRecord> R;
    {
      std::lock_guard<std::mutex> L(From.Lock);
      R = TakeByID(From.Items, ID);
      if (!R) return false;
      (OldState == msSent ? FSentChanged : FFailedChanged) = true;
      PostNotice(naRemoved, *R, OldState);
    }
    SetRecordState(*R, msRequeued);
    R->RetryCountdown = -1;
    {
      std::lock_guard<std::mutex> L(FQueue.Lock);
      FQueueChanged = true;
      ++FQueueSeq;
      if (OldState == msFailed) R->FromFailedSeq = FQueueSeq;
      PostNotice(naAdded, *R, msRequeued);
      FQueue.Items.push_back(std::move(R));
    }
    if (FRunning) SignalNewMail();
    return false;
  }
  bool Hold = (OldState == msWaiting || OldState == msSending) && NewState == msHeld;
  bool Release = OldState == msHeld && NewState == msWaiting;
  if (!Hold && !Release) return false;
  std::lock_guard<std::mutex> L(FQueue.Lock);
  for (auto& R : FQueue.Items) {
    if (R->Rec.ID == ID) {
      SetRecordState(*R, NewState);
      FQueueChanged = true;
      ++FQueueSeq;
      PostNotice(naChanged, *R, NewState);
      break;
    }
  }
  return false;
}

bool TMemoryMailStore::DeleteMail(const std::string& ID) {
  for (TListKind K : {lkQueue, lkSent, lkFailed}) {
    TRecordList& List = ListOf(K);
    std::unique_ptr<TStoreRecord> R;
    {
      std::lock_guard<std::mutex> L(List.Lock);
      R = TakeByID(List.Items, ID);
      if (!R) continue;
      ChangedFlagOf(K) = true;
      if (K == lkQueue) ++FQueueSeq;
      RemoveFromAll(R.get());
      PostNotice(naRemoved, *R, R->Rec.State);
    }
    DeleteMailFiles(ID);
    return true;
  }
  return false;
}

void TMemoryMailStore::DeleteMails(TMailStateSet States) {
  for (TListKind K : {lkQueue, lkSent, lkFailed}) {
    TMailState S = K == lkQueue ? msWaiting : K == lkSent ? msSent : msFailed;
    if (!States.Contains(S)) continue;
    TRecordList& List = ListOf(K);
    std::vector<std::unique_ptr<TStoreRecord>> Gone;
    {
      std::lock_guard<std::mutex> L(List.Lock);
      Gone.swap(List.Items);
      ChangedFlagOf(K) = true;
      if (K == lkQueue) ++FQueueSeq;
      std::vector<const TStoreRecord*> Ptrs;
      for (auto& R : Gone) Ptrs.push_back(R.get());
      RemoveFromAll(Ptrs);
      for (auto& R : Gone) PostNotice(naRemoved, *R, R->Rec.State);
    }
    for (auto& R : Gone) DeleteMailFiles(R->Rec.ID.str());
  }
}

void TMemoryMailStore::Start() { FRunning = true; }

void TMemoryMailStore::Stop() {
  FRunning = false;
  ResetSending();
  SaveIndexes();
}

void TMemoryMailStore::ResetSending() {
  {
    std::lock_guard<std::mutex> L(FQueue.Lock);
    for (auto& R : FQueue.Items) {
      if (R->Rec.State != msSending) continue;
      SetRecordState(*R, msWaiting);
      PostNotice(naChanged, *R, msWaiting);
    }
  }
  std::lock_guard<std::mutex> L(FActiveHostsLock);
  FActiveHosts.clear();
}

int32_t TMemoryMailStore::GetMailCount(TMailKindSet, TMailStateSet States) {
  int32_t N = 0;
  if (States.Contains(msWaiting) || States.Contains(msSending) || States.Contains(msHeld)) {
    std::lock_guard<std::mutex> L(FQueue.Lock);
    N += int32_t(FQueue.Items.size());
  }
  if (States.Contains(msSent)) {
    std::lock_guard<std::mutex> L(FSent.Lock);
    N += int32_t(FSent.Items.size());
  }
  if (States.Contains(msFailed)) {
    std::lock_guard<std::mutex> L(FFailed.Lock);
    N += int32_t(FFailed.Items.size());
  }
  return N;
}

bool TMemoryMailStore::FindFirst(TMailKindSet Kinds, TMailStateSet States, TMailRecord& Rec) {
  {
    std::lock_guard<std::mutex> L(FAllMailsLock);
    FFindKinds = Kinds;
    FFindStates = States;
    FFindIndex = -1;
  }
  return FindNext(Rec);
}

bool TMemoryMailStore::FindNext(TMailRecord& Rec) {
  std::lock_guard<std::mutex> L(FAllMailsLock);
  while (FFindIndex + 1 < int32_t(FAllMails.size())) {
    ++FFindIndex;
    const TMailRecord& R = FAllMails[size_t(FFindIndex)]->Rec;
    if (FFindKinds.Contains(R.Kind) && FFindStates.Contains(R.State)) {
      Rec = R;
      return true;
    }
  }
  return false;
}

void TMemoryMailStore::GetMailRecord(const std::string& ID, TMailRecord& Rec) {
  {
    std::lock_guard<std::mutex> L(FAllMailsLock);
    for (TStoreRecord* R : FAllMails) {
      if (R->Rec.ID == ID) {
        Rec = R->Rec;
        return;
      }
    }
  }
  throw EVexaMailNotFind();
}

std::unique_ptr<TMailData> TMemoryMailStore::LoadMailData(const std::string& ID) {
  auto Mail = std::make_unique<TMailData>();
  {
    std::lock_guard<std::mutex> L(FAllMailsLock);
    auto It = std::find_if(FAllMails.begin(), FAllMails.end(), [&](TStoreRecord* R) { return R->Rec.ID == ID; });
    if (It == FAllMails.end()) return nullptr;
    Mail->LoadFromRecord((*It)->Rec);
  }
  ReadLines(MailFileName(ID), Mail->Data);
  ReadLines(LogFileName(ID), Mail->Log);
  return Mail;
}

void TMemoryMailStore::FreeMailData(std::unique_ptr<TMailData> Mail) { Mail.reset(); }

bool TMemoryMailStore::PopNotice(TMailNotice& Notice) {
  std::lock_guard<std::mutex> L(FNoticesLock);
  if (FNotices.empty()) return false;
  Notice = std::move(FNotices.front());
  FNotices.pop_front();
  return true;
}
