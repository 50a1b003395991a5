// The mail journal at its edges, from outside: a disk that fills while mails arrive, a
// journal that can be read but not written, journals set aside one after another, and a
// journal cut where a record ends.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/store/JournalFormat.h"
#include "support/JournalRelay.h"

using namespace JournalFormat;
using Clock = std::chrono::steady_clock;

namespace {

// Until Done() holds or TimeoutMs has passed; Done() as it stands then.
template <typename F>
bool WaitFor(F Done, int TimeoutMs) {
  const auto End = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!Done() && Clock::now() < End) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return Done();
}

size_t CountOf(const std::string& Text, const std::string& What) {
  size_t N = 0;
  for (size_t At = Text.find(What); At != std::string::npos; At = Text.find(What, At + 1)) ++N;
  return N;
}

// Files compared byte for byte, said short: a journal is mostly zeros.
::testing::AssertionResult SameBytes(const std::string& Got, const std::string& Want) {
  if (Got == Want) return ::testing::AssertionSuccess();
  size_t At = 0;
  while (At < Got.size() && At < Want.size() && Got[At] == Want[At]) ++At;
  return ::testing::AssertionFailure() << Got.size() << " bytes where " << Want.size()
                                       << " were, the first difference at " << At;
}

// Where the record of each new mail in the journal ends, by the ID of its first recipient.
std::map<std::string, size_t> NewMailEnds(const std::string& J) {
  std::map<std::string, size_t> Out;
  const uint8_t* P = reinterpret_cast<const uint8_t*>(J.data());
  for (size_t Pos = HeaderSize; Pos + HeadSize <= J.size();) {
    const uint32_t Size = GetU32(P + Pos);
    if (Size < HeadSize || Pos + Size > J.size()) break;
    if (P[Pos + 12] == joNew) {
      TMailRecord R;
      ReadMailRecord(P + Pos + NewFixedSize, R);
      Out[R.ID.str()] = Pos + Size;
    }
    Pos += Size;
  }
  return Out;
}

}  // namespace

TEST_F(JournalRelay, EveryMailAnswered250OnANearlyFullDiskStays) {
  // Six clients at once, big and small mails in turn, on a disk that is freed a little at a
  // time (as other programs free it) and filled again at once: a big mail refused for lack of
  // room can share its journal write with a small one that fits.
  Settings(RegistryDword("SMTPMaxConnections", 10));
  const std::string BigBody = [] {
    std::string B;
    for (int I = 0; I < 200; ++I) B += (I ? "\r\n" : "") + std::string(1022, char('a' + I % 26));
    return B;
  }();
  const std::string SmallBody = [] {
    std::string B;
    for (int I = 0; I < 8; ++I) B += (I ? "\r\n" : "") + std::string(98, char('A' + I));
    return B;
  }();
  constexpr int Clients = 6;
  for (const uintmax_t Room : {uintmax_t(0), uintmax_t(64 << 10), uintmax_t(256 << 10)}) {
    SCOPED_TRACE("room " + std::to_string(Room));
    TSmallDisk Disk(Data, "6m");
    if (!Disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here: " << Disk.Error();
    Start();
    Disk.Fill(Room);
    struct TResult {
      std::vector<std::pair<std::string, bool>> Taken;  // the mails answered 250: name, big
      int Refused = 0;                                  // answered 452 or 451
      std::vector<std::string> Wrong;                   // any other reply
    } Results[Clients];
    const auto End = Clock::now() + std::chrono::seconds(5);
    std::vector<std::thread> Threads;
    for (int K = 0; K < Clients; ++K)
      Threads.emplace_back([&, K] {
        TResult& R = Results[K];
        try {
          TLineClient C(Port);
          C.Read();
          C.Cmd("HELO client.test");
          for (int N = 0; Clock::now() < End; ++N) {
            const std::string Name = "c" + std::to_string(K) + "m" + std::to_string(N);
            const bool Big = (N + K) % 2 == 0;
            for (const std::string& Cmd :
                 {"MAIL FROM:<" + Name + "@origin.test>", std::string("RCPT TO:<r@dest.test>")})
              if (const std::string Reply = C.Cmd(Cmd); Reply.substr(0, 3) != "250")
                R.Wrong.push_back(Cmd + ": " + Reply);
            if (const std::string Reply = C.Cmd("DATA"); Reply.substr(0, 3) != "354")
              R.Wrong.push_back("DATA: " + Reply);
            if (!R.Wrong.empty()) return;
            C.Send("Subject: " + Name);
            C.Send("");
            C.Send(Big ? BigBody : SmallBody);
            const std::string Reply = C.Cmd(".");
            if (Reply.substr(0, 3) == "250") {
              R.Taken.emplace_back(Name, Big);
            } else if (Reply.substr(0, 3) == "452" || Reply.substr(0, 3) == "451") {
              ++R.Refused;
            } else {
              R.Wrong.push_back(Name + ": " + Reply);
              return;
            }
          }
          C.Cmd("QUIT");
        } catch (const std::exception& E) {
          R.Wrong.push_back(E.what());
        }
      });
    // 32 KB every 0.1 s: room for small mails, not for a big one, again and again. At most
    // 1.6 MB in all, so that the filler keeps what the store needs once it is taken away.
    for (int I = 0; I < 50 && Clock::now() < End; ++I) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      Disk.Free(32 << 10);
    }
    for (auto& T : Threads) T.join();
    Stop();
    // Room again: whatever the journal holds goes into the index files and mail/.
    Disk.Empty();
    Start();
    Stop();
    std::map<std::string, std::string> IDOf;  // by sender
    for (auto& [ID, Sender] : Listed()) IDOf[Sender] = ID;
    size_t Taken = 0;
    int Refused = 0;
    std::vector<std::string> Lost, Damaged;
    for (auto& R : Results) {
      for (auto& W : R.Wrong) ADD_FAILURE() << W;
      Taken += R.Taken.size();
      Refused += R.Refused;
      for (auto& [Name, Big] : R.Taken) {
        const auto It = IDOf.find("<" + Name + "@origin.test>");
        if (It == IDOf.end())
          Lost.push_back(Name);
        else if (Env.ReadFile(Data + "mail/" + It->second + ".qn") !=
                 "Subject: " + Name + "\r\n\r\n" + (Big ? BigBody : SmallBody) + "\r\n")
          Damaged.push_back(Name + " (" + It->second + ".qn)");
      }
    }
    std::printf("room %ju: %zu mails answered 250, %d refused, %zu of them gone, %zu with a wrong message file\n", Room,
                Taken, Refused, Lost.size(), Damaged.size());
    EXPECT_GT(Refused, 0) << "the disk never filled";
    auto Some = [](const std::vector<std::string>& V) {
      std::string S;
      for (size_t I = 0; I < V.size() && I < 10; ++I) S += " " + V[I];
      return S;
    };
    EXPECT_TRUE(Lost.empty()) << Lost.size() << " of " << Taken << " mails answered 250 are not listed:" << Some(Lost);
    EXPECT_TRUE(Damaged.empty()) << Damaged.size() << " of " << Taken
                                 << " mails answered 250 lack their whole message:" << Some(Damaged);
  }
}

TEST_F(JournalRelay, AJournalThatCannotBeWrittenIsLeftAsItIs) {
  if (!CanRunAsNobody()) GTEST_SKIP() << "needs root and setpriv to run as another user";
  struct {
    const char* What;
    bool Root;  // the journal stays root's, the rest is the other user's
    mode_t Mode;
  } Cases[] = {{"owned by root, mode 0644", true, 0644}, {"mode 0444", false, 0444}};
  const std::string Journal = Data + "MailJour.jnl";
  for (auto& C : Cases) {
    SCOPED_TRACE(C.What);
    std::filesystem::remove_all(Data);
    TScriptedSmtpPeer Taker("", 25);  // takes every mail, once it greets
    Taker.SetReply("GREETING", "");
    Dns.SetMX("dest.test", {{10, Taker.IP()}});
    // The sessions in which the relay got as far as a command.
    auto Talked = [&] {
      size_t N = 0;
      for (auto& S : Taker.Sessions()) N += !S.Commands.empty();
      return N;
    };
    Start();
    for (int I = 0; I < 3; ++I)
      ASSERT_EQ(
          Send("a@origin.test", "r" + std::to_string(I) + "@dest.test", {"Subject: m" + std::to_string(I), "", "x"})
              .substr(0, 3),
          "250");
    Stop();
    GiveToNobody();
    if (C.Root) ::chown(Journal.c_str(), 0, 0);
    ::chmod(Journal.c_str(), C.Mode);
    const std::string Before = Env.ReadFile(Journal);
    Taker.SetReply("GREETING", "220 peer.test ESMTP ready");

    Start(AsNobody());
    EXPECT_EQ(Send("b@origin.test", "b@dest.test", {"Subject: refused", "", "y"}),
              "451 Can not save mail. Unknow Error!");
    // Nothing goes out (its filing could not be written).
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(Talked(), 0u);
    Stop();
    const std::string Text = Output();
    EXPECT_NE(Text.find("log 3 The mail journal " + Journal +
                        " cannot be written (Permission denied): no mail is taken or delivered until a start can "
                        "write it.\n"),
              std::string::npos)
        << Text;
    EXPECT_EQ(CountOf(Text, "log 3 "), 1u);
    EXPECT_TRUE(SameBytes(Env.ReadFile(Journal), Before));

    // Writable again: its mails go out, once each.
    const size_t Earlier = Taker.Sessions().size();
    if (C.Root) {
      Start();
    } else {
      ::chmod(Journal.c_str(), 0644);
      Start(AsNobody());
    }
    EXPECT_TRUE(WaitFor([&] { return Subjects(Taker, Earlier).size() >= 3; }, 20000));
    Stop();
    EXPECT_EQ(Subjects(Taker),
              (std::map<std::string, int>{{"Subject: m0", 1}, {"Subject: m1", 1}, {"Subject: m2", 1}}));
  }
}

TEST_F(JournalRelay, EveryJournalSetAsideIsKept) {
  // A journal whose header copies and first record head are all damaged: each one goes
  // under a name of its own.
  const std::string Journal = Data + "MailJour.jnl";
  std::vector<std::string> Damaged;
  for (int Round = 0; Round < 3; ++Round) {
    SCOPED_TRACE("round " + std::to_string(Round));
    Start();
    ASSERT_EQ(Send("a@origin.test", "a@dest.test", {"Subject: round " + std::to_string(Round), "", "x"}).substr(0, 3),
              "250");
    Kill();
    Flip(Journal, {9, HeaderCopySize + 9, HeaderSize + 5});
    Damaged.push_back(Env.ReadFile(Journal));
    Start();
    const std::string Name = Journal + ".damaged" + (Round ? "." + std::to_string(Round) : "");
    EXPECT_NE(Output().find("log 3 Mail journal damaged: " + Journal + " at offset "), std::string::npos) << Output();
    EXPECT_NE(Output().find("log 1 The damaged mail journal is kept as " + Name + ".\n"), std::string::npos)
        << Output();
    Stop();
  }
  for (int Round = 0; Round < 3; ++Round) {
    const std::string Name = Journal + ".damaged" + (Round ? "." + std::to_string(Round) : "");
    EXPECT_TRUE(std::filesystem::exists(Name)) << Name;
    EXPECT_TRUE(SameBytes(Env.ReadFile(Name), Damaged[size_t(Round)])) << Name;
  }
}

TEST_F(JournalRelay, AJournalCutWhereARecordEndsReportsTheMailsItLost) {
  const std::string Journal = Data + "MailJour.jnl";
  auto Text = [](int I) { return "Subject: mail " + std::to_string(I) + "\r\n\r\ntext " + std::to_string(I) + "\r\n"; };
  struct {
    const char* What;
    int Kept;  // mails whose records stay
  } Cases[] = {{"right after its header", 0}, {"right after the record of mail 5", 5}};
  for (auto& C : Cases) {
    SCOPED_TRACE(C.What);
    std::filesystem::remove_all(Data);
    Start();
    for (int I = 1; I <= 12; ++I)
      ASSERT_EQ(
          Send("a@origin.test", "r@dest.test", {"Subject: mail " + std::to_string(I), "", "text " + std::to_string(I)})
              .substr(0, 3),
          "250");
    // Their files are written right after the answers.
    ASSERT_TRUE(WaitFor(
        [&] {
          for (int I = 1; I <= 12; ++I)
            if (Env.ReadFile(Data + "mail/" + std::to_string(I) + ".qn") != Text(I)) return false;
          return true;
        },
        10000));
    Kill();
    // Before the first save: the journal alone holds them.
    const auto Ends = NewMailEnds(Env.ReadFile(Journal));
    ASSERT_EQ(Ends.size(), 12u);
    const size_t Cut = C.Kept ? Ends.at(std::to_string(C.Kept)) : HeaderSize;
    std::filesystem::resize_file(Journal, Cut);

    Start();
    const std::string Lost = std::to_string(12 - C.Kept);
    EXPECT_NE(Output().find("log 3 Mail journal damaged: " + Journal + " at offset " + std::to_string(Cut) +
                            ", 0 damaged record(s) skipped; " + Lost +
                            " message file(s) belong to no mail and are kept in " + Data + "mail/.\n"),
              std::string::npos)
        << Output();
    EXPECT_EQ(CountOf(Output(), "log 3 "), 1u);
    ASSERT_EQ(Send("n@origin.test", "n@dest.test", {"Subject: new", "", "new"}).substr(0, 3), "250");
    Stop();
    // Said once: the next start finds nothing to say.
    Start();
    Stop();
    EXPECT_EQ(CountOf(Output(), "log 3 "), 0u) << Output();
    auto Want = From(1, C.Kept);
    Want["13"] = "<n@origin.test>";
    EXPECT_EQ(Listed(), Want);
    for (int I = C.Kept + 1; I <= 12; ++I)
      EXPECT_EQ(Env.ReadFile(Data + "mail/" + std::to_string(I) + ".qn"), Text(I)) << I;
  }
}
