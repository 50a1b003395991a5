// The store's files and its journal on a disk that forgets, fails or fills up: no file is
// written through a name it shares, the journal goes only once the files it holds are on
// disk, a full disk never makes a delivered mail go out again, each trouble is said once,
// and the journal gives its room back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/StoreFixture.h"

namespace {

class JournalDisk : public StoreTest {
protected:
  ino_t Inode(const std::string& Name) {
    struct stat St {};
    ::stat(DataPath(Name).c_str(), &St);
    return St.st_ino;
  }
  int CountLines(const std::string& Start) {
    auto L = LogTexts();
    return int(std::count_if(L.begin(), L.end(), [&](auto& T) { return T.rfind(Start, 0) == 0; }));
  }
};

}  // namespace

TEST(StoreFiles, AFileIsNeverWrittenThroughANameItShares) {
  TTestEnv Env;
  const std::string A = Env.Root() + "a", B = Env.Root() + "b";
  auto& Disk = DiskStoreFiles();
  std::string Error;
  ASSERT_TRUE(Disk.WriteFile(A, "the shared message", false, Error));
  ASSERT_TRUE(Disk.LinkFile(A, B));
  // Written again under one name: the other keeps the old text.
  ASSERT_TRUE(Disk.WriteFile(B, "a new text", false, Error)) << Error;
  EXPECT_EQ(Env.ReadFile(A), "the shared message");
  EXPECT_EQ(Env.ReadFile(B), "a new text");
  // A write that cannot even begin leaves the file as it was.
  ASSERT_EQ(::chmod(Env.Root().c_str(), 0500), 0);
  if (::geteuid() != 0) {
    EXPECT_FALSE(Disk.WriteFile(A, "lost", false, Error));
    EXPECT_EQ(Env.ReadFile(A), "the shared message");
  }
  ::chmod(Env.Root().c_str(), 0700);
}

TEST_F(JournalDisk, ARetryOfOneRecipientsLogLeavesTheSharedMessageAlone) {
  // The message of both recipients is one file; the first recipient's log cannot be written.
  Files.FailWrites.insert("/log/1.log");
  TMailData M = MakeMail({"a@x.example", "b@x.example"});
  M.Data = {"Subject: shared", "", std::string(4000, 'm')};
  Store->AddMail(M);
  Store->WaitForDisk();
  const ino_t Shared = Inode("mail/1.qn");
  ASSERT_EQ(Shared, Inode("mail/2.qn"));
  Store->SaveIndexes();  // tries again, and fails again
  Files.FailWrites.clear();
  Store->SaveIndexes();
  // Only the log was written again: the message is still the one file of both names.
  EXPECT_TRUE(Exists("log/1.log"));
  EXPECT_EQ(Files.WritesOf[DataPath("mail/1.qn")], 1);
  EXPECT_EQ(Inode("mail/1.qn"), Shared);
  EXPECT_EQ(Inode("mail/2.qn"), Shared);
  EXPECT_EQ(Env.ReadFile(DataPath("mail/2.qn")), "Subject: shared\r\n\r\n" + std::string(4000, 'm') + "\r\n");
  EXPECT_EQ(CountLines("3 Cannot create file of mail 1."), 1);
  EXPECT_EQ(CountLines("1 The mail files in "), 1);
}

TEST_F(JournalDisk, AStartAfterAKillSyncsTheFilesBeforeTheJournalGoes) {
  for (int I = 0; I < 3; ++I) Add("r" + std::to_string(I) + "@x.example");
  Store->WaitForDisk();
  // Killed before its save: the message files are in the page cache only. The start finds
  // them whole, saves, and then the power goes.
  Files.Kill();
  Store.reset();
  Files.Thaw();
  Open();
  Files.Crash();
  Store.reset();
  Files.Thaw();
  Open();
  for (const char* ID : {"1", "2", "3"}) {
    auto D = Store->LoadMailData(ID);
    ASSERT_TRUE(D) << ID;
    EXPECT_EQ(D->Data, MakeMail({}).Data) << ID;
  }
}

TEST_F(JournalDisk, ADeliveryLogThatCannotBeWrittenKeepsTheJournal) {
  Add("a@x.example");
  Store->Start();
  Store->SaveIndexes();
  Files.FailWrites.insert("/log/1.log");
  Deliver(dsConnectFailed, {"attempt one", "refused"});
  Store->SaveIndexes();
  // The only copy of the log is in the journal: a power loss now loses nothing.
  Files.FailWrites.clear();
  Files.Crash();
  Store.reset();
  Files.Thaw();
  Open();
  EXPECT_EQ(Record("1").State, msFailed);
  EXPECT_EQ(Env.ReadFile(DataPath("log/1.log")), "attempt one\r\nrefused\r\n");
}

TEST_F(JournalDisk, AStopOnAFullDiskSendsNoMailTwice) {
  SendNotifyMail = true;  // the failure notices too want room
  NotifyMailSender = true;
  Store->Start();
  // The disk fills up while mails come in: every mail taken keeps the room of its filing.
  Files.JournalSpace = 150000;
  std::vector<std::string> Taken;
  for (int I = 0; I < 1000; ++I) {
    TMailData M = MakeMail({"r" + std::to_string(I) + "@x.example"});
    M.Log.assign(40, std::string(60, 'l'));  // logs that grow the filings well past the room kept
    try {
      Store->AddMail(M);
    } catch (const EVexaMailStoreFull&) {
      break;
    }
    Taken.push_back(M.ID);
  }
  ASSERT_GT(Taken.size(), 20u);
  ASSERT_LT(Taken.size(), 1000u);
  // Every one is delivered, or refused for good, on the full disk, then a clean stop that
  // cannot write the index files either.
  std::map<std::string, int> Filed;
  TMailData M;
  while (Store->GetNextMail(M)) {
    M.State = msAttemptDone;
    M.Status = Filed.size() % 2 ? dsDelivered : dsRecipientRejected;
    M.Log.assign(40, std::string(60, 'd'));
    if (M.Status == dsDelivered) M.SentTime = Clock;
    Filed[M.ID] = M.Status == dsDelivered ? msSent : msFailed;
    Store->MailDone(M);
  }
  for (auto& ID : Taken) EXPECT_TRUE(Filed.count(ID)) << ID;
  for (const char* F : {"MailQueu.idx", "MailSucc.idx", "MailFail.idx"}) Files.FailReplaces.insert(F);
  Store->Stop();
  Store.reset();
  // Room again: nothing that was filed is waiting to go out again.
  Files.JournalSpace = -1;
  Files.FailReplaces.clear();
  Open();
  for (auto& [ID, State] : Filed) EXPECT_EQ(Record(ID).State, State) << ID;
}

TEST_F(JournalDisk, EachTroubleOfAFullDiskIsSaidOnce) {
  Store->Start();
  // The message and log files cannot be written, at intake and at every save.
  Files.FailWrites = {".qn", ".log"};
  for (int I = 0; I < 20; ++I) Add("r" + std::to_string(I) + "@x.example");
  for (int I = 0; I < 3; ++I) Store->SaveIndexes();
  // Then the index files cannot be written.
  Files.FailWrites.clear();
  for (const char* F : {"MailQueu.idx", "MailSucc.idx", "MailFail.idx"}) Files.FailReplaces.insert(F);
  for (int I = 0; I < 3; ++I) Store->SaveIndexes();
  // Then the journal is full: mails are refused until there is room again.
  Files.JournalSpace = 0;
  int Refused = 0;
  for (int I = 0; I < 5000 && Refused < 10; ++I) {
    TMailData M = MakeMail({"x@x.example"});
    try {
      Store->AddMail(M);
    } catch (const EVexaMailStoreFull&) {
      ++Refused;
    }
  }
  EXPECT_EQ(Refused, 10);
  EXPECT_EQ(CountLines("3 "), 3);
  EXPECT_EQ(CountLines("3 Cannot create file of mail 1. No space left on device"), 1);
  EXPECT_EQ(CountLines("3 Mail index file write error!"), 1);
  EXPECT_EQ(CountLines("3 Mail journal write error! No space left on device"), 1);
  // Over: each cause says so once.
  Files.JournalSpace = -1;
  Files.FailReplaces.clear();
  Add("c@x.example");
  Add("d@x.example");
  Store->SaveIndexes();
  Store->SaveIndexes();
  EXPECT_EQ(CountLines("1 The mail files in "), 1);
  EXPECT_EQ(CountLines("1 The mail journal can be written again."), 1);
  EXPECT_EQ(CountLines("1 The mail index files can be written again."), 1);
  EXPECT_EQ(CountLines("3 "), 3);
}

TEST_F(JournalDisk, TheJournalGivesItsRoomBackAtASave) {
  for (int I = 0; I < 2; ++I) {
    TMailData M = MakeMail({"a@x.example"});
    M.Data = {"Subject: big", "", std::string(8 << 20, 'b')};
    Store->AddMail(M);
  }
  Store->WaitForDisk();
  EXPECT_GT(std::filesystem::file_size(DataPath("MailJour.jnl")), uintmax_t(16) << 20);
  Add("b@x.example");
  Store->SaveIndexes();
  // Nothing of the records is left behind the header; the next start reads nothing.
  const std::string J = Env.ReadFile(DataPath("MailJour.jnl"));
  EXPECT_LE(J.size(), size_t(1) << 20);
  EXPECT_EQ(J.find_first_not_of('\0', 40), std::string::npos);
  Logs.clear();
  Reopen();
  EXPECT_EQ(States().size(), 3u);
  for (auto& L : LogTexts()) EXPECT_NE(L[0], '3') << L;
}

TEST_F(JournalDisk, APowerCutAsTheJournalStartsAgainNeverBringsTheOldOneBack) {
  // A mail delivered and filed with a log that reaches past the journal's first page; the
  // save's fresh start of the journal is cut by a power loss after a number of its syncs,
  // with the pages from byte 4096 on written out and the first one not.
  for (int SyncsLeft = 0; SyncsLeft <= 4; ++SyncsLeft) {
    Store.reset();
    std::filesystem::remove_all(DataDir.get());
    Open();
    Store->Start();
    Add("a@x.example");
    Deliver(dsDelivered, {std::string(6000, 'l')});
    Files.JournalSyncsLeft = SyncsLeft;
    Store->SaveIndexes();
    Files.Crash(0, 4096);
    Store.reset();
    Files.Thaw();
    Files.JournalSyncsLeft = -1;
    Logs.clear();
    Open();
    EXPECT_EQ(States(), (std::map<std::string, int>{{"1", msSent}})) << SyncsLeft;
    for (auto& L : LogTexts()) EXPECT_NE(L[0], '3') << SyncsLeft << ": " << L;
    Store->Start();
    TMailData M;
    EXPECT_FALSE(Store->GetNextMail(M)) << SyncsLeft;
    // Whatever was left behind the header is gone before the next record.
    Add("b@x.example");
    Reopen();
    EXPECT_EQ(States(), (std::map<std::string, int>{{"1", msSent}, {"2", msWaiting}})) << SyncsLeft;
  }
}
