#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "engine/settings/VexaBase.h"
#include "support/ReceiverFixture.h"

namespace {
class MailReceiverMT : public TReceiverFixture {};

size_t FreeSlots(TMailReceiver& R) {
  std::lock_guard<std::mutex> L(R.SlotsLock);
  return static_cast<size_t>(std::count_if(R.Slots.begin(), R.Slots.end(), [](const auto& S) { return S->Free; }));
}
}  // namespace

TEST_F(MailReceiverMT, SlotsRunOutAndComeBack) {
  SMTPMaxConnections = 3;
  Receiver->Start();
  auto A = Client(), B = Client(), C = Client();
  EXPECT_EQ("421 Too many connection. Try again later.", FirstLine(""));
  EXPECT_EQ(0u, FreeSlots(*Receiver));
  {
    std::lock_guard<std::mutex> L(Receiver->SlotsLock);
    for (size_t I = 0; I < 3; ++I) {
      EXPECT_EQ(int32_t(I + 1), Receiver->Slots[I]->Number);
      EXPECT_EQ("127.0.0.1", Receiver->Slots[I]->PeerIP);
      EXPECT_NE(nullptr, Receiver->Slots[I]->Thread);
    }
  }
  // The slot is free by the time the client reads "221 Bye", so a client that reconnects at
  // once is not refused.
  EXPECT_EQ("221 Bye", B.Cmd("QUIT"));
  EXPECT_EQ(1u, FreeSlots(*Receiver));
  EXPECT_TRUE(WaitForLog("Mail client from 127.0.0.1 disconnected"));
  auto D = Client();
  EXPECT_EQ("250 OK", D.Cmd("NOOP"));
  EXPECT_EQ("421 Too many connection. Try again later.", FirstLine(""));
  A.Conn().Disconnect();  // a client that just goes away frees its slot too
  for (int I = 0; I < 1000 && FreeSlots(*Receiver) == 0; ++I) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(1u, FreeSlots(*Receiver));
}

TEST_F(MailReceiverMT, StopEndsEveryConnectionPromptly) {
  SMTPMaxConnections = 10;
  Receiver->Start();
  std::vector<TLineClient> Clients;
  for (int I = 0; I < 10; ++I) Clients.push_back(Client());
  // One in the data phase, one in the middle of AUTH, one with half a line sent.
  Clients[0].Cmd("RCPT TO:<r@x.y>");
  Clients[0].Cmd("DATA");
  Clients[0].Send("Subject: never finished");
  Clients[1].Cmd("AUTH LOGIN");
  Clients[2].Conn().Write(std::string("NOO"));
  EXPECT_EQ(0u, FreeSlots(*Receiver));
  const auto T0 = std::chrono::steady_clock::now();
  Receiver->Stop();
  const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - T0).count();
  EXPECT_LT(Ms, 3000);  // guards against a hang; the figure itself is not a target
  EXPECT_EQ(0u, Receiver->Server.ConnectionCount());
  for (auto& C : Clients) EXPECT_EQ("<closed>", C.Read());
  const auto L = LogLines();
  EXPECT_EQ(10, std::count(L.begin(), L.end(), "Mail client from 127.0.0.1 disconnected"));
  EXPECT_TRUE(Store.Mails().empty());
  // A new start has every slot free again.
  Receiver->Start();
  std::vector<TLineClient> Again;
  for (int I = 0; I < 10; ++I) Again.push_back(Client());
  EXPECT_EQ("421 Too many connection. Try again later.", FirstLine(""));
}

TEST_F(MailReceiverMT, ParallelSessions) {
  SMTPMaxConnections = 10;
  Receiver->Start();
  std::vector<std::thread> Threads;
  std::atomic<int> Ok{0};
  for (int T = 0; T < 8; ++T)
    Threads.emplace_back([&, T] {
      auto C = Client();
      for (int M = 0; M < 20; ++M) {
        const std::string Reply =
            SendMail(C, "t" + std::to_string(T) + "@x.y", {"Subject: " + std::to_string(M), "", "body"});
        if (Reply == "250 OK") ++Ok;
      }
      C.Cmd("QUIT");
    });
  for (auto& T : Threads) T.join();
  EXPECT_EQ(160, Ok.load());
  EXPECT_EQ(160u, Store.Mails().size());
}
