// A failed AUTH LOGIN is answered late, in its own session only: other sessions go on, a
// good login is answered at once, and neither a hang-up nor a stop waits for the delay.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/net/Base64.h"
#include "engine/smtp/zqSMTPServer.h"
#include "support/LineClient.h"

namespace {
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

class SmtpServerLoginDelay : public testing::Test {
protected:
  TzqSMTPServer S;
  std::atomic<int> Asked{0};
  int Port = 0;

  void SetUp() override {
    S.Bindings = {{"127.0.0.1", 0}};
    S.RequireAuth = true;
    S.OnAuth = [this](const std::string& U, const std::string& P) {
      ++Asked;
      return U == "user" && P == "right";
    };
  }
  void Start() {
    S.SetActive(true);
    Port = S.BoundPorts().at(0);
  }
  TLineClient Client() {
    TLineClient C(Port);
    EXPECT_EQ("220 Welcome to Quillon ESMTP Serivce.", C.Read());
    return C;
  }
  // AUTH LOGIN up to the password line, which is sent but not answered here.
  static void SendLogin(TLineClient& C, const std::string& Password) {
    EXPECT_EQ("334 VXNlcm5hbWU6", C.Cmd("AUTH LOGIN"));
    EXPECT_EQ("334 UGFzc3dvcmQ6", C.Cmd(EncodeBase64("user")));
    C.Send(EncodeBase64(Password));
  }
  // Until the server has checked N passwords (the failed one's wait starts right after).
  void WaitAsked(int N) {
    for (int I = 0; I < 1000 && Asked < N; ++I) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(N, Asked.load());
  }
  static bool HasInput(TLineClient& C) {
    pollfd P{C.Conn().Handle(), POLLIN, 0};
    return poll(&P, 1, 0) > 0;
  }
  void WaitConnections(size_t N) {
    for (int I = 0; I < 1000 && S.ConnectionCount() != N; ++I) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(N, S.ConnectionCount());
  }
};
}  // namespace

TEST_F(SmtpServerLoginDelay, FailedLoginIsAnsweredAfterTheDelay) {
  S.AuthFailureDelay = 300;
  Start();
  auto C = Client();
  for (int I = 0; I < 2; ++I) {
    SendLogin(C, "wrong");
    const auto Sent = TClock::now();
    EXPECT_EQ("500 Authentication failed.", C.Read());
    EXPECT_GE(TClock::now() - Sent, 300ms);
  }
  // The session goes on as before.
  EXPECT_EQ("500 Authentication required!", C.Cmd("MAIL FROM:<a@b.c>"));
  SendLogin(C, "right");
  EXPECT_EQ("235 Authentication successful.", C.Read());
  EXPECT_EQ("250 Sender a@b.c OK", C.Cmd("MAIL FROM:<a@b.c>"));
}

TEST_F(SmtpServerLoginDelay, OnlyTheFailedSessionWaitsAndAStopEndsTheWait) {
  // Longer than any part of this test may take.
  S.AuthFailureDelay = 120 * 1000;
  Start();
  auto Waiting = Client();
  SendLogin(Waiting, "wrong");
  WaitAsked(1);
  // Another session meanwhile: answered at once, a good login too.
  auto Other = Client();
  EXPECT_EQ("250 OK", Other.Cmd("NOOP"));
  SendLogin(Other, "right");
  EXPECT_EQ("235 Authentication successful.", Other.Read());
  EXPECT_EQ("250 Sender a@b.c OK", Other.Cmd("MAIL FROM:<a@b.c>"));
  EXPECT_FALSE(HasInput(Waiting));
  // A client that hangs up while it waits ends its session then, not after the delay.
  {
    auto Quitter = Client();
    SendLogin(Quitter, "wrong");
    WaitAsked(3);
  }
  WaitConnections(2);
  // Stopping the server ends the wait of the session still waiting, without a reply.
  const auto Stop = TClock::now();
  S.SetActive(false);
  EXPECT_LT(TClock::now() - Stop, 60s);
  EXPECT_EQ("<closed>", Waiting.Read());
}
