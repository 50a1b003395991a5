// The server under bad clients while good ones send mail: garbage, over-long lines, a data
// phase that never ends, connections that drop in the middle of a command. Every good mail
// arrives, no bad one is stored, and the server's threads go back to their idle count.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/net/SocketErrors.h"
#include "engine/settings/VexaBase.h"
#include "support/ReceiverFixture.h"

namespace {

class BadInputMT : public TReceiverFixture {};

size_t ThreadCount() {
  size_t N = 0;
  if (DIR* D = opendir("/proc/self/task")) {
    while (dirent* E = readdir(D))
      if (E->d_name[0] != '.') ++N;
    closedir(D);
  }
  return N;
}

// Writes as much as the server takes; it may hang up at any moment.
void WriteQuietly(TTcpConnection& C, const std::string& Data) {
  try {
    C.Write(Data);
  } catch (const std::exception&) {
  }
}

// One bad client of each kind, Round picking the details.
void BadClient(int Kind, int Round, std::mt19937& Rng) {
  try {
    TLineClient C(SMTPPort);
    switch (Kind) {
      case 0: {  // binary garbage with NULs and stray line ends
        std::string G(16384 + Round * 1000, '\0');
        for (auto& Ch : G) Ch = static_cast<char>(Rng());
        WriteQuietly(C.Conn(), G);
        break;
      }
      case 1:  // a line far over the limit
        WriteQuietly(C.Conn(), "MAIL FROM: <" + std::string(100000, 'a'));
        break;
      case 2: {  // a data phase that never ends: the client gives up first
        C.Cmd("RCPT TO:<r@x.y>");
        C.Cmd("DATA");
        std::string Lines;
        for (int I = 0; I < 2000; ++I) Lines += "Subject: endless line " + std::to_string(I) + "\r\n";
        for (int I = 0; I < 10; ++I) WriteQuietly(C.Conn(), Lines);
        break;
      }
      case 3:  // half a command
        WriteQuietly(C.Conn(), "MAIL FROM: <half@x.y");
        break;
      case 4:  // AUTH cut off between its lines, or with a line that is not base64
        C.Cmd("AUTH LOGIN");
        if (Round % 2) C.Cmd("%%% not base64 %%%");
        break;
      case 5:  // RCPT with a huge address, then a bare LF and a lone CR
        C.Cmd("RCPT TO:<" + std::string(16000, 'x') + "@y.z>");
        WriteQuietly(C.Conn(), "\n\r\rNOOP\r");
        break;
    }
    // Gone without QUIT; sometimes with a reset (closed with linger 0) instead of a FIN.
    if (Round % 3 == 0) {
      linger L{1, 0};
      setsockopt(C.Conn().Handle(), SOL_SOCKET, SO_LINGER, &L, sizeof L);
    } else {
      C.Conn().Disconnect();
    }
  } catch (const std::exception&) {
    // the server hung up on us first: fine
  }
}

}  // namespace

TEST_F(BadInputMT, GoodMailsArriveAndThreadsReturnToIdle) {
  SMTPMaxConnections = 40;
  Receiver->Start();
  const size_t IdleThreads = ThreadCount();

  constexpr int GoodClients = 4, MailsEach = 25;
  std::atomic<int> Accepted{0};
  std::vector<std::thread> Threads;
  for (int G = 0; G < GoodClients; ++G)
    Threads.emplace_back([&, G] {
      TLineClient C(SMTPPort);
      EXPECT_EQ(SmtpGreeting, C.Read());
      for (int M = 0; M < MailsEach; ++M) {
        const std::string Subject = "good " + std::to_string(G) + "-" + std::to_string(M);
        if (SendMail(C, "g" + std::to_string(G) + "@x.y", {"Subject: " + Subject, "", "body"}) == "250 OK") ++Accepted;
      }
      EXPECT_EQ("221 Bye", C.Cmd("QUIT"));
    });
  for (int B = 0; B < 6; ++B)
    Threads.emplace_back([B] {
      std::mt19937 Rng(B);
      for (int Round = 0; Round < 8; ++Round) BadClient(B, Round, Rng);
    });
  for (auto& T : Threads) T.join();

  EXPECT_EQ(GoodClients * MailsEach, Accepted.load());
  std::set<std::string> Subjects;
  for (const auto& M : Store.Mails()) Subjects.insert(M.Subject);
  EXPECT_EQ(size_t(GoodClients * MailsEach), Subjects.size());
  for (const auto& S : Subjects) EXPECT_EQ(0u, S.rfind("good ", 0)) << S;

  // Connection threads end with their clients; the listener reaps them when idle.
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((Receiver->Server.ConnectionCount() != 0 || ThreadCount() > IdleThreads) &&
         std::chrono::steady_clock::now() < Deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(0u, Receiver->Server.ConnectionCount());
  EXPECT_EQ(IdleThreads, ThreadCount());
  // Still serving.
  auto C = Client();
  EXPECT_EQ("250 OK", SendMail(C, "late@x.y", {"Subject: late", "", "x"}));
}
