#include "engine/store/MemMailStore.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <shared_mutex>
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
  FJournal = std::make_unique<TMailJournal>(*FFiles, FDataDir + "MailJour.jnl");
  FJournal->OnFailure = [this] {
    std::unique_lock<std::shared_mutex> X(FChangeLock);
    FJournal->RunUndos();
  };
  FJournal->OnStall = [this](const std::string& Error) {
    DoLog(3, (IsNoSpaceError(Error) ? "The disk of the mail store is full (" : "The mail store cannot be written (") +
                 Error + "): mail delivery waits until it can be written again.");
  };
  FJournal->OnResume = [this] {
    FTrouble[trJournal] = false;  // said by this line
    DoLog(1, "The mail store can be written again: mail delivery goes on.");
    if (FRunning) SignalNewMail();
  };
  FFileWriter = std::thread([this] { FileWriterLoop(); });
  Load();
  AutoDeleteSent();
  FRunning = false;
  if (Options.RunTicker) FTicker = std::make_unique<TMailUpdateThread>([this] { Tick(); });
}

TMemoryMailStore::~TMemoryMailStore() {
  if (FRunning) Stop();
  FTicker.reset();
  SaveIndexes();
  // Its writer thread may still be reporting the last changes: it ends before the lists go
  // (and before the pointer its callbacks use).
  FJournal->Close();
  FJournal.reset();
  {
    std::lock_guard<std::mutex> L(FFileLock);
    FFileEnding = true;
  }
  FFileWake.notify_all();
  FFileWriter.join();
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
  {
    std::unique_lock<std::mutex> L(FFileLock);
    auto It = FFilesPending.find(ID);
    if (It != FFilesPending.end()) {
      if (It->second.State == 0) {
        FFilesPending.erase(It);  // never to be written
      } else {
        // Being written: gone once the writer is done with them.
        It->second.State = 2;
        FFileIdle.wait(L, [&] { return FFilesPending.count(ID) == 0; });  // the writer sees the 2
      }
    }
  }
  // A file that is not there fails to go: nothing to do.
  FFiles->DeleteFile(MailFileName(ID));
  FFiles->DeleteFile(LogFileName(ID));
}

void TMemoryMailStore::SplitLines(std::string_view S, std::vector<std::string>& Lines) {
  Lines.clear();
  size_t B = 0;
  while (B < S.size()) {
    size_t E = S.find('\n', B);
    size_t Next = E == std::string::npos ? S.size() : E + 1;
    if (E == std::string::npos) E = S.size();
    size_t End = E;
    if (End > B && S[End - 1] == '\r') --End;
    Lines.emplace_back(S.substr(B, End - B));
    B = Next;
  }
}

void TMemoryMailStore::NoteUnsynced(std::string FileName) {
  std::lock_guard<std::mutex> L(FUnsyncedLock);
  FUnsynced.push_back(std::move(FileName));
}

bool TMemoryMailStore::ReadLines(const std::string& FileName, std::vector<std::string>& Lines) {
  std::string S;
  Lines.clear();
  if (!FFiles->ReadFile(FileName, S)) return false;
  SplitLines(S, Lines);
  return true;
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
  if (!OnLog) {
    // Loading logs before the owner has set OnLog: its lines wait for it.
    std::lock_guard<std::mutex> L(FEarlyLogLock);
    if (FEarlyLog.size() < 100) FEarlyLog.emplace_back(Level, CutText(Text, 255));
    return;
  }
  FlushEarlyLog();
  OnLog(Level, CutText(Text, 255));
}

void TMemoryMailStore::SayTrouble(TTrouble Cause, const std::string& Text) {
  if (!FTrouble[Cause].exchange(true)) DoLog(3, Text);
}

void TMemoryMailStore::SayRecovered(TTrouble Cause, const std::string& Text) {
  if (FTrouble[Cause].exchange(false)) DoLog(1, Text);
}

void TMemoryMailStore::FlushEarlyLog() {
  if (!OnLog) return;
  std::vector<std::pair<uint8_t, std::string>> Early;
  {
    std::lock_guard<std::mutex> L(FEarlyLogLock);
    if (FEarlyLog.empty()) return;
    Early.swap(FEarlyLog);
  }
  for (auto& [Level, Text] : Early) OnLog(Level, Text);
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

uint64_t TMemoryMailStore::Journal(std::shared_ptr<const std::string> Bytes, std::vector<std::string> NewIDs,
                                   std::function<void(bool)> Done, uint64_t RoomAfter) {
  std::function<void()> Undo;
  if (!NewIDs.empty())
    Undo = [this, NewIDs = std::move(NewIDs)] {
      for (auto It = NewIDs.rbegin(); It != NewIDs.rend(); ++It) UndoNew(*It);
    };
  return FJournal->Append(std::move(Bytes), std::move(Undo), std::move(Done), RoomAfter);
}

bool TMemoryMailStore::Committed(uint64_t Seq) {
  std::string Error;
  if (FJournal->Wait(Seq, Error)) {
    SayRecovered(trJournal, "The mail journal can be written again.");
    return true;
  }
  LogJournalError(Error);
  return false;
}

bool TMemoryMailStore::OnDisk(uint64_t Seq) {
  std::string Ignored;  // a stalled journal has said so once already
  return FJournal->Wait(Seq, Ignored);
}

bool TMemoryMailStore::WaitForDisk() {
  std::string Error;
  const bool Ok = FJournal->WaitAll(Error);
  std::unique_lock<std::mutex> L(FFileLock);
  FFileIdle.wait(L, [this] { return FFileJobs.empty() && !FFileBusy; });
  return Ok;
}

void TMemoryMailStore::LogJournalError(const std::string& Error) {
  SayTrouble(trJournal, std::string(EVexaMailJournalWriteError().what()) + " " + Error);
}

// A new mail whose record could not be written goes again. Runs with FChangeLock held
// exclusively: no other change is under way.
void TMemoryMailStore::UndoNew(const std::string& ID) {
  std::unique_ptr<TStoreRecord> R;
  {
    std::lock_guard<std::mutex> L(FQueue.Lock);
    R = TakeByID(FQueue.Items, ID);
    if (!R) return;
    FQueueChanged = true;
    PostNotice(naRemoved, *R, R->Rec.State);
  }
  RemoveFromAll(R.get());
  ForgetFiles({ID});
}

bool TMemoryMailStore::AddMail(TMailData& Mail) {
  StoreMail(Mail);
  return false;
}

TMemoryMailStore::TNewMail TMemoryMailStore::PrepareMail(TMailData& Mail) {
  TNewMail New;
  if (Mail.State == msNone) return New;
  Mail.State = msWaiting;
  New.Kind = Mail.Kind;
  New.Mail = &Mail;
  for (size_t I = 0; I < Mail.Recipients.size(); ++I) {
    if (IsBlank(Mail.Recipients[I])) continue;
    Mail.ID = std::to_string(FNextID.fetch_add(1));
    New.IDs.push_back(Mail.ID);
    auto R = std::make_unique<TStoreRecord>();
    Mail.SaveToRecord(int32_t(I), R->Rec);
    New.Recipients.push_back(R->Rec.Recipient.str());
    New.Records.push_back(std::move(R));
  }
  return New;
}

void TMemoryMailStore::EncodeNew(TNewMail& New) {
  if (New.Records.empty()) return;
  std::vector<const TMailRecord*> Recs;
  for (auto& R : New.Records) Recs.push_back(&R->Rec);
  New.Encoded = FJournal->EncodeNew(Recs, New.Mail->Data, New.Mail->Log);
}

void TMemoryMailStore::PointTexts(TNewMail& New) {
  if (New.Records.empty()) return;
  auto T = std::make_shared<TFileTexts>();
  const std::string_view B = *New.Encoded.Bytes;
  T->Owner = New.Encoded.Bytes;
  T->Data = B.substr(New.Encoded.DataOffset, New.Encoded.DataSize);
  T->Log = B.substr(New.Encoded.LogOffset, New.Encoded.LogSize);
  New.Texts = std::move(T);
  // Before its change is appended: the change's Done may run before InsertNew does.
  std::lock_guard<std::mutex> F(FFileLock);
  for (auto& ID : New.IDs) FFilesPending.emplace(ID, TPendingFiles{0, New.Texts});
}

void TMemoryMailStore::InsertNew(TNewMail& New, uint64_t Seq) {
  if (New.Records.empty()) return;
  {
    std::lock_guard<std::mutex> A(FAllMailsLock);
    for (auto& R : New.Records) FAllMails.push_back(R.get());
  }
  FQueueChanged = true;
  for (auto& R : New.Records) {
    R->Seq = Seq;
    PostNotice(naAdded, *R, msWaiting);
    FQueue.Items.push_back(std::move(R));
  }
  New.Records.clear();
}

void TMemoryMailStore::QueueFiles(TFileJob Job) {
  if (Job.IDs.empty()) return;
  {
    std::lock_guard<std::mutex> L(FFileLock);
    FFileJobs.push_back(std::move(Job));
  }
  FFileWake.notify_one();
}

void TMemoryMailStore::AnnounceNew(const TNewMail& New) {
  for (auto& To : New.Recipients) DoLog(2, New.Kind == mkNotice ? LangFmt(80, To) : LangFmt(22, To));
  if (FRunning) SignalNewMail();
}

int TMemoryMailStore::StoreMail(TMailData& Mail) {
  TNewMail New = PrepareMail(Mail);
  if (New.Records.empty()) return 0;
  uint64_t Seq;
  {
    std::shared_lock<std::shared_mutex> C(FChangeLock);
    EncodeNew(New);
    PointTexts(New);
    std::lock_guard<std::mutex> L(FQueue.Lock);
    // The files are written from the journal's copy once it is on disk: the mail client's
    // answer waits for the sync alone. It goes in only with room for the filings of every
    // mail to deliver, its own included.
    const uint64_t Room = FilingRoom * (FQueue.Items.size() + uint64_t(FRetrying.load()) + New.Records.size());
    Seq = Journal(
        New.Encoded.Bytes, New.IDs,
        [this, Job = TFileJob{New.IDs, New.Texts}](bool Ok) {
          if (Ok) QueueFiles(Job);
        },
        Room);
    InsertNew(New, Seq);
  }
  if (!Committed(Seq)) {
    if (IsNoSpaceError(FJournal->LastError())) throw EVexaMailStoreFull();
    throw EVexaMailJournalWriteError();
  }
  AnnounceNew(New);
  return int(New.Recipients.size());
}

bool TMemoryMailStore::ChangeMailState(const std::string& ID, TMailState OldState, TMailState NewState) {
  uint64_t Seq;
  if ((OldState == msSent || OldState == msFailed) && NewState == msWaiting) {
    const TListKind FromKind = OldState == msSent ? lkSent : lkFailed;
    TRecordList& From = ListOf(FromKind);
    {
      std::shared_lock<std::shared_mutex> C(FChangeLock);
      std::unique_ptr<TStoreRecord> R;
      {
        std::lock_guard<std::mutex> L(From.Lock);
        R = TakeByID(From.Items, ID);
        if (!R) return false;
        ChangedFlagOf(FromKind) = true;
        PostNotice(naRemoved, *R, OldState);
      }
      SetRecordState(*R, msRequeued);
      if (R->RetryCountdown >= 0) --FRetrying;
      R->RetryCountdown = -1;
      std::lock_guard<std::mutex> L(FQueue.Lock);
      Seq = Journal(FJournal->Encode(joPut, lkQueue, R->Rec), [this](bool) {
        if (FRunning) SignalNewMail();
      });
      R->Seq = Seq;
      FQueueChanged = true;
      PostNotice(naAdded, *R, msRequeued);
      FQueue.Items.push_back(std::move(R));
    }
    OnDisk(Seq);
    return false;
  }
  bool Hold = (OldState == msWaiting || OldState == msSending) && NewState == msHeld;
  bool Release = OldState == msHeld && NewState == msWaiting;
  if (!Hold && !Release) return false;
  {
    std::shared_lock<std::shared_mutex> C(FChangeLock);
    std::lock_guard<std::mutex> L(FQueue.Lock);
    auto It = std::find_if(FQueue.Items.begin(), FQueue.Items.end(), [&](auto& R) { return R->Rec.ID == ID; });
    if (It == FQueue.Items.end()) return false;
    TStoreRecord& R = **It;
    SetRecordState(R, NewState);
    Seq = Journal(FJournal->Encode(joPut, lkQueue, R.Rec), [this, Release](bool) {
      if (Release && FRunning) SignalNewMail();
    });
    R.Seq = Seq;
    FQueueChanged = true;
    PostNotice(naChanged, R, NewState);
  }
  OnDisk(Seq);
  return false;
}

bool TMemoryMailStore::DeleteMail(const std::string& ID) {
  for (TListKind K : {lkQueue, lkSent, lkFailed}) {
    bool Found = false;
    DeleteWhere(K, [&](const TStoreRecord& R) {
      if (Found || R.Rec.ID != ID) return false;
      return Found = true;
    });
    if (Found) return true;
  }
  return false;
}

void TMemoryMailStore::DeleteWhere(TListKind Kind, const std::function<bool(const TStoreRecord&)>& Pick,
                                   bool FromLast) {
  TRecordList& List = ListOf(Kind);
  std::vector<std::unique_ptr<TStoreRecord>> Gone;
  uint64_t Seq;
  {
    std::shared_lock<std::shared_mutex> C(FChangeLock);
    std::lock_guard<std::mutex> L(List.Lock);
    std::vector<const TStoreRecord*> Ptrs;
    size_t Keep = 0;
    for (size_t I = 0; I < List.Items.size(); ++I) {
      if (!Pick(*List.Items[I])) {
        if (Keep != I) List.Items[Keep] = std::move(List.Items[I]);
        ++Keep;
        continue;
      }
      Ptrs.push_back(List.Items[I].get());
      if (Kind == lkFailed && List.Items[I]->RetryCountdown >= 0) --FRetrying;
      Gone.push_back(std::move(List.Items[I]));
    }
    List.Items.resize(Keep);
    if (Gone.empty()) return;
    if (FromLast) std::reverse(Gone.begin(), Gone.end());
    ChangedFlagOf(Kind) = true;
    RemoveFromAll(Ptrs);
    std::string Bytes;
    std::vector<std::string> IDs;
    for (auto& G : Gone) {
      PostNotice(naRemoved, *G, G->Rec.State);
      Bytes += FJournal->Encode(joDelete, uint8_t(Kind), G->Rec);
      IDs.push_back(G->Rec.ID.str());
    }
    // The files go only once the deletion is on disk (a full disk keeps them until then).
    Seq = Journal(std::move(Bytes), [this, IDs](bool) {
      for (auto& ID : IDs) DeleteMailFiles(ID);
    });
  }
  // Gone on return when the disk took it (whoever wrote it may still be running the above).
  if (OnDisk(Seq))
    for (auto& G : Gone) DeleteMailFiles(G->Rec.ID.str());
}

void TMemoryMailStore::DeleteMails(TMailStateSet States) {
  for (TListKind K : {lkQueue, lkSent, lkFailed}) {
    TMailState S = K == lkQueue ? msWaiting : K == lkSent ? msSent : msFailed;
    if (States.Contains(S)) DeleteWhere(K, [](const TStoreRecord&) { return true; });
  }
}

void TMemoryMailStore::Start() {
  FlushEarlyLog();
  FRunning = true;
}

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
  ReadTexts(ID, *Mail);
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
