// The journal as a mail client, a flipped byte or a file that cannot be read would have it:
// bytes inside a message are never read as records, a damaged header costs no record, a
// journal that cannot be read is never written, and the files of lost records are kept.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>
#include <thread>
#include <chrono>
#include <atomic>

#include "engine/store/JournalFormat.h"
#include "engine/store/JournalReader.h"
#include "support/StoreFixture.h"

using namespace JournalFormat;

namespace {

class JournalDamage : public StoreTest {
protected:
  // A fresh data folder whose journal alone holds ten mails.
  void TenMailsInTheJournalAlone() {
    Store.reset();
    std::filesystem::remove_all(DataDir.get());
    Logs.clear();
    Open();
    for (int I = 0; I < 10; ++I) Add("r" + std::to_string(I) + "@x.example");
    Kill();
  }
  std::map<std::string, int> Waiting(int From, int To) {
    std::map<std::string, int> Out;
    for (int I = From; I <= To; ++I) Out[std::to_string(I)] = msWaiting;
    return Out;
  }
  // The program dies before its first save: the journal alone holds the mails.
  void Kill() {
    Store->WaitForDisk();
    Files.Kill();
    Store.reset();
    Files.Thaw();
    Logs.clear();  // the dying store's own complaints
  }
  bool LogHas(const std::string& Line) {
    auto L = LogTexts();
    return std::find(L.begin(), L.end(), Line) != L.end();
  }
  std::string Journal() { return Env.ReadFile(DataPath("MailJour.jnl")); }
  void SetJournal(const std::string& J) { Env.WriteFile(DataPath("MailJour.jnl"), J); }
  // Where the record of a new mail whose first recipient has ID starts, and its size.
  std::pair<size_t, size_t> RecordOf(const std::string& J, const std::string& ID) {
    for (size_t At = HeaderSize; At + NewFixedSize + 11 < J.size();) {
      const size_t Size = GetU32(reinterpret_cast<const uint8_t*>(J.data() + At));
      if (Size == 0) break;
      if (J[At + 12] == joNew && size_t(uint8_t(J[At + 22])) == ID.size() && J.compare(At + 23, ID.size(), ID) == 0)
        return {At, Size};
      At += Size;
    }
    ADD_FAILURE() << "no record of mail " << ID;
    return {0, 0};
  }
  std::vector<std::string> Red() {
    std::vector<std::string> Out;
    for (auto& L : LogTexts())
      if (L.rfind("3 ", 0) == 0) Out.push_back(L);
    return Out;
  }
  std::string DamageLine(size_t Offset, int Records, int Files) {
    return "3 Mail journal damaged: " + DataPath("MailJour.jnl") + " at offset " + std::to_string(Offset) + ", " +
           std::to_string(Records) + " damaged record(s) skipped; " + std::to_string(Files) +
           " message file(s) belong to no mail and are kept in " + DataPath("mail/") + ".";
  }
};

// A record of the journal as anyone who knows the layout can build it: every field and both
// checksums right, only the identifier guessed.
std::string Forged(uint64_t ID, TJournalOp Op, const std::string& MailID, const std::string& From,
                   const std::string& To) {
  TMailRecord R;
  R.ID = MailID;
  R.MailFrom = From;
  R.Recipient = To;
  R.State = msWaiting;
  R.Kind = mkReceived;
  uint8_t Buf[MailRecordSize];
  WriteMailRecord(R, Buf);
  std::string Body;
  if (Op == joNew) PutU32(Body, 1);
  Body.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
  const std::string Text = Op == joNew ? "Subject: forged\r\n\r\nhello\r\n" : "";
  PutU32(Body, Op == joNew ? uint32_t(Text.size()) : NoText);
  PutU32(Body, NoText);
  Body += Text;
  std::string Rec = Head(uint32_t(HeadSize + Body.size() + 4), ID, Op, 0) + Body;
  PutU32(Rec, Crc32(Rec.data(), Rec.size()));
  return Rec;
}

// The same in the layout journals had before (epoch in place of the identifier).
std::string ForgedLegacy(uint32_t Epoch, TJournalOp Op, const std::string& MailID) {
  std::string Rec = Forged(0, Op, MailID, "<evil@x.example>", "<victim@x.example>");
  std::string Old;
  PutU32(Old, uint32_t(Rec.size() - 8));
  PutU32(Old, Epoch);
  Old += Rec.substr(12, 2);
  Old += Rec.substr(HeadSize, Rec.size() - HeadSize - 4);
  PutU32(Old, Crc32(Old.data(), Old.size()));
  return Old;
}

}  // namespace

TEST_F(JournalDamage, NoMessageCanPassForARecord) {
  // A message made of records for every identifier a sender could guess and for the epochs
  // of the earlier layout: a deletion of the first mail and a new mail of the sender's own.
  std::string Bait;
  for (uint64_t Guess : {uint64_t(0), uint64_t(1), uint64_t(0x0123456789abcdef)}) {
    Bait += Forged(Guess, joDelete, "1", "", "");
    Bait += Forged(Guess, joNew, "3", "<evil@x.example>", "<victim@x.example>");
  }
  for (uint32_t Epoch = 1; Epoch <= 5; ++Epoch) Bait += ForgedLegacy(Epoch, joDelete, "1") + ForgedLegacy(Epoch, joNew, "3");
  for (int Round = 0; Round < 2; ++Round) {
    Store.reset();
    std::filesystem::remove_all(DataDir.get());
    Logs.clear();
    Open();
    Add("a@x.example");
    TMailData M = MakeMail({"b@x.example"});
    M.Data = {"Subject: bait", "", Bait};
    Store->AddMail(M);
    // The second round damages the bait's own record, so that the reader has to look for
    // the next record across the message.
    if (Round == 1) Add("c@x.example");
    Kill();
    std::string J = Journal();
    if (Round == 1) {
      const auto [At, Size] = RecordOf(J, "2");
      J[At + 1] = char(J[At + 1] ^ 0x01);
      SetJournal(J);
    }
    Open();
    const auto Expected = Round == 0 ? Waiting(1, 2) : std::map<std::string, int>{{"1", 1}, {"3", 1}};
    EXPECT_EQ(States(), Expected) << Round;
    for (auto& [ID, State] : Expected) EXPECT_EQ(Record(ID).MailFrom.str(), "<sender@here.example>") << ID;
    EXPECT_TRUE(Exists("mail/1.qn"));
    // What the reader skipped over is the bait's record alone.
    const auto R = Red();
    EXPECT_EQ(R, Round == 0 ? std::vector<std::string>{}
                            : std::vector<std::string>{DamageLine(RecordOf(J, "2").first, 1, 1)})
        << Round;
  }
}

TEST_F(JournalDamage, ADamagedHeaderCostsNoRecord) {
  struct {
    const char* What;
    std::vector<size_t> Bytes;  // flipped
    bool Reported;
  } Cases[] = {
      {"its magic", {0}, true},
      {"its identifier", {9}, true},
      {"its checksum", {17}, true},
      {"the second copy", {HeaderCopySize + 9}, false},
      {"both copies: the first record tells", {9, HeaderCopySize + 13}, true},
  };
  for (auto& C : Cases) {
    TenMailsInTheJournalAlone();
    std::string J = Journal();
    for (size_t B : C.Bytes) J[B] = char(J[B] ^ 0x40);
    SetJournal(J);
    Open();
    EXPECT_EQ(States(), Waiting(1, 10)) << C.What;
    // Damage of the copy in use is said; the second one is written again unread.
    EXPECT_EQ(Red(), C.Reported ? std::vector<std::string>{DamageLine(0, 0, 0)} : std::vector<std::string>{})
        << C.What;
    Reopen();
    EXPECT_EQ(States(), Waiting(1, 10)) << C.What;
  }
}

TEST_F(JournalDamage, WhatCannotBeToldIsReportedAndKept) {
  // Nothing to replay is left, and the start says how many message files lost their mail.
  struct {
    const char* What;
    std::function<void(std::string&)> Damage;
    size_t Offset;
    bool SetAside;
  } Cases[] = {
      {"emptied", [](std::string& J) { J.clear(); }, 0, false},
      {"garbage behind a good header",
       [](std::string& J) {
         for (size_t I = HeaderSize; I < HeaderSize + 4000; ++I) J[I] = char('a' + I % 23);
       },
       HeaderSize, false},
      {"both header copies and the first record's head",
       [](std::string& J) {
         J[9] ^= 1, J[HeaderCopySize + 9] ^= 1, J[HeaderSize + 6] ^= 1;
       },
       0, true},
  };
  for (auto& C : Cases) {
    TenMailsInTheJournalAlone();
    std::string J = Journal();
    const std::string Before = J;
    C.Damage(J);
    SetJournal(J);
    Open();
    EXPECT_EQ(States(), (std::map<std::string, int>{})) << C.What;
    EXPECT_EQ(Red(), std::vector<std::string>{DamageLine(C.Offset, 0, 10)}) << C.What;
    for (int I = 1; I <= 10; ++I) EXPECT_TRUE(Exists("mail/" + std::to_string(I) + ".qn")) << C.What;
    if (C.SetAside) {
      EXPECT_EQ(Env.ReadFile(DataPath("MailJour.jnl.damaged")), J) << C.What;
      EXPECT_TRUE(LogHas("1 The damaged mail journal is kept as " + DataPath("MailJour.jnl.damaged") + "."));
    }
    // The message files are never written over: new mails come after them.
    EXPECT_EQ(Add("s@x.example"), "11") << C.What;
  }
}

TEST_F(JournalDamage, ALostLastRecordIsReportedAndItsFilesKept) {
  // The record of the last mail, for three recipients with one message, is damaged: not the
  // torn tail of a write nobody was told of, since its files were written.
  for (int I = 0; I < 5; ++I) Add("r" + std::to_string(I) + "@x.example");
  TMailData M = MakeMail({"a@x.example", "b@x.example", "c@x.example"});
  M.Data = {"Subject: three", "", "the lost mail"};
  Store->AddMail(M);
  Kill();
  std::string J = Journal();
  const auto [At, Size] = RecordOf(J, "6");
  J[At + Size - 10] = char(J[At + Size - 10] ^ 0x01);
  SetJournal(J);
  Open();
  EXPECT_EQ(States(), Waiting(1, 5));
  EXPECT_EQ(Red(), std::vector<std::string>{DamageLine(At, 1, 3)});
  // New mails take IDs above the kept files, which keep their text.
  EXPECT_EQ(Add("d@x.example"), "9");
  EXPECT_EQ(Add("e@x.example"), "10");
  for (const char* ID : {"6", "7", "8"})
    EXPECT_EQ(Env.ReadFile(DataPath(std::string("mail/") + ID + ".qn")), "Subject: three\r\n\r\nthe lost mail\r\n") << ID;
}

TEST_F(JournalDamage, AJournalThatCannotBeReadOrWrittenIsNeverWritten) {
  struct {
    const char* What;
    std::atomic<bool>* CannotOpen;  // else it cannot be read
    std::string Line;
  } Cases[] = {
      {"cannot be read", nullptr,
       "3 The mail journal " + DataPath("MailJour.jnl") +
           " cannot be read (Input/output error): no mail is taken or delivered until a start can read it."},
      {"can be read, not written", &Files.FailJournalOpen,
       "3 The mail journal " + DataPath("MailJour.jnl") +
           " cannot be written (Permission denied): no mail is taken or delivered until a start can write it."},
  };
  for (auto& C : Cases) {
    Store.reset();
    std::filesystem::remove_all(DataDir.get());
    Open();
    for (int I = 0; I < 3; ++I) Add("r" + std::to_string(I) + "@x.example");
    Store->Start();
    Kill();
    const std::string Before = Journal();
    if (C.CannotOpen)
      *C.CannotOpen = true;
    else
      Files.FailReads.insert("MailJour.jnl");
    Open();
    Store->Start();
    // One red line; no mail is taken or handed out, and saving or stopping writes nothing.
    EXPECT_EQ(Red(), std::vector<std::string>{C.Line}) << C.What;
    for (int I = 0; I < 3; ++I) {
      TMailData M = MakeMail({"x@x.example"});
      EXPECT_THROW(Store->AddMail(M), EVexaMailJournalWriteError) << C.What;
    }
    TMailData Next;
    EXPECT_FALSE(Store->GetNextMail(Next)) << C.What;
    Ticks(30);
    EXPECT_FALSE(Store->GetNextMail(Next)) << C.What;
    Store->Stop();
    Store.reset();
    EXPECT_EQ(Red().size(), 1u) << C.What;
    EXPECT_EQ(Journal(), Before) << C.What;
    // Usable again: its mails are back, none of them handed out before.
    Files.FailReads.clear();
    Files.FailJournalOpen = false;
    Logs.clear();
    Open();
    EXPECT_EQ(States(), Waiting(1, 3)) << C.What;
    EXPECT_EQ(Red(), std::vector<std::string>{}) << C.What;
  }
}

TEST_F(JournalDamage, EveryJournalSetAsideIsKept) {
  std::vector<std::string> Damaged;
  for (int Round = 0; Round < 3; ++Round) {
    Add("r" + std::to_string(Round) + "@x.example");
    Kill();
    std::string J = Journal();
    J[9] ^= 1, J[HeaderCopySize + 9] ^= 1, J[HeaderSize + 6] ^= 1;
    SetJournal(J);
    Damaged.push_back(J);
    Open();
    const std::string Name = DataPath(Round == 0 ? "MailJour.jnl.damaged" : "MailJour.jnl.damaged." + std::to_string(Round));
    EXPECT_TRUE(LogHas("1 The damaged mail journal is kept as " + Name + ".")) << Round;
  }
  EXPECT_EQ(Env.ReadFile(DataPath("MailJour.jnl.damaged")), Damaged[0]);
  EXPECT_EQ(Env.ReadFile(DataPath("MailJour.jnl.damaged.1")), Damaged[1]);
  EXPECT_EQ(Env.ReadFile(DataPath("MailJour.jnl.damaged.2")), Damaged[2]);
}

TEST_F(JournalDamage, AJournalCutBetweenRecordsIsReported) {
  // Twelve mails in the journal alone, then the file ends right after its header, or right
  // after the fifth mail's record: the message files tell what was lost.
  for (int Kept : {0, 5}) {
    Store.reset();
    std::filesystem::remove_all(DataDir.get());
    Open();
    for (int I = 1; I <= 12; ++I) Add("r" + std::to_string(I) + "@x.example");
    Kill();
    std::string J = Journal();
    size_t Cut = HeaderSize;
    if (Kept > 0) {
      const auto [At, Size] = RecordOf(J, std::to_string(Kept));
      Cut = At + Size;
    }
    J.resize(Cut);
    SetJournal(J);
    // File times are coarse: what the save after the report writes is later than the files.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Open();
    EXPECT_EQ(States(), Kept ? Waiting(1, Kept) : (std::map<std::string, int>{})) << Kept;
    EXPECT_EQ(Red(), std::vector<std::string>{DamageLine(Cut, 0, 12 - Kept)}) << Kept;
    for (int I = Kept + 1; I <= 12; ++I) EXPECT_TRUE(Exists("mail/" + std::to_string(I) + ".qn")) << I;
    EXPECT_EQ(Add("s@x.example"), "13") << Kept;
    // Said once: the next start knows these files from before its last save.
    Logs.clear();
    Reopen();
    EXPECT_EQ(Red(), std::vector<std::string>{}) << Kept;
    Kill();
    Open();
    EXPECT_EQ(Red(), std::vector<std::string>{}) << Kept;
    EXPECT_EQ(States().count("13"), 1u) << Kept;
  }
}

TEST_F(JournalDamage, AJournalThatIsAFolderIsLeftAlone) {
  Store.reset();
  std::filesystem::remove(DataPath("MailJour.jnl"));
  std::filesystem::create_directory(DataPath("MailJour.jnl"));
  Open();
  EXPECT_EQ(Red(), std::vector<std::string>{"3 The mail journal " + DataPath("MailJour.jnl") +
                                            " cannot be read (Is a directory): no mail is taken or delivered until a "
                                            "start can read it."});
  TMailData M = MakeMail({"x@x.example"});
  EXPECT_THROW(Store->AddMail(M), EVexaMailJournalWriteError);
  Store.reset();
  EXPECT_TRUE(std::filesystem::is_directory(DataPath("MailJour.jnl")));
}

TEST_F(JournalDamage, AJournalOfTheEarlierLayoutIsReadOnce) {
  // Killed by an earlier version: its journal holds a mail that no index file lists yet.
  Store.reset();
  std::string J(LegacyMagic, 8);
  PutU32(J, 7);
  PutU32(J, Crc32(J.data(), J.size()));
  std::string Rec = ForgedLegacy(7, joNew, "1");
  J += Rec + std::string(4096, '\0');
  SetJournal(J);
  Open();
  EXPECT_EQ(States(), Waiting(1, 1));
  EXPECT_EQ(Record("1").MailFrom.str(), "<evil@x.example>");
  auto D = Store->LoadMailData("1");
  ASSERT_TRUE(D);
  EXPECT_EQ(D->Data, (std::vector<std::string>{"Subject: forged", "", "hello"}));
  // Written anew in the present layout, and read as such from then on.
  EXPECT_EQ(Journal().compare(0, 8, std::string(Magic, 8)), 0);
  EXPECT_EQ(Add("b@x.example"), "2");
  Kill();
  Open();
  EXPECT_EQ(States(), Waiting(1, 2));
  EXPECT_EQ(Red(), std::vector<std::string>{});
}

TEST_F(JournalDamage, DamageInAJournalOfTheEarlierLayoutIsReportedAndKept) {
  // [mail 1][50 bytes of damage][mail 2], and mail 2's message file was written: nothing of it
  // can be trusted past the damage, so mail 2 is lost, said, and its file kept, and the
  // journal is kept as it was.
  Store.reset();
  std::string J(LegacyMagic, 8);
  PutU32(J, 7);
  PutU32(J, Crc32(J.data(), J.size()));
  const size_t At = LegacyHeaderSize + ForgedLegacy(7, joNew, "1").size();
  J += ForgedLegacy(7, joNew, "1") + std::string(50, 'd') + ForgedLegacy(7, joNew, "2") + std::string(4096, '\0');
  SetJournal(J);
  Env.WriteFile(DataPath("mail/2.qn"), "Subject: forged\r\n\r\nhello\r\n");
  Open();
  EXPECT_EQ(States(), Waiting(1, 1));
  EXPECT_EQ(Red(), std::vector<std::string>{DamageLine(At, 2, 1)});
  EXPECT_TRUE(LogHas("1 The damaged mail journal is kept as " + DataPath("MailJour.jnl.damaged") + "."));
  EXPECT_EQ(Env.ReadFile(DataPath("MailJour.jnl.damaged")), J);
  EXPECT_EQ(Journal().compare(0, 8, std::string(Magic, 8)), 0);
  EXPECT_TRUE(Exists("mail/2.qn"));
  EXPECT_EQ(Add("b@x.example"), "3");
  Kill();
  Open();
  EXPECT_EQ(States(), (std::map<std::string, int>{{"1", msWaiting}, {"3", msWaiting}}));
  EXPECT_EQ(Red(), std::vector<std::string>{});
}
