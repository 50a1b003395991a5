// The mail store's file writer: a new mail's message and log files are written from its
// journal record once that is on disk, on a thread of their own, so that the mail client's
// answer waits for the journal's sync alone. Until they are written the mail's texts come
// from that record, and a save does not start the journal again.
#include <mutex>

#include "engine/store/MemMailStore.h"

bool TMemoryMailStore::ReadTexts(const std::string& ID, TMailData& Mail) {
  std::shared_ptr<const TFileTexts> T;
  {
    std::lock_guard<std::mutex> L(FFileLock);
    auto It = FFilesPending.find(ID);
    if (It != FFilesPending.end()) T = It->second.Texts;
  }
  if (T && T->WriteData)
    SplitLines(T->Data, Mail.Data);
  else if (!ReadLines(MailFileName(ID), Mail.Data))
    return false;
  if (T && T->WriteLog)
    SplitLines(T->Log, Mail.Log);
  else if (!ReadLines(LogFileName(ID), Mail.Log))
    Mail.Log.clear();
  return true;
}

void TMemoryMailStore::PendLog(const std::string& ID, std::shared_ptr<const std::string> Log) {
  std::unique_lock<std::mutex> L(FFileLock);
  // Being written now: the new log comes after.
  FFileIdle.wait(L, [&] {
    auto It = FFilesPending.find(ID);
    return It == FFilesPending.end() || It->second.State != 1;
  });
  auto& P = FFilesPending[ID];
  auto T = P.Texts ? std::make_shared<TFileTexts>(*P.Texts) : std::make_shared<TFileTexts>();
  if (!P.Texts) T->WriteData = false;
  T->LogOwner = std::move(Log);
  T->Log = *T->LogOwner;
  T->WriteLog = true;
  P.Texts = std::move(T);
}

void TMemoryMailStore::ForgetFiles(const std::vector<std::string>& IDs) {
  std::lock_guard<std::mutex> L(FFileLock);
  for (auto& ID : IDs) {
    auto It = FFilesPending.find(ID);
    if (It == FFilesPending.end()) continue;
    if (It->second.State == 1)
      It->second.State = 2;  // the writer deletes what it wrote
    else
      FFilesPending.erase(It);
  }
}

TMemoryMailStore::TFileJob TMemoryMailStore::WriteFiles(TFileJob Job) {
  TFileJob Failed{{}, Job.Texts};
  std::string First;  // the message file written for the first recipient
  for (auto& ID : Job.IDs) {
    std::shared_ptr<const TFileTexts> T;
    {
      std::lock_guard<std::mutex> L(FFileLock);
      auto It = FFilesPending.find(ID);
      if (It == FFilesPending.end()) continue;  // deleted meanwhile
      It->second.State = 1;
      T = It->second.Texts;
    }
    const std::string MailFile = MailFileName(ID), LogFile = LogFileName(ID);
    std::string Error;
    bool Ok = true;
    bool DataWritten = false;
    if (T->WriteData) {
      // The same message for every recipient: one file under several names where the
      // filesystem allows (deleting one name leaves the others).
      Ok = (!First.empty() && FFiles->LinkFile(First, MailFile)) || FFiles->WriteFile(MailFile, T->Data, false, Error);
      if (Ok && First.empty()) First = MailFile;
      DataWritten = Ok;
    }
    if (Ok && T->WriteLog) Ok = FFiles->WriteFile(LogFile, T->Log, false, Error);
    bool Deleted;
    {
      std::lock_guard<std::mutex> L(FFileLock);
      auto It = FFilesPending.find(ID);
      Deleted = It->second.State == 2;
      if (!Ok && !Deleted) {
        It->second.State = 0;
        if (DataWritten) {
          // Only the log is still to be written: the message stays as it is.
          auto Left = std::make_shared<TFileTexts>(*It->second.Texts);
          Left->WriteData = false;
          It->second.Texts = std::move(Left);
        }
      }
      FFileIdle.notify_all();
    }
    if (Deleted) {
      FFiles->DeleteFile(MailFile);
      FFiles->DeleteFile(LogFile);
    }
    if (Ok || Deleted) {
      std::lock_guard<std::mutex> L(FFileLock);
      FFilesPending.erase(ID);
      FFileIdle.notify_all();
    }
    if (Deleted) continue;
    if (DataWritten) NoteUnsynced(MailFile);
    if (!Ok) {
      SayTrouble(trFiles, "Cannot create file of mail " + ID + ". " + Error);
      Failed.IDs.push_back(ID);
      continue;
    }
    if (T->WriteLog) NoteUnsynced(LogFile);
  }
  return Failed;
}

void TMemoryMailStore::FileWriterLoop() {
  std::unique_lock<std::mutex> L(FFileLock);
  for (;;) {
    FFileWake.wait(L, [this] { return FFileEnding || !FFileJobs.empty(); });
    if (FFileEnding) return;
    TFileJob Job = std::move(FFileJobs.front());
    FFileJobs.pop_front();
    FFileBusy = true;
    L.unlock();
    TFileJob Failed = WriteFiles(std::move(Job));
    L.lock();
    if (!Failed.IDs.empty()) FFileRetry.push_back(std::move(Failed));
    FFileBusy = false;
    FFileIdle.notify_all();
  }
}

bool TMemoryMailStore::DrainFiles() {
  std::vector<TFileJob> Retry;
  {
    std::unique_lock<std::mutex> L(FFileLock);
    FFileIdle.wait(L, [this] { return FFileJobs.empty() && !FFileBusy; });
    Retry.swap(FFileRetry);
  }
  std::vector<TFileJob> Still;
  for (auto& Job : Retry) {
    TFileJob Failed = WriteFiles(std::move(Job));
    if (!Failed.IDs.empty()) Still.push_back(std::move(Failed));
  }
  const bool Ok = Still.empty();
  {
    std::lock_guard<std::mutex> L(FFileLock);
    for (auto& F : Still) FFileRetry.push_back(std::move(F));
  }
  if (Ok) SayRecovered(trFiles, "The mail files in " + FDataDir + " can be written again.");
  return Ok;
}
