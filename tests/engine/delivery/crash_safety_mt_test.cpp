// Crash safety under load: the engine harness takes mail from ten connections while it is
// killed with SIGKILL and started again on the same folders, in three settings: delivery
// to a loopback exchanger (killed at random moments), and no route at all, with and without
// failure notices (killed right as a "250 OK" comes, when mails fail as fast as they
// arrive). Every mail that got "250 OK" must reach the exchanger or still be in the store,
// in one list only; a delivered mail must be in the sent list; the engine may deliver a
// mail twice only when a kill fell between the exchanger's reply and the store's sync.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "support/ChildProcess.h"
#include "support/LineClient.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/TestEnv.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string TokenHeader = "Subject: crash ";

// The token of a message (its Subject), or "".
std::string TokenOf(const std::vector<std::string>& Lines) {
  for (const auto& L : Lines)
    if (L.compare(0, TokenHeader.size(), TokenHeader) == 0) return L.substr(TokenHeader.size());
  return std::string();
}

// One client connection that sends its mails one after the other, connecting again
// whenever the server went away. A mail counts as accepted when "." got "250 OK".
void SendMails(int Port, int Client, int Count, std::mutex& Lock, std::condition_variable& AckedMore, std::set<std::string>& Acked,
               std::set<std::string>& Unanswered, std::atomic<int>& Attempts, const std::atomic<bool>& Abort, Clock::time_point GiveUp) {
  std::unique_ptr<TLineClient> C;
  bool Resent = false;  // the mail's "." went out before and got no reply
  for (int M = 0; M < Count && !Abort && Clock::now() < GiveUp;) {
    const std::string Token = std::to_string(Client) + "-" + std::to_string(M);
    try {
      if (!C) {
        C = std::make_unique<TLineClient>(Port);
        if (C->Read().compare(0, 3, "220") != 0) throw std::runtime_error("no greeting");
      }
      ++Attempts;
      if (C->Cmd("MAIL FROM:<c" + std::to_string(Client) + "@origin.test>").compare(0, 3, "250") != 0 ||
          C->Cmd("RCPT TO:<r" + std::to_string(M) + "@dest.test>").compare(0, 3, "250") != 0 ||
          C->Cmd("DATA").compare(0, 3, "354") != 0)
        throw std::runtime_error("refused");
      C->Send(TokenHeader + Token);
      C->Send("");
      C->Send(std::string(200, 'x'));
      C->Send(".");
      {
        // Until the reply comes the server may or may not have the mail.
        std::lock_guard<std::mutex> G(Lock);
        Unanswered.insert(Token);
      }
      if (C->Read() != "250 OK") throw std::runtime_error("not accepted");
      {
        std::lock_guard<std::mutex> G(Lock);
        Acked.insert(Token);
        AckedMore.notify_all();
        if (!Resent) Unanswered.erase(Token);
      }
      Resent = false;
      ++M;
    } catch (const std::exception&) {
      // The server was killed (or is not up yet): send this mail again on a new connection.
      {
        std::lock_guard<std::mutex> G(Lock);
        Resent = Unanswered.count(Token) != 0;
      }
      C.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (C) {
    try {
      C->Cmd("QUIT");
    } catch (const std::exception&) {
    }
  }
}

// Tokens the exchanger received whole, with how often each came.
std::map<std::string, int> Delivered(const TScriptedSmtpPeer& Mx) {
  std::map<std::string, int> D;
  for (const auto& S : Mx.Sessions())
    if (S.DataComplete) ++D[TokenOf(S.Data)];
  return D;
}

struct TCrashCase {
  const char* Name;
  std::string Registry;  // more settings
  bool Route;            // the exchanger can be reached
  bool KillAfterAck;     // kill as a "250 OK" comes, else at a random moment
};

void PrintTo(const TCrashCase& C, std::ostream* Out) { *Out << C.Name; }

// Every received mail and notice the store holds, read the way the program reads it at
// start-up: token -> how many records of each kind, and the tokens in the sent list.
struct TStored {
  std::map<std::string, int> Received, Notices;
  std::set<std::string> Sent;
};

TStored ReadStore(const TTestEnv& Env) {
  DataDir = Env.DataHome() + "quillon/data/";
  TStored S;
  TMemoryMailStoreOptions O;
  O.RunTicker = false;
  TMemoryMailStore Store(O);
  TMailRecord R;
  for (bool Ok = Store.FindFirst({0, 1, 2, 3}, TMailStateSet::FromBits(0xFF), R); Ok; Ok = Store.FindNext(R)) {
    auto Mail = Store.LoadMailData(R.ID.str());
    if (!Mail) continue;
    const std::string T = TokenOf(Mail->Data);
    ++(R.Kind == mkNotice ? S.Notices : S.Received)[T];
    if (R.State == msSent && R.Kind != mkNotice) S.Sent.insert(T);
  }
  return S;
}

class CrashSafety : public testing::TestWithParam<TCrashCase> {};

}  // namespace

TEST_P(CrashSafety, AcceptedMailsSurviveSigkillUnderLoad) {
  const TCrashCase& Case = GetParam();
  TTestEnv Env;
  TLoopbackDNS Dns;
  TScriptedSmtpPeer Mx("", 25);
  Dns.SetMX("dest.test", {{10, Mx.IP()}});
  const int Port = FreeLoopbackPort();
  constexpr int Threads = 10;
  WriteHarnessRegistry(Env, Port, Dns.Address(),
                       RegistryDword("SMTPMaxConnections", 20) + RegistryDword("SenderMaxThreadCount", Threads) +
                           Case.Registry);
  constexpr int Clients = 10, MailsEach = 200, Kills = 6;
  std::mutex Lock;
  std::condition_variable AckedMore;
  std::set<std::string> Acked, Unanswered;
  std::atomic<int> Attempts{0};
  std::atomic<bool> Abort{false};
  std::vector<std::thread> Senders;
  // The clients end when a failed assertion leaves the test, or when the server never comes back.
  struct TJoin {
    std::atomic<bool>& Abort;
    std::vector<std::thread>& Threads;
    ~TJoin() {
      Abort = true;
      for (auto& T : Threads)
        if (T.joinable()) T.join();
    }
  } Join{Abort, Senders};
  const auto GiveUp = Clock::now() + std::chrono::seconds(240);
  for (int C = 0; C < Clients; ++C)
    Senders.emplace_back([&, C] { SendMails(Port, C, MailsEach, Lock, AckedMore, Acked, Unanswered, Attempts, Abort, GiveUp); });

  std::mt19937 Rng(std::random_device{}());
  const std::string Relay = std::string(QUILLON_BIN_DIR) + "/quillon-relay";
  int Killed = 0;
  std::vector<size_t> KillMarks;  // the exchanger's session count at each kill
  for (int Run = 0; Run <= Kills; ++Run) {
    TChildProcess P;
    const std::string Out = Env.Root() + "relay" + std::to_string(Run) + ".out";
    ASSERT_TRUE(P.Start({Relay}, Out));
    ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port),
                              60000))
        << Env.ReadFile(Out);
    if (Run == Kills) {
      // The last run: no more kills; let every client finish and the queue drain.
      for (auto& T : Senders) T.join();
      const auto Deadline = Clock::now() + std::chrono::seconds(120);
      for (; Case.Route;) {
        const auto D = Delivered(Mx);
        std::set<std::string> Missing;
        {
          std::lock_guard<std::mutex> G(Lock);
          for (const auto& T : Acked)
            if (!D.count(T)) Missing.insert(T);
        }
        if (Missing.empty() || Clock::now() > Deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      // Mails that were delivered already but still listed go out again now; let them.
      for (size_t Before = 0; Case.Route && Mx.SessionCount() != Before && Clock::now() < Deadline;) {
        Before = Mx.SessionCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      }
      EXPECT_EQ(P.Stop(20000), 0) << Env.ReadFile(Out).substr(std::max<size_t>(Env.ReadFile(Out).size(), 3000) - 3000);
      break;
    }
    if (Case.KillAfterAck) {
      // Right after a "250 OK": the moment a mail that fails at once leaves the waiting list.
      std::unique_lock<std::mutex> G(Lock);
      const size_t Target = Acked.size() + 20 + Rng() % 200;
      AckedMore.wait_for(G, std::chrono::seconds(60), [&] { return Acked.size() >= Target; });
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(200 + Rng() % 1000));
    }
    ASSERT_TRUE(P.Running()) << Env.ReadFile(Out);
    ::kill(P.Pid(), SIGKILL);
    KillMarks.push_back(Mx.SessionCount());
    EXPECT_EQ(P.Stop(5000), 128 + SIGKILL);
    ++Killed;
  }

  const TStored Stored = ReadStore(Env);
  const auto D = Delivered(Mx);
  int Lost = 0, Redelivered = 0, Resends = 0, Twice = 0, NoticesTwice = 0;
  for (const auto& T : Acked) {
    // Delivered, or still stored (as itself, or as the notice that replaced it).
    if (D.count(T) || Stored.Received.count(T) || Stored.Notices.count(T)) continue;
    ++Lost;
    ADD_FAILURE() << "mail " << T << " got 250 OK and is neither delivered nor stored";
  }
  // Twice only when the client sent it twice (no reply to its first ".").
  for (const auto& [T, N] : Stored.Received)
    if (N > 1 && !Unanswered.count(T)) {
      ++Twice;
      ADD_FAILURE() << "mail " << T << " is stored " << N << " times";
    }
  // A failed mail and its notice are one change: a crash never makes a second notice.
  for (const auto& [T, N] : Stored.Notices)
    if (!Unanswered.count(T)) NoticesTwice += N - 1;
  // A delivered mail is in the sent list: a kill between the exchanger's reply and the
  // journal's sync leaves it waiting, and it goes out once more after the restart.
  for (const auto& [T, N] : D)
    if (!T.empty() && !Stored.Sent.count(T)) ADD_FAILURE() << "mail " << T << " was delivered and is not in the sent list";
  // A second delivery of a mail whose "." went out twice may be the client's own resend
  // (the kill came between the store's commit and its reply); any other is the engine's,
  // and its first delivery must have come just before a kill (its filing not yet on disk).
  for (const auto& [T, N] : D)
    if (N > 1) (Unanswered.count(T) ? Resends : Redelivered) += N - 1;
  constexpr size_t JustBefore = 200;  // sessions: far more than the engine files during one sync
  const auto Sessions = Mx.Sessions();
  std::set<std::string> Seen;
  for (size_t I = 0; I < Sessions.size(); ++I) {
    if (!Sessions[I].DataComplete) continue;
    const std::string T = TokenOf(Sessions[I].Data);
    if (!Seen.insert(T).second || D.at(T) < 2 || Unanswered.count(T)) continue;
    bool NearKill = false;
    for (size_t M : KillMarks) NearKill = NearKill || (I < M && I + JustBefore >= M);
    EXPECT_TRUE(NearKill) << "mail " << T << " was delivered again though its first delivery was long before any kill";
  }
  std::printf("crash safety (%s): %zu mails accepted (%d attempts), %d kills, %d lost, %d stored twice, "
              "%d delivered twice by the engine, %d more deliveries of mails the client sent again, "
              "%zu in the sent list, %zu stored, %d second notices\n",
              Case.Name, Acked.size(), Attempts.load(), Killed, Lost, Twice, Redelivered, Resends, Stored.Sent.size(),
              Stored.Received.size(), NoticesTwice);
  EXPECT_EQ(size_t(Clients * MailsEach), Acked.size());
  EXPECT_EQ(0, Lost);
  EXPECT_EQ(0, NoticesTwice);
}

const TCrashCase CrashCases[] = {
    {"DeliveryToALoopbackExchanger", RegistryDword("DelMessageAfterSent", 0), true, false},
    // No route at all: every mail fails at once and moves to the failed list while the
    // clients keep sending.
    {"NoRouteAtAll",
     RegistryDword("RelayToSMTP", 1) + RegistryDword("DisableDirectDelivery", 1) + "\"RelaySMTPList\"=\"\"\r\n", false,
     true},
    {"NoRouteWithFailureNotices",
     RegistryDword("RelayToSMTP", 1) + RegistryDword("DisableDirectDelivery", 1) + "\"RelaySMTPList\"=\"\"\r\n" +
         RegistryDword("SendNotifyMail", 1) + RegistryDword("NotifyMailSender", 1) + RegistryDword("DelNotifiedMail", 0),
     false, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, CrashSafety, testing::ValuesIn(CrashCases),
                         [](const testing::TestParamInfo<TCrashCase>& I) { return std::string(I.param.Name); });
