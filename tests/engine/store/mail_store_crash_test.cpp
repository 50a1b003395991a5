// A process adding mails is killed at a random moment: every mail whose AddMail had
// returned must be waiting after a restart.
#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "support/TestEnv.h"

namespace {

[[noreturn]] void AddForever(int AckFd) {
  TMemoryMailStore Store;
  std::vector<std::thread> Threads;
  for (int T = 0; T < 3; ++T) {
    Threads.emplace_back([&Store, AckFd, T] {
      for (int I = 0;; ++I) {
        TMailData M;
        M.MailFrom = "<s@here.example>";
        M.Recipients = {"r" + std::to_string(T) + "@far.example"};
        M.Kind = mkReceived;
        M.State = msWaiting;
        M.Data = {"Subject: crash", "", std::string(2000, 'x')};
        Store.AddMail(M);
        std::string Line = M.ID + "\n";
        if (::write(AckFd, Line.data(), Line.size()) != ssize_t(Line.size())) _exit(3);
      }
    });
  }
  for (auto& T : Threads) T.join();
  _exit(0);
}

}  // namespace

TEST(StoreCrash, AcknowledgedMailsSurviveSigkill) {
  TTestEnv Env;
  RetrySend = false;
  DelMessageAfterSent = false;
  std::mt19937 Rng(std::random_device{}());
  std::set<std::string> Acked;
  for (int Round = 0; Round < 4; ++Round) {
    int Fds[2];
    ASSERT_EQ(::pipe(Fds), 0);
    pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
      ::close(Fds[0]);
      AddForever(Fds[1]);
    }
    ::close(Fds[1]);
    std::string Received;
    auto KillAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(150 + Rng() % 400);
    char Buf[4096];
    // Read until the moment comes, then kill and take what was already acknowledged.
    while (std::chrono::steady_clock::now() < KillAt) {
      pollfd P{Fds[0], POLLIN, 0};
      if (::poll(&P, 1, 5) > 0) {
        ssize_t N = ::read(Fds[0], Buf, sizeof Buf);
        if (N <= 0) break;
        Received.append(Buf, size_t(N));
      }
    }
    ::kill(Child, SIGKILL);
    int Status = 0;
    ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
    ASSERT_TRUE(WIFSIGNALED(Status)) << "child ended by itself with " << Status;
    for (ssize_t N; (N = ::read(Fds[0], Buf, sizeof Buf)) > 0;) Received.append(Buf, size_t(N));
    ::close(Fds[0]);
    for (size_t B = 0, E; (E = Received.find('\n', B)) != std::string::npos; B = E + 1)
      Acked.insert(Received.substr(B, E - B));

    TMemoryMailStoreOptions O;
    O.RunTicker = false;
    TMemoryMailStore Store(std::move(O));
    std::set<std::string> Waiting;
    TMailRecord R;
    for (bool Ok = Store.FindFirst({1}, {1}, R); Ok; Ok = Store.FindNext(R)) Waiting.insert(R.ID.str());
    EXPECT_EQ(int(Waiting.size()), Store.GetMailCount({1}, {1}));
    for (auto& ID : Acked) EXPECT_TRUE(Waiting.count(ID)) << "mail " << ID << " was acknowledged and lost";
  }
  EXPECT_GT(Acked.size(), 10u);
}
