// The mail journal from outside: quillon-relay as its own process, fed by a mail client
// over loopback, killed, its journal damaged or made unreadable by hand, and started again.
// Its exchanger takes connections and never answers, so every mail stays listed.
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/store/JournalFormat.h"
#include "support/JournalRelay.h"

using namespace JournalFormat;

namespace {

// Records as anyone who knows the layout would forge them, for a guessed identifier or an
// epoch of the earlier layout: a deletion of mail 1 and a mail of the forger's own.
std::string Bait() {
  auto Record = [](std::string HeadBytes, bool New, const std::string& ID) {
    TMailRecord R;
    R.ID = ID;
    R.MailFrom = "<evil@x.test>";
    R.Recipient = "<victim@dest.test>";
    R.State = msWaiting;
    uint8_t Buf[MailRecordSize];
    WriteMailRecord(R, Buf);
    std::string B = HeadBytes;
    if (New) PutU32(B, 1);
    B.append(reinterpret_cast<const char*>(Buf), MailRecordSize);
    PutU32(B, New ? 4 : NoText);
    PutU32(B, NoText);
    if (New) B += "evil";
    const uint32_t Size = uint32_t(B.size() + 4);
    for (int I = 0; I < 4; ++I) B[I] = char(Size >> (8 * I));
    if (HeadBytes.size() == HeadSize) {
      const std::string H = Head(Size, GetU64(reinterpret_cast<const uint8_t*>(B.data() + 4)), TJournalOp(B[12]), 0);
      B.replace(0, HeadSize, H);
    }
    PutU32(B, Crc32(B.data(), B.size()));
    return B;
  };
  std::string Out;
  for (uint64_t Guess : {uint64_t(0), uint64_t(1), uint64_t(0x0123456789abcdef)})
    for (bool New : {false, true}) Out += Record(Head(0, Guess, New ? joNew : joDelete, 0), New, New ? "2" : "1");
  for (uint32_t Epoch = 1; Epoch <= 6; ++Epoch)
    for (bool New : {false, true}) {
      std::string H;
      PutU32(H, 0);
      PutU32(H, Epoch);
      H += char(New ? joNew : joDelete);
      H += char(0);
      Out += Record(H, New, New ? "2" : "1");
    }
  return Out;
}

}  // namespace

TEST_F(JournalRelay, NoMessageCanPassForARecord) {
  // Forged records in a message, through a save, a start, a kill and a start again.
  Start();
  ASSERT_EQ(Send("a@origin.test", "a@dest.test", {"Subject: first", "", "hello"}).substr(0, 3), "250");
  ASSERT_EQ(Send("b@origin.test", "b@dest.test", {"Subject: bait", "", Bait(), Bait()}).substr(0, 3), "250");
  Stop();
  Start();
  ASSERT_EQ(Send("c@origin.test", "c@dest.test", {"Subject: third", "", "hi"}).substr(0, 3), "250");
  Kill();
  Start();
  Stop();
  EXPECT_EQ(Listed(), (std::map<std::string, std::string>{
                          {"1", "<a@origin.test>"}, {"2", "<b@origin.test>"}, {"3", "<c@origin.test>"}}));
  EXPECT_EQ(Output().find("damaged"), std::string::npos) << Output();
  EXPECT_TRUE(std::filesystem::exists(Data + "mail/1.qn"));
}

TEST_F(JournalRelay, AFlippedHeaderByteCostsNothing) {
  const std::vector<std::vector<size_t>> Cases = {{0}, {9}, {13}, {HeaderCopySize + 9}, {9, HeaderCopySize + 13}};
  for (auto& Bytes : Cases) {
    std::filesystem::remove_all(Data);
    Start();
    for (int I = 0; I < 10; ++I)
      ASSERT_EQ(Send("a@origin.test", "r" + std::to_string(I) + "@dest.test", {"Subject: m", "", "x"}).substr(0, 3),
                "250");
    Kill();  // before the first save: the journal alone holds them
    Flip(Data + "MailJour.jnl", Bytes);
    Start();
    Stop();
    EXPECT_EQ(Listed(), From(1, 10)) << Bytes[0];
  }
}

TEST_F(JournalRelay, WhatIsLostIsReportedAndItsFilesAreNeverWrittenOver) {
  Start();
  ASSERT_EQ(Send("a@origin.test", "a@dest.test", {"Subject: kept", "", "one"}).substr(0, 3), "250");
  {
    // One message for three recipients: one file under three names.
    TLineClient C(Port);
    C.Read();
    C.Cmd("HELO client.test");
    C.Cmd("MAIL FROM:<b@origin.test>");
    for (const char* To : {"x@dest.test", "y@dest.test", "z@dest.test"}) C.Cmd(std::string("RCPT TO:<") + To + ">");
    C.Cmd("DATA");
    C.Send("Subject: three");
    C.Send("");
    C.Send("the message of three");
    ASSERT_EQ(C.Cmd(".").substr(0, 3), "250");
  }
  // Killed once its files are written (right after the answer).
  for (int I = 0; I < 500 && !std::filesystem::exists(Data + "mail/4.qn"); ++I) ::usleep(10000);
  ::usleep(50000);
  Kill();
  // Its record is damaged (a byte of its message): the start says so and keeps the files.
  std::string J = Env.ReadFile(Data + "MailJour.jnl");
  const size_t At = J.find("the message of three");
  ASSERT_NE(At, std::string::npos);
  Flip(Data + "MailJour.jnl", {At});
  Start();
  EXPECT_NE(Output().find("log 3 Mail journal damaged: " + Data + "MailJour.jnl at offset "), std::string::npos);
  EXPECT_NE(Output().find(", 1 damaged record(s) skipped; 3 message file(s) belong to no mail and are kept in " + Data +
                          "mail/.\n"),
            std::string::npos)
      << Output();
  // New mails come after the kept files.
  ASSERT_EQ(Send("c@origin.test", "c@dest.test", {"Subject: new", "", "other text"}).substr(0, 3), "250");
  ASSERT_EQ(Send("d@origin.test", "d@dest.test", {"Subject: new", "", "other text"}).substr(0, 3), "250");
  Stop();
  EXPECT_EQ(Listed(), (std::map<std::string, std::string>{
                          {"1", "<a@origin.test>"}, {"5", "<c@origin.test>"}, {"6", "<d@origin.test>"}}));
  for (const char* ID : {"2", "3", "4"})
    EXPECT_EQ(Env.ReadFile(Data + "mail/" + ID + ".qn"), "Subject: three\r\n\r\nthe message of three\r\n") << ID;
}

TEST_F(JournalRelay, AJournalThatCannotBeReadIsLeftAsItIs) {
  // As a user who may not read it (root reads every file), and with a folder in its place.
  struct {
    const char* What;
    bool Folder;
    mode_t Mode;
    std::string Reason;
  } Cases[] = {{"a folder", true, 0, "Is a directory"},
               {"mode 0200", false, 0200, "Permission denied"},
               {"mode 0000", false, 0000, "Permission denied"}};
  for (auto& C : Cases) {
    const bool AsOther = !C.Folder;
    if (AsOther && !CanRunAsNobody()) {
      std::printf("skipped %s: needs root and setpriv to run as another user\n", C.What);
      continue;
    }
    std::filesystem::remove_all(Data);
    const std::vector<std::string> As = AsOther ? AsNobody() : std::vector<std::string>{};
    if (AsOther) GiveToNobody();
    Start(As);
    for (int I = 0; I < 3; ++I)
      ASSERT_EQ(Send("a@origin.test", "r" + std::to_string(I) + "@dest.test", {"Subject: m", "", "x"}).substr(0, 3),
                "250");
    Kill();
    const std::string Journal = Data + "MailJour.jnl";
    std::string Before = Env.ReadFile(Journal);
    if (C.Folder) {
      std::filesystem::rename(Journal, Journal + ".away");
      std::filesystem::create_directory(Journal);
    } else {
      ::chmod(Journal.c_str(), C.Mode);
    }
    Start(As);
    EXPECT_EQ(Send("b@origin.test", "b@dest.test", {"Subject: refused", "", "y"}), "451 Can not save mail. Unknow Error!")
        << C.What;
    EXPECT_EQ(Send("b@origin.test", "b@dest.test", {"Subject: refused", "", "y"}), "451 Can not save mail. Unknow Error!")
        << C.What;
    Stop();
    const std::string Text = Output();
    const std::string Line = "log 3 The mail journal " + Journal + " cannot be read (" + C.Reason +
                             "): no mail is taken or delivered until a start can read it.\n";
    EXPECT_NE(Text.find(Line), std::string::npos) << C.What << "\n" << Text;
    EXPECT_EQ(Text.find("log 3 ", Text.find(Line) + 1), std::string::npos) << C.What << "\n" << Text;
    // Untouched; readable again, its mails come back.
    if (C.Folder) {
      std::filesystem::remove(Journal);
      std::filesystem::rename(Journal + ".away", Journal);
    } else {
      ::chmod(Journal.c_str(), 0644);
    }
    EXPECT_EQ(Env.ReadFile(Journal), Before) << C.What;
    Start(As);
    Stop();
    EXPECT_EQ(Listed(), From(1, 3)) << C.What;
  }
}

TEST_F(JournalRelay, AStopOnAFullDiskSendsNoMailTwice) {
  // The data folder on a small disk of its own, full but for a little room.
  TSmallDisk Disk(Data, "2m");
  if (!Disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here: " << Disk.Error();
  TScriptedSmtpPeer Taker("", 25);  // takes every mail
  Dns.SetMX("dest.test", {{10, Taker.IP()}});
  Start();
  Disk.Fill(160 << 10);
  int Taken = 0;
  for (int I = 0; I < 200; ++I) {
    const std::string Reply =
        Send("a@origin.test", "r" + std::to_string(I) + "@dest.test", {"Subject: mail " + std::to_string(I), "", "x"});
    if (Reply.substr(0, 3) == "250") ++Taken;
    else if (Reply.substr(0, 3) != "452") ADD_FAILURE() << Reply;
  }
  ASSERT_GT(Taken, 0);
  ASSERT_LT(Taken, 200);
  // Every mail taken goes out, on the full disk, and the program stops there.
  EXPECT_TRUE(Taker.WaitClosedSessions(size_t(Taken), 30000)) << Taker.SessionCount() << " of " << Taken;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Stop();
  // Room again: nothing goes out a second time.
  Disk.Empty();
  Start();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  Stop();
  EXPECT_EQ(Taker.SessionCount(), size_t(Taken));
  for (auto& [Subject, N] : Subjects(Taker)) EXPECT_EQ(N, 1) << Subject;
}
