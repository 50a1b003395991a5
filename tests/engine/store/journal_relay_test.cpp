// The mail journal from outside: quillon-relay as its own process, fed by a mail client
// over loopback, killed, its journal damaged or made unreadable by hand, and started again.
// Its exchanger takes connections and never answers, so every mail stays listed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/store/JournalFormat.h"
#include "engine/store/MailData.h"
#include "support/ChildProcess.h"
#include "support/LineClient.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/TestEnv.h"

using namespace JournalFormat;

namespace {

class JournalRelay : public ::testing::Test {
protected:
  TTestEnv Env;
  TLoopbackDNS Dns;
  TScriptedSmtpPeer Mx{"", 25};
  const int Port = FreeLoopbackPort();
  const std::string Harness = std::string(QUILLON_BIN_DIR) + "/quillon-relay";
  const std::string Data = Env.DataHome() + "quillon/data/";
  TChildProcess Relay;
  int Runs = 0;
  std::string Out;

  JournalRelay() {
    Mx.SetReply("GREETING", "");  // takes the connection and never answers
    Dns.SetMX("dest.test", {{10, Mx.IP()}});
    WriteHarnessRegistry(Env, Port, Dns.Address(), RegistryDword("SenderConntecTimeout", 600));
  }
  void Start(const std::vector<std::string>& Prefix = {}) {
    Out = Env.Root() + "relay" + std::to_string(++Runs) + ".out";
    std::vector<std::string> Argv = Prefix;
    Argv.push_back(Harness);
    ASSERT_TRUE(Relay.Start(Argv, Out));
    ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port)))
        << Env.ReadFile(Out);
  }
  void Kill() {
    ::kill(Relay.Pid(), SIGKILL);
    Relay.Wait();
  }
  void Stop() { EXPECT_EQ(Relay.Stop(15000), 0) << Env.ReadFile(Out); }
  // The whole dialogue of one mail; the reply to its end.
  std::string Send(const std::string& From, const std::string& To, const std::vector<std::string>& Body) {
    TLineClient C(Port);
    C.Read();
    C.Cmd("HELO client.test");
    C.Cmd("MAIL FROM:<" + From + ">");
    C.Cmd("RCPT TO:<" + To + ">");
    C.Cmd("DATA");
    for (auto& L : Body) C.Send(L);
    return C.Cmd(".");
  }
  // Every mail the index files list, as ID and sender (read after a clean stop).
  std::map<std::string, std::string> Listed() {
    std::map<std::string, std::string> Out;
    for (const char* F : {"MailQueu.idx", "MailSucc.idx", "MailFail.idx"}) {
      const std::string I = Env.ReadFile(Data + F);
      for (size_t At = 22; At + MailRecordSize <= I.size(); At += MailRecordSize) {
        TMailRecord R;
        ReadMailRecord(reinterpret_cast<const uint8_t*>(I.data() + At), R);
        Out[R.ID.str()] = "<" + R.MailFrom.str() + ">";
      }
    }
    return Out;
  }
  std::map<std::string, std::string> From(int First, int Last, const std::string& Sender = "<a@origin.test>") {
    std::map<std::string, std::string> Out;
    for (int I = First; I <= Last; ++I) Out[std::to_string(I)] = Sender;
    return Out;
  }
  std::string Output() { return Env.ReadFile(Out); }
  void Flip(const std::string& File, std::vector<size_t> At) {
    std::string J = Env.ReadFile(File);
    for (size_t A : At) J[A] = char(J[A] ^ 0x10);
    Env.WriteFile(File, J);
  }
};

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
  const bool Root = ::geteuid() == 0;
  const bool Setpriv = ::access("/usr/bin/setpriv", X_OK) == 0;
  struct {
    const char* What;
    bool Folder;
    mode_t Mode;
    std::string Reason;
  } Cases[] = {{"a folder", true, 0, "Is a directory"},
               {"mode 0200", false, 0200, "Permission denied"},
               {"mode 0000", false, 0000, "Permission denied"}};
  for (auto& C : Cases) {
    const bool AsNobody = !C.Folder;
    if (AsNobody && !(Root && Setpriv)) {
      std::printf("skipped %s: needs root and setpriv to run as another user\n", C.What);
      continue;
    }
    std::filesystem::remove_all(Data);
    const std::vector<std::string> As =
        AsNobody ? std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}
                 : std::vector<std::string>{};
    if (AsNobody)
      for (auto& P : std::filesystem::recursive_directory_iterator(Env.Root()))
        ::chown(P.path().c_str(), 65534, 65534);
    if (AsNobody) ::chown(Env.Root().c_str(), 65534, 65534);
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
  std::filesystem::create_directories(Data);
  if (::mount("tmpfs", Data.c_str(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  struct TUnmount {
    std::string Dir;
    ~TUnmount() { ::umount2(Dir.c_str(), MNT_DETACH); }
  } Unmount{Data};
  TScriptedSmtpPeer Taker("", 25);  // takes every mail
  Dns.SetMX("dest.test", {{10, Taker.IP()}});
  Start();
  {
    std::ofstream F(Data + "filler", std::ios::binary);
    const std::string Block(4096, 'f');
    while (F.write(Block.data(), std::streamsize(Block.size())) && F.flush()) {
    }
  }
  std::filesystem::resize_file(Data + "filler", std::filesystem::file_size(Data + "filler") - (160 << 10));
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
  std::filesystem::remove(Data + "filler");
  Start();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  Stop();
  EXPECT_EQ(Taker.SessionCount(), size_t(Taken));
  std::map<std::string, int> Subjects;
  for (auto& S : Taker.Sessions())
    for (auto& L : S.Data)
      if (L.rfind("Subject: ", 0) == 0) ++Subjects[L];
  for (auto& [Subject, N] : Subjects) EXPECT_EQ(N, 1) << Subject;
}
