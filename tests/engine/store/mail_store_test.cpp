#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <filesystem>

#include "support/StoreFixture.h"

namespace {

// The records of an index file as (ID, state), after checking its header.
std::vector<std::pair<std::string, int>> ReadIndex(const std::string& Bytes) {
  std::vector<std::pair<std::string, int>> Out;
  EXPECT_GE(Bytes.size(), 22u);
  if (Bytes.size() < 22) return Out;
  EXPECT_EQ(Bytes.substr(0, 8), "VexaMIdx");
  const uint8_t* P = reinterpret_cast<const uint8_t*>(Bytes.data());
  EXPECT_EQ(P[8] | P[9] << 8, QUILLON_VERSION_MAJOR);
  EXPECT_EQ(P[14] | P[15] << 8, QUILLON_VERSION_BUILD);
  EXPECT_EQ(P[16] | P[17] << 8, 22);
  uint32_t Count = P[18] | P[19] << 8 | P[20] << 16 | uint32_t(P[21]) << 24;
  EXPECT_EQ(Bytes.size(), 22 + Count * MailRecordSize);
  for (uint32_t I = 0; I < Count && 22 + (I + 1) * MailRecordSize <= Bytes.size(); ++I) {
    TMailRecord R;
    ReadMailRecord(P + 22 + I * MailRecordSize, R);
    Out.emplace_back(R.ID.str(), R.State);
  }
  return Out;
}

using IdStates = std::vector<std::pair<std::string, int>>;

}  // namespace

TEST_F(StoreTest, EmptyFolderGetsItsFoldersAndTheFirstMailIsOne) {
  EXPECT_TRUE(std::filesystem::is_directory(DataPath("mail")));
  EXPECT_TRUE(std::filesystem::is_directory(DataPath("log")));
  EXPECT_EQ(Store->GetMailCount({1}, {1, 5, 6}), 0);
  EXPECT_EQ(Add("a@x.example"), "1");
}

TEST_F(StoreTest, AddMailStoresOneRecordPerRecipientAndIsOnDiskWhenItReturns) {
  TMailData M = MakeMail({"a@x.example", "  ", "b@y.example"});
  M.Log = {"first"};
  EXPECT_FALSE(Store->AddMail(M));
  EXPECT_EQ(M.ID, "2");
  EXPECT_EQ(M.State, msWaiting);

  // The files follow the journal's sync, off the path of AddMail's return.
  Store->WaitForDisk();
  EXPECT_EQ(Env.ReadFile(DataPath("mail/1.qn")), "Subject: hello\r\n\r\nbody line\r\n..dotted\r\n");
  EXPECT_EQ(Env.ReadFile(DataPath("log/2.log")), "first\r\n");

  auto N = Notices();
  ASSERT_EQ(N.size(), 2u);
  EXPECT_EQ(N[0].Action, naAdded);
  EXPECT_EQ(N[1].ID, "2");
  EXPECT_EQ(N[1].State, msWaiting);
  EXPECT_EQ(Target.Posted, 2);
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"2 New mail received. Message will deliver to a@x.example.",
                                                  "2 New mail received. Message will deliver to b@y.example."}));
  TMailRecord R = Record("1");
  EXPECT_EQ(R.MultiRecipient, 1);
  EXPECT_EQ(R.Recipient.str(), "a@x.example");

  TMailData Cleared = MakeMail({"c@z.example"});
  Cleared.State = msNone;
  Store->AddMail(Cleared);
  EXPECT_EQ(Store->GetMailCount({1}, {1}), 2);

  // On disk when AddMail returned, no save run: a crash now loses the unsynced message and
  // log files, and the journal brings both mails back whole.
  Files.Crash();
  Store.reset();
  Files.Thaw();
  Open();
  EXPECT_EQ(IDs({1}), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Env.ReadFile(DataPath("mail/2.qn")), "Subject: hello\r\n\r\nbody line\r\n..dotted\r\n");
  EXPECT_EQ(Env.ReadFile(DataPath("log/2.log")), "first\r\n");
  EXPECT_EQ(ReadIndex(Env.ReadFile(DataPath("MailQueu.idx"))), (IdStates{{"1", 1}, {"2", 1}}));
}

TEST_F(StoreTest, SendingIsSavedAsWaitingAndComesBackWaiting) {
  Add("a@x.example");
  TMailData M;
  ASSERT_TRUE(Store->GetNextMail(M));
  EXPECT_EQ(Record("1").State, msSending);
  Store->ChangeMailState("1", msSending, msSending);  // no such pair: nothing changes
  Store->SaveIndexes();
  EXPECT_EQ(ReadIndex(Env.ReadFile(DataPath("MailQueu.idx"))), (IdStates{{"1", 1}}));
  Reopen();
  EXPECT_EQ(Record("1").State, msWaiting);
}

TEST_F(StoreTest, LoadingDropsRecordsWithoutMessageFilesAndReusesIDs) {
  Add("a@x.example");
  Add("b@x.example");
  Add("c@x.example");
  Add("d@x.example");
  Store->DeleteMail("4");
  Store->WaitForDisk();  // the files are written, then one goes
  std::filesystem::remove(DataPath("mail/2.qn"));
  Store->SaveIndexes();
  Reopen();
  EXPECT_EQ(IDs({1}), (std::vector<std::string>{"1", "3"}));
  // The next save of the list no longer holds the dropped record.
  Store->ChangeMailState("1", msWaiting, msHeld);
  Store->SaveIndexes();
  EXPECT_EQ(ReadIndex(Env.ReadFile(DataPath("MailQueu.idx"))), (IdStates{{"1", 3}, {"3", 1}}));
  EXPECT_EQ(Add("e@x.example"), "4");  // one above the largest remaining ID
}

TEST_F(StoreTest, DamagedIndexFilesLoadWhatTheyHold) {
  Add("a@x.example");
  Add("b@x.example");
  Store.reset();
  std::string Full = Env.ReadFile(DataPath("MailQueu.idx"));
  // Fewer records than the count says: the ones present load.
  Env.WriteFile(DataPath("MailQueu.idx"), Full.substr(0, 22 + MailRecordSize + 100));
  Env.WriteFile(DataPath("MailSucc.idx"), "VexaMI");  // shorter than its header
  Open();
  EXPECT_EQ(IDs({1, 5}), (std::vector<std::string>{"1"}));
  // The message of the record that was lost stays, and is not written over.
  EXPECT_EQ(Add("c@x.example"), "3");
  EXPECT_EQ(Env.ReadFile(DataPath("mail/2.qn")), "Subject: hello\r\n\r\nbody line\r\n..dotted\r\n");
}

TEST_F(StoreTest, AnIndexRecordWhoseIDIsNotAFileNameIsDropped) {
  Add("a@x.example");
  Store.reset();
  std::string Queue = Env.ReadFile(DataPath("MailQueu.idx"));
  // A second record "../1", whose files would be those of mail 1 one folder up.
  std::string Bad = Queue.substr(22, MailRecordSize);
  Bad.replace(0, 5, std::string("\x04../1", 5));
  Queue += Bad;
  Queue[18] = 2;
  std::filesystem::copy_file(DataPath("mail/1.qn"), DataPath("1.qn"));
  Env.WriteFile(DataPath("MailQueu.idx"), Queue);
  Open();
  EXPECT_EQ(IDs({1}), std::vector<std::string>{"1"});
  Store->DeleteMails({1});
  EXPECT_TRUE(Exists("1.qn"));
}

TEST_F(StoreTest, DeleteMailsTakesWholeListsByState) {
  Add("a@x.example");
  Add("b@x.example");
  Add("c@x.example");
  Store->ChangeMailState("2", msWaiting, msHeld);
  TMailData M;
  ASSERT_TRUE(Store->GetNextMail(M));  // mail 1 is being delivered
  Store->DeleteMails({7});
  Store->DeleteMails({2, 3});
  EXPECT_EQ(Store->GetMailCount({1}, {1}), 3);
  Notices();
  Store->DeleteMails({1});
  EXPECT_EQ(Store->GetMailCount({1}, {1, 5, 6}), 0);
  EXPECT_FALSE(Exists("mail/1.qn"));
  EXPECT_FALSE(Exists("log/3.log"));
  auto N = Notices();
  ASSERT_EQ(N.size(), 3u);
  EXPECT_EQ(N[0].State, msSending);
  EXPECT_EQ(N[1].State, msHeld);
  EXPECT_EQ(N[2].Action, naRemoved);
  // The delivery's result finds nothing to file.
  M.State = msAttemptDone;
  M.Status = dsDelivered;
  Store->MailDone(M);
  EXPECT_EQ(Store->GetMailCount({1}, {5}), 0);
}

TEST_F(StoreTest, GetMailCountCountsWholeListsAndIgnoresKinds) {
  Add("a@x.example");
  Add("b@x.example");
  Store->ChangeMailState("1", msWaiting, msHeld);
  EXPECT_EQ(Store->GetMailCount({}, {1}), 2);
  EXPECT_EQ(Store->GetMailCount({3}, {3}), 2);
  EXPECT_EQ(Store->GetMailCount({1}, {7}), 0);
  EXPECT_EQ(Store->GetMailCount({1}, {5, 6}), 0);
}

TEST_F(StoreTest, EnumerationGoesOnAfterDeletions) {
  for (const char* R : {"a@x", "b@x", "c@x", "d@x", "e@x"}) Add(R);
  TMailRecord Rec;
  ASSERT_TRUE(Store->FindFirst({1}, {1}, Rec));
  ASSERT_TRUE(Store->FindNext(Rec));
  EXPECT_EQ(Rec.ID.str(), "2");
  Store->DeleteMail("2");  // the one just returned
  Store->DeleteMail("1");  // one before it
  Store->DeleteMail("4");  // one after it
  ASSERT_TRUE(Store->FindNext(Rec));
  EXPECT_EQ(Rec.ID.str(), "3");
  ASSERT_TRUE(Store->FindNext(Rec));
  EXPECT_EQ(Rec.ID.str(), "5");
  EXPECT_FALSE(Store->FindNext(Rec));
  // The filter selects by kind and state.
  Store->ChangeMailState("3", msWaiting, msHeld);
  EXPECT_EQ(IDs({3}), (std::vector<std::string>{"3"}));
  EXPECT_TRUE(IDs({1}).size() == 1);
  ASSERT_FALSE(Store->FindFirst({3}, {1, 3}, Rec));
}

TEST_F(StoreTest, HoldReleaseAndResend) {
  Add("a@x.example");
  TMailData M;
  ASSERT_TRUE(Store->GetNextMail(M));
  Store->ChangeMailState("1", msWaiting, msHeld);  // held while it is being delivered
  EXPECT_EQ(Record("1").State, msHeld);
  M.State = msAttemptDone;
  M.Status = dsDelivered;
  M.SentTime = 46000.75;
  Store->MailDone(M);
  EXPECT_EQ(Record("1").State, msSent);
  Notices();

  Store->ChangeMailState("1", msSent, msWaiting);
  EXPECT_EQ(Record("1").State, msRequeued);
  auto N = Notices();
  ASSERT_EQ(N.size(), 2u);
  EXPECT_EQ(N[0].Action, naRemoved);
  EXPECT_EQ(N[0].State, msSent);
  EXPECT_EQ(N[1].Action, naAdded);
  EXPECT_EQ(N[1].State, msRequeued);
  EXPECT_EQ(Store->GetMailCount({1}, {5}), 0);

  Store->ChangeMailState("1", msRequeued, msHeld);  // no such pair
  EXPECT_EQ(Record("1").State, msRequeued);
  Store->ChangeMailState("1", msWaiting, msHeld);
  Store->ChangeMailState("1", msHeld, msWaiting);
  EXPECT_EQ(Record("1").State, msWaiting);
}

TEST_F(StoreTest, ReadingMails) {
  TMailData In = MakeMail({"a@x.example"});
  In.Log = {"line one", "line two"};
  Store->AddMail(In);
  auto M = Store->LoadMailData("1");
  ASSERT_TRUE(M);
  EXPECT_EQ(M->Data, In.Data);
  EXPECT_EQ(M->Log, In.Log);
  EXPECT_EQ(M->Recipients, std::vector<std::string>{"a@x.example"});
  Store->FreeMailData(std::move(M));
  EXPECT_EQ(Store->LoadMailData("9"), nullptr);
  TMailRecord R;
  try {
    Store->GetMailRecord("9", R);
    FAIL();
  } catch (const EVexaMailNotFind& E) {
    EXPECT_STREQ(E.what(), "Mail not find!");
  }
}

TEST_F(StoreTest, AFailedIndexWriteIsTriedAgainAtTheNextSave) {
  Add("a@x.example");
  Deliver(dsDelivered);
  Files.FailReplaces.insert("MailSucc.idx");
  Store->SaveIndexes();
  EXPECT_FALSE(Exists("MailSucc.idx"));
  Files.FailReplaces.clear();
  Store->SaveIndexes();  // nothing changed meanwhile
  EXPECT_EQ(ReadIndex(Env.ReadFile(DataPath("MailSucc.idx"))), (IdStates{{"1", 5}}));
}

TEST_F(StoreTest, AMailWhoseFilesCannotBeWrittenIsKeptByTheJournal) {
  // The journal took the mail: it is accepted whole, delivered from the journal's copy, and
  // no save lets the journal go before its files are written.
  Files.FailWrites.insert("/mail/2.qn");
  TMailData M = MakeMail({"a@x.example", "b@x.example"});
  Store->AddMail(M);
  Store->WaitForDisk();
  EXPECT_EQ(IDs({1}), (std::vector<std::string>{"1", "2"}));
  EXPECT_TRUE(Exists("mail/1.qn"));
  EXPECT_FALSE(Exists("mail/2.qn"));
  auto Mail = Store->LoadMailData("2");
  ASSERT_TRUE(Mail);
  EXPECT_EQ(Mail->Data, M.Data);
  Store->SaveIndexes();
  auto L = LogTexts();
  // Said once, not again at the save that finds it still unwritten.
  EXPECT_EQ(std::count_if(L.begin(), L.end(), [](auto& T) { return T.rfind("3 Cannot", 0) == 0; }), 1);
  EXPECT_TRUE(std::any_of(L.begin(), L.end(), [](auto& T) { return T.rfind("3 Cannot create file of mail 2.", 0) == 0; }));
  Store.reset();
  Files.FailWrites.clear();
  Open();
  EXPECT_EQ(IDs({1}), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Env.ReadFile(DataPath("mail/2.qn")), "Subject: hello\r\n\r\nbody line\r\n..dotted\r\n");
}

TEST_F(StoreTest, StopResetsSendingAndSaves) {
  ForbiddenMultiConn = true;
  Add("a@x.example");
  Add("b@x.example");
  Store->Start();
  TMailData M;
  ASSERT_TRUE(Store->GetNextMail(M));
  Notices();
  Store->Stop();
  auto N = Notices();
  ASSERT_EQ(N.size(), 1u);
  EXPECT_EQ(N[0].Action, naChanged);
  EXPECT_EQ(N[0].State, msWaiting);
  // The domain is free again.
  ASSERT_TRUE(Store->GetNextMail(M));
  EXPECT_EQ(M.ID, "1");
}

TEST_F(StoreTest, AMailInTwoIndexFilesLoadsOnce) {
  Add("a@x.example");
  Store.reset();
  Env.WriteFile(DataPath("MailFail.idx"), Env.ReadFile(DataPath("MailQueu.idx")));
  Open();
  EXPECT_EQ(IDs({1, 5, 6}), std::vector<std::string>{"1"});
  EXPECT_EQ(Store->GetMailCount({1}, {6}), 0);
}

TEST_F(StoreTest, AMailDeletedBeforeItsFilesAreSyncedDoesNotStopTheSave) {
  Add("a@x.example");
  Add("b@x.example");
  EXPECT_TRUE(Store->DeleteMail("1"));
  Store->SaveIndexes();
  EXPECT_EQ(ReadIndex(Env.ReadFile(DataPath("MailQueu.idx"))), (IdStates{{"2", 1}}));
}
