// The store's journal: every change that returned survives a crash that loses whatever
// was not synced; a journal that cannot be written refuses the change and leaves the
// lists as they were; an index that cannot be written loses nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Events.h"
#include "support/StoreFixture.h"

namespace {

class JournalTest : public StoreTest {
protected:
  // The machine stops and the program starts again on what the disk kept.
  void CrashAndRestart() {
    Files.Crash();
    Store.reset();
    Files.Thaw();
    Open();
  }
  bool LogHas(const std::string& Start) {
    for (auto& L : LogTexts())
      if (L.rfind(Start, 0) == 0) return true;
    return false;
  }
};

}  // namespace

TEST_F(JournalTest, EveryChangeSurvivesACrashRightAfterIt) {
  RetrySend = true;
  MaxRetries = 2;
  RetryInterval = 0;
  Store->Start();
  struct {
    const char* What;
    std::function<void()> Do;
    std::map<std::string, int> Then;
  } Steps[] = {
      {"two new mails", [&] { Add("a@x.example"), Add("b@x.example"); }, {{"1", 1}, {"2", 1}}},
      {"one delivered", [&] { Deliver(dsDelivered); }, {{"1", 5}, {"2", 1}}},
      {"one failed", [&] { Deliver(dsConnectFailed); }, {{"1", 5}, {"2", 6}}},
      {"a save", [&] { Store->SaveIndexes(); }, {{"1", 5}, {"2", 6}}},
      {"a retry falls due", [&] { Ticks(1); }, {{"1", 5}, {"2", 7}}},
      {"held", [&] { Store->ChangeMailState("2", msWaiting, msHeld); }, {{"1", 5}, {"2", 3}}},
      {"released", [&] { Store->ChangeMailState("2", msHeld, msWaiting); }, {{"1", 5}, {"2", 1}}},
      {"resent", [&] { Store->ChangeMailState("1", msSent, msWaiting); }, {{"1", 7}, {"2", 1}}},
      {"deleted", [&] { Store->DeleteMail("2"); }, {{"1", 7}}},
      {"delivered and deleted at once",
       [&] {
         DelMessageAfterSent = true;
         Deliver(dsDelivered);
       },
       {}},
  };
  for (auto& S : Steps) {
    S.Do();
    EXPECT_EQ(States(), S.Then) << S.What;
    CrashAndRestart();
    Store->Start();
    EXPECT_EQ(States(), S.Then) << "after a crash: " << S.What;
  }
  EXPECT_FALSE(Exists("mail/1.qn"));
  EXPECT_FALSE(Exists("mail/2.qn"));
}

TEST_F(JournalTest, TheLogOfADeliveryComesBackAfterACrash) {
  Add("a@x.example");
  Store->Start();
  Deliver(dsConnectFailed, {"attempt one", "refused"});
  CrashAndRestart();
  EXPECT_EQ(Record("1").State, msFailed);
  EXPECT_EQ(Env.ReadFile(DataPath("log/1.log")), "attempt one\r\nrefused\r\n");
}

TEST_F(JournalTest, AFullDiskRefusesTheMailWhole) {
  // The disk fills up: mails go in until the journal needs more room than is left.
  Files.JournalSpace = 0;
  std::map<std::string, int> Stored;
  TMailData M;
  for (int I = 0; I < 5000; ++I) {
    M = MakeMail({"a@x.example", "b@x.example"});
    try {
      Store->AddMail(M);
    } catch (const EVexaMailJournalWriteError&) {
      break;
    }
    Stored[std::to_string(2 * I + 1)] = Stored[std::to_string(2 * I + 2)] = msWaiting;
  }
  ASSERT_LT(Stored.size(), 10000u);
  // Neither record of the refused mail is listed or has files left.
  EXPECT_EQ(States(), Stored);
  const std::string Last = M.ID, First = std::to_string(std::stoi(Last) - 1);
  EXPECT_FALSE(Exists("mail/" + First + ".qn"));
  EXPECT_FALSE(Exists("mail/" + Last + ".qn"));
  EXPECT_FALSE(Exists("log/" + Last + ".log"));
  EXPECT_TRUE(LogHas("3 Mail journal write error! No space left on device"));
  auto N = Notices();
  ASSERT_GE(N.size(), 4u);
  EXPECT_EQ(N[N.size() - 1].Action, naRemoved);
  EXPECT_EQ(N[N.size() - 2].Action, naRemoved);

  // Space again.
  Files.JournalSpace = -1;
  const std::string Next = Add("d@x.example");
  Stored[Next] = msWaiting;
  CrashAndRestart();
  EXPECT_EQ(States(), Stored);
}

TEST_F(JournalTest, ATornRecordIsIgnored) {
  Add("a@x.example");
  // Written but not synced: refused, and a crash then leaves part of it on disk.
  Files.FailJournalSync = true;
  TMailData M = MakeMail({"b@x.example"});
  EXPECT_THROW(Store->AddMail(M), EVexaMailJournalWriteError);
  Files.Crash(300);
  Store.reset();
  Files.Thaw();
  Files.FailJournalSync = false;
  Open();
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 1}}));
  EXPECT_EQ(Add("c@x.example"), "2");
  CrashAndRestart();
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 1}, {"2", 1}}));
}

TEST_F(JournalTest, ADeliveryThatCannotBeJournaledStaysDeliveredAndDeliveryWaits) {
  SendNotifyMail = true;
  Add("a@x.example");
  Add("b@x.example");
  Add("c@x.example");
  Store->Start();
  TEvent Wake;
  Store->NewMailEvent = &Wake;
  // The exchanger took mail 1 and refused mail 2 for good while the disk is full: neither
  // goes back to waiting, and nothing more is handed out while the disk cannot take it.
  TMailData One, Two, M;
  ASSERT_TRUE(Store->GetNextMail(One));
  ASSERT_TRUE(Store->GetNextMail(Two));
  Files.FailJournalSync = true;
  for (auto [Mail, Status] : {std::pair{&One, dsDelivered}, std::pair{&Two, dsRecipientRejected}}) {
    Mail->State = msAttemptDone;
    Mail->Status = Status;
    Store->MailDone(*Mail);
  }
  EXPECT_FALSE(Store->WaitForDisk());
  EXPECT_FALSE(Store->GetNextMail(M));
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 5}, {"2", 6}, {"3", 1}, {"4", 1}}));
  const auto Lines = LogTexts();
  EXPECT_EQ(std::count_if(Lines.begin(), Lines.end(),
                          [](auto& L) { return L.rfind("3 The disk of the mail store is full", 0) == 0; }),
            1);
  // Room again: the kept changes reach the disk at the next try, and delivery goes on by
  // itself (the delivery engine is woken).
  Files.FailJournalSync = false;
  Wake.ResetEvent();
  EXPECT_TRUE(Store->WaitForDisk());
  EXPECT_TRUE(Wake.WaitFor(0));
  EXPECT_TRUE(LogHas("1 The mail store can be written again: mail delivery goes on."));
  EXPECT_EQ(Deliver(dsDelivered), "3");
  Store->NewMailEvent = nullptr;
  CrashAndRestart();
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 5}, {"2", 6}, {"3", 5}, {"4", 1}}));
}

TEST_F(JournalTest, AStalledJournalIsTriedAgainByItself) {
  Add("a@x.example");
  Store->Start();
  Files.FailJournalSync = true;
  Deliver(dsDelivered);
  Files.FailJournalSync = false;
  // Nobody appends or waits: the journal's own writer tries again within its interval.
  for (int I = 0; I < 300 && !LogHas("1 The mail store can be written again"); ++I)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(LogHas("1 The mail store can be written again"));
  CrashAndRestart();
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 5}}));
}

TEST_F(JournalTest, AnIndexThatCannotBeWrittenLosesNoMail) {
  // The failed index cannot be written (a full disk) while the waiting index can: after a
  // clean stop and a start with space again the failed mails are there.
  Add("a@x.example");
  Add("b@x.example");
  Store->Start();
  Deliver(dsConnectFailed);
  Files.FailReplaces.insert("MailFail.idx");
  Store->Stop();
  EXPECT_TRUE(LogHas("3 Mail index file write error!"));
  Store.reset();
  Files.FailReplaces.clear();
  Open();
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 6}, {"2", 1}}));
  // That start wrote what the journal held: the files alone now hold both mails.
  Store.reset();
  std::filesystem::remove(DataPath("MailJour.jnl"));
  Open();
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 6}, {"2", 1}}));
}

TEST_F(JournalTest, ASaveWithNothingChangedWritesNothing) {
  Add("a@x.example");
  Store->SaveIndexes();
  const int Syncs = Files.Syncs;
  Store->SaveIndexes();
  Ticks(30);
  EXPECT_EQ(Files.Syncs, Syncs);
}

TEST_F(JournalTest, OneSyncAcknowledgesAMail) {
  Add("a@x.example");
  const int Before = Files.Syncs;
  Add("b@x.example");
  EXPECT_EQ(Files.Syncs - Before, 1);
}

TEST_F(JournalTest, TheMultiRecipientByteIsKeptAsRead) {
  TMailData M = MakeMail({"a@x.example", "b@x.example"});
  Store->AddMail(M);
  Store->SaveIndexes();
  Reopen();
  Store->ChangeMailState("1", msWaiting, msHeld);
  Store->SaveIndexes();
  const std::string Index = Env.ReadFile(DataPath("MailQueu.idx"));
  ASSERT_EQ(Index.size(), 22 + 2 * MailRecordSize);
  EXPECT_EQ(Index[22 + 320], 1);
  EXPECT_EQ(Index[22 + MailRecordSize + 320], 1);
}

TEST_F(JournalTest, AFlippedByteCostsThatRecordOnly) {
  struct {
    const char* What;
    int Offset;  // into the damaged record; below 0: from its end
  } Cases[] = {{"in its message", -20},       {"in its size field", 1},  {"in its journal identifier", 5},
               {"in its operation", 12},      {"in its head's checksum", 15}, {"in its checksum", -2}};
  for (auto& C : Cases) {
    Store.reset();
    std::filesystem::remove_all(DataDir.get());
    Logs.clear();
    Open();
    std::map<std::string, int> Expected;
    for (int I = 0; I < 40; ++I) Expected[Add("r" + std::to_string(I) + "@x.example")] = msWaiting;
    Store->WaitForDisk();
    // Killed: the journal alone holds the 40 mails.
    Files.Crash();
    Store.reset();
    Files.Thaw();
    std::string J = Env.ReadFile(DataPath("MailJour.jnl"));
    // The record of mail 20 (its record's ID field follows the head and the count).
    size_t Start = 40, Size = 0;
    for (; Start + 25 < J.size(); Start += Size) {
      Size = uint8_t(J[Start]) | uint8_t(J[Start + 1]) << 8;
      ASSERT_GT(Size, 0u);
      if (J[Start + 22] == 2 && J.compare(Start + 23, 2, "20") == 0) break;
    }
    const size_t At = C.Offset >= 0 ? Start + size_t(C.Offset) : Start + Size - size_t(-C.Offset);
    J[At] = char(J[At] ^ 0x20);
    Env.WriteFile(DataPath("MailJour.jnl"), J);
    Open();
    Expected.erase("20");
    EXPECT_EQ(States(), Expected) << C.What;
    EXPECT_TRUE(LogHas("3 Mail journal damaged: " + DataPath("MailJour.jnl") + " at offset " + std::to_string(Start) +
                       ", 1 damaged record(s) skipped; 1 message file(s) belong to no mail and are kept in " +
                       DataPath("mail/") + "."))
        << C.What << ": " << (LogTexts().empty() ? "" : LogTexts().back());
    EXPECT_TRUE(Exists("mail/20.qn")) << C.What;
    // That start saved what it read: the next one finds nothing to report.
    Logs.clear();
    Reopen();
    EXPECT_EQ(States(), Expected) << C.What;
    EXPECT_FALSE(LogHas("3 Mail journal damaged")) << C.What;
  }
}

TEST_F(JournalTest, StopAndStartOnAFullDiskRewriteNothingAndLoseNothing) {
  Add("a@x.example");
  Add("b@x.example");
  Store->Start();
  Deliver(dsConnectFailed);
  Store->WaitForDisk();
  // No index file can be written: the stop says so and keeps the journal.
  for (const char* F : {"MailQueu.idx", "MailSucc.idx", "MailFail.idx"}) Files.FailReplaces.insert(F);
  Store->Stop();
  EXPECT_TRUE(LogHas("3 Mail index file write error!"));
  Store.reset();
  // A start on the same full disk writes no message or log file that is there already, and
  // runs from the journal.
  Logs.clear();
  const int Writes = Files.Writes;
  Open();
  Store->WaitForDisk();
  EXPECT_EQ(Files.Writes, Writes);
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 6}, {"2", 1}}));
  EXPECT_TRUE(LogHas("3 Mail index file write error!"));
  // Room again: nothing was lost, and the index files alone now hold both mails.
  Files.FailReplaces.clear();
  Reopen();
  Store.reset();
  std::filesystem::remove(DataPath("MailJour.jnl"));
  Open();
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", 6}, {"2", 1}}));
}

TEST_F(JournalTest, OneMessageToManyRecipientsIsJournaledOnce) {
  TMailData M = MakeMail({});
  M.Data = {"Subject: many", "", std::string(100000, 'z')};
  for (int I = 0; I < 50; ++I) M.Recipients.push_back("r" + std::to_string(I) + "@x.example");
  Store->AddMail(M);
  Store->WaitForDisk();
  // One copy of the message in the journal, whatever the number of recipients.
  const std::string J = Env.ReadFile(DataPath("MailJour.jnl"));
  size_t Copies = 0;
  for (size_t P = J.find(std::string(100000, 'z')); P != std::string::npos; P = J.find(std::string(100000, 'z'), P + 1))
    ++Copies;
  EXPECT_EQ(Copies, 1u);
  // Every recipient has a message file of its own: deleting one leaves the others.
  Store->DeleteMail("1");
  EXPECT_FALSE(Exists("mail/1.qn"));
  EXPECT_EQ(Env.ReadFile(DataPath("mail/50.qn")), "Subject: many\r\n\r\n" + std::string(100000, 'z') + "\r\n");
  // And every one comes back from the journal after a crash.
  CrashAndRestart();
  EXPECT_EQ(States().size(), 49u);
  for (const char* ID : {"2", "25", "50"}) {
    auto D = Store->LoadMailData(ID);
    ASSERT_TRUE(D);
    EXPECT_EQ(D->Data, M.Data) << ID;
  }
}
