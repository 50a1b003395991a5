// Damaged index files (cases found by fuzzing the loader): whatever they hold, a mail added
// afterwards is on disk under its own name and every loaded mail survives a save and a
// second load.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/StoreFixture.h"

namespace {

struct TIndexRecord {
  std::string ID;
  TMailState State = msWaiting;
  int32_t FailedAttempts = 0;
};

std::string IndexBytes(const std::vector<TIndexRecord>& Records, uint32_t Count) {
  std::string B = "VexaMIdx";
  B.append(8, '\0');  // version
  B += char(22);
  B += '\0';
  for (int I = 0; I < 4; ++I) B += char((Count >> (8 * I)) & 0xFF);
  for (const auto& R : Records) {
    TMailRecord Rec;
    Rec.ID = R.ID;
    Rec.MailFrom = "<a@x.example>";
    Rec.Recipient = "<b@y.example>";
    Rec.Kind = mkReceived;
    Rec.State = R.State;
    Rec.FailedAttempts = R.FailedAttempts;
    uint8_t Buf[MailRecordSize];
    WriteMailRecord(Rec, Buf);
    B.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
  }
  return B;
}

struct TDamageCase {
  const char* Name;
  std::vector<TIndexRecord> Queue, Sent, Failed;
  uint32_t SentCount;  // the count the sent index claims
};

class MailIndexDamageTest : public StoreTest, public testing::WithParamInterface<TDamageCase> {};

const TDamageCase DamageCases[] = {
    // IDs the 32-bit counter cannot go past made it wrap: the next ID was negative and
    // longer than the record holds, so the new mail was lost at the next start.
    {"IDsBeyondTheCounter", {{"1"}}, {{"2147483647", msSent}}, {{"6666666666", msFailed, 5}}, 1},
    {"CountFarAboveTheRecords", {{"3"}, {"4", msHeld}}, {{"5", msSent}}, {}, 0x6D2F6174},
    // A mail in two indexes (a crash between their writes): the first copy stood, but the
    // stale one stayed in its file and stood at the load after the mail had failed.
    {"StaleCopyInTheSentIndex", {{"7"}}, {{"7", msSent}}, {}, 1},
    {"StaleCopyInTheFailedIndex", {{"8"}}, {}, {{"8", msFailed, 2}}, 0},
    // A failure count already at the largest 32-bit number: one more failure overflowed it.
    {"FailureCountAtItsLargest", {{"9", msWaiting, 2147483647}}, {}, {}, 0},
};

TEST_P(MailIndexDamageTest, NewMailsAndLoadedMailsSurviveAReload) {
  const TDamageCase& C = GetParam();
  Store.reset();
  Env.WriteFile(DataPath("MailQueu.idx"), IndexBytes(C.Queue, uint32_t(C.Queue.size())));
  Env.WriteFile(DataPath("MailSucc.idx"), IndexBytes(C.Sent, C.SentCount));
  Env.WriteFile(DataPath("MailFail.idx"), IndexBytes(C.Failed, uint32_t(C.Failed.size())));
  for (const auto* List : {&C.Queue, &C.Sent, &C.Failed})
    for (const auto& R : *List) Env.WriteFile(DataPath("mail/" + R.ID + ".qn"), "Subject: x\r\n\r\nbody\r\n");
  Open();
  const int32_t Loaded = Store->GetMailCount({}, {msWaiting, msSent, msFailed});
  std::set<std::string> Distinct;
  for (const auto* List : {&C.Queue, &C.Sent, &C.Failed})
    for (const auto& R : *List) Distinct.insert(R.ID);
  EXPECT_EQ(Loaded, int32_t(Distinct.size()));

  const std::string ID = Add("c@z.example");
  EXPECT_LE(ID.size(), 10u);
  EXPECT_EQ(Record(ID).ID.str(), ID);
  Store->WaitForDisk();  // its files follow the journal's sync
  EXPECT_TRUE(Exists("mail/" + ID + ".qn"));
  // Every waiting mail fails once; what the lists then hold is what loads next time.
  Store->Start();
  TMailData Mail;
  while (Store->GetNextMail(Mail)) {
    Mail.State = msAttemptDone;
    Mail.Status = dsTimeout;
    Store->MailDone(Mail);
  }
  Store->Stop();
  std::map<std::string, int> States;
  TMailRecord R;
  for (bool Ok = Store->FindFirst({0, 1, 2, 3}, TMailStateSet::FromBits(0xFF), R); Ok; Ok = Store->FindNext(R))
    States[R.ID.str()] = R.State;
  EXPECT_EQ(size_t(Loaded + 1), States.size());
  Reopen();
  std::map<std::string, int> Again;
  for (bool Ok = Store->FindFirst({0, 1, 2, 3}, TMailStateSet::FromBits(0xFF), R); Ok; Ok = Store->FindNext(R))
    Again[R.ID.str()] = R.State;
  EXPECT_EQ(States, Again);
  EXPECT_EQ(Record(ID).Recipient.str(), "c@z.example");
}

INSTANTIATE_TEST_SUITE_P(FoundByFuzzing, MailIndexDamageTest, testing::ValuesIn(DamageCases),
                         [](const testing::TestParamInfo<TDamageCase>& I) { return std::string(I.param.Name); });

}  // namespace
