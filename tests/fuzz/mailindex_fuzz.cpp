// The mail index loader: three index files of any content (waiting, sent, failed) on a
// disk in memory, then the store's operations over whatever was loaded, a save and a
// second load of what the first store wrote.
//
// Input: byte 0 options, bytes 1-2 and 3-4 the sizes of the waiting and sent index (as
// parts of what is left), the rest split accordingly; the failed index takes the tail.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"

namespace {

class TMemoryFiles : public TStoreFiles {
public:
  std::mutex Lock;
  std::map<std::string, std::string> Files;

  bool ForceDirectories(const std::string&) override { return true; }
  bool FileExists(const std::string& Path) override {
    std::lock_guard<std::mutex> L(Lock);
    return Files.count(Path) != 0;
  }
  bool ReadFile(const std::string& Path, std::string& Data) override {
    std::lock_guard<std::mutex> L(Lock);
    auto It = Files.find(Path);
    if (It == Files.end()) return false;
    Data = It->second;
    return true;
  }
  bool WriteFile(const std::string& Path, std::string_view Data, bool, std::string&) override {
    std::lock_guard<std::mutex> L(Lock);
    Files[Path] = Data;
    return true;
  }
  bool ReplaceFile(const std::string& Path, const std::string& Data) override {
    std::lock_guard<std::mutex> L(Lock);
    Files[Path] = Data;
    return true;
  }
  bool ListFiles(const std::string& Dir, std::vector<std::string>& Names) override {
    std::lock_guard<std::mutex> L(Lock);
    const std::string Prefix = Dir.back() == '/' ? Dir : Dir + "/";
    Names.clear();
    for (auto& [Path, Data] : Files)
      if (Path.compare(0, Prefix.size(), Prefix) == 0 && Path.find('/', Prefix.size()) == std::string::npos)
        Names.push_back(Path.substr(Prefix.size()));
    return true;
  }
  // The journal in memory too.
  struct TMemoryJournal : TJournalFile {
    TMemoryFiles& Owner;
    std::string Path;
    TMemoryJournal(TMemoryFiles& O, std::string P) : Owner(O), Path(std::move(P)) {}
    bool WriteAt(uint64_t Offset, const std::string& Data, std::string&) override {
      std::lock_guard<std::mutex> L(Owner.Lock);
      std::string& F = Owner.Files[Path];
      if (F.size() < Offset + Data.size()) F.resize(Offset + Data.size(), '\0');
      F.replace(Offset, Data.size(), Data);
      return true;
    }
    bool Sync(std::string&) override { return true; }
    bool Truncate(uint64_t Size, std::string&) override {
      std::lock_guard<std::mutex> L(Owner.Lock);
      Owner.Files[Path].resize(Size);
      return true;
    }
  };
  std::unique_ptr<TJournalFile> OpenJournalFile(const std::string& Path, std::string&) override {
    std::lock_guard<std::mutex> L(Lock);
    Files[Path];
    return std::make_unique<TMemoryJournal>(*this, Path);
  }
  bool SyncDisk(const std::string&) override { return true; }
  bool SyncFiles(const std::vector<std::string>&, const std::vector<std::string>&) override { return true; }
  bool SyncDirectory(const std::string&) override { return true; }
  bool DeleteFile(const std::string& Path) override {
    std::lock_guard<std::mutex> L(Lock);
    return Files.erase(Path) != 0;
  }
};

const std::string Dir = "/fuzz/data/";

// Every ID a file names gets a message file, but IDs ending in "9" (a lost message).
void AddMessageFiles(TMemoryFiles& Files, const std::string& Index) {
  for (size_t P = 22; P + MailRecordSize <= Index.size(); P += MailRecordSize) {
    TMailRecord R;
    ReadMailRecord(reinterpret_cast<const uint8_t*>(Index.data() + P), R);
    const std::string ID = R.ID.str();
    if (!ID.empty() && ID.back() == '9') continue;
    Files.Files[Dir + "mail/" + ID + ".qn"] = "From: a@b.c\r\nSubject: x\r\n\r\nbody\r\n";
    Files.Files[Dir + "log/" + ID + ".log"] = "line\r\n";
  }
}

int32_t Total(TMemoryMailStore& S) {
  return S.GetMailCount(TMailKindSet{0, 1, 2, 3, 4, 5, 6, 7}, TMailStateSet{0, 1, 2, 3, 4, 5, 6, 7});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 5) return 0;
  const uint8_t Options = Data[0];
  const size_t Rest = Size - 5;
  const size_t QueueLen = Rest * (Data[1] | Data[2] << 8) / 65536;
  const size_t SentLen = (Rest - QueueLen) * (Data[3] | Data[4] << 8) / 65536;
  const char* P = reinterpret_cast<const char*>(Data + 5);
  const std::string Queue(P, QueueLen), Sent(P + QueueLen, SentLen),
      Failed(P + QueueLen + SentLen, Rest - QueueLen - SentLen);

  DataDir = Dir;
  RetrySend = (Options & 1) != 0;
  RetryInterval = 0;
  MaxRetries = (Options & 2) ? 3 : 0x7FFFFFFF;
  SendNotifyMail = (Options & 4) != 0;
  DelMessageAfterSent = (Options & 8) != 0;
  DelMessageDelay = (Options & 16) ? 0 : 1;
  ForbiddenMultiConn = (Options & 32) != 0;
  NotifyMailSender = true;
  DelNotifiedMail = false;
  SenderPauseAfterSent = false;

  TMemoryFiles Files;
  Files.Files[Dir + "MailQueu.idx"] = Queue;
  Files.Files[Dir + "MailSucc.idx"] = Sent;
  Files.Files[Dir + "MailFail.idx"] = Failed;
  for (const std::string* I : {&Queue, &Sent, &Failed}) AddMessageFiles(Files, *I);

  TMemoryMailStoreOptions O;
  O.Files = &Files;
  O.Clock = [] { return 46000.5; };
  O.RunTicker = false;
  int32_t Before;
  {
    TMemoryMailStore Store(O);
    std::vector<std::string> IDs;
    TMailRecord Rec;
    for (bool Ok = Store.FindFirst(TMailKindSet::FromBits(0xFF), TMailStateSet::FromBits(0xFF), Rec); Ok;
         Ok = Store.FindNext(Rec))
      IDs.push_back(Rec.ID.str());
    for (const auto& ID : IDs) {
      TMailRecord R;
      Store.GetMailRecord(ID, R);
      (void)Store.LoadMailData(ID);
    }
    Store.Start();
    // Every waiting mail once through delivery, with results taken from the options.
    TMailData Mail;
    for (int I = 0; I < 64 && Store.GetNextMail(Mail); ++I) {
      Mail.State = msAttemptDone;
      Mail.Status = (Options & 64) ? dsDelivered : (I % 3 == 0 ? dsStopped : dsTimeout);
      Store.MailDone(Mail);
    }
    for (int I = 0; I < 3; ++I) Store.Tick();
    for (const auto& ID : IDs) {
      Store.ChangeMailState(ID, msFailed, msWaiting);
      Store.ChangeMailState(ID, msWaiting, msHeld);
    }
    Store.AutoDeleteSent();
    if (Options & 128) Store.DeleteMails(TMailStateSet{msSent});
    Store.Stop();
    Before = Total(Store);
    TMailNotice N;
    while (Store.PopNotice(N)) {
    }
  }
  // What the store wrote loads again, every record with it.
  TMemoryMailStore Again(O);
  if (Total(Again) != Before) std::abort();
  return 0;
}
