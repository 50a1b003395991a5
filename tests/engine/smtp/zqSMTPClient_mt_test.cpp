#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <atomic>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "engine/smtp/zqSMTPClient.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedSmtpPeer.h"

namespace {
struct SMTPClient : ::testing::Test {
  TzqSMTPClient Client;
  std::vector<std::string> LogLines;
  std::vector<int> Progress;

  SMTPClient() {
    Client.OnLog = [this](TzqSMTPClient&, const std::string& M) { LogLines.push_back(M); };
    Client.OnProgress = [this](TzqSMTPClient&, int P) { Progress.push_back(P); };
    Client.HeloName = "client.test";
    Client.Timeout = 5000;
  }
  int Send(TScriptedSmtpPeer& Peer, const std::string& From = "a@x.test", const std::string& To = "b@y.test",
           const std::vector<std::string>& Data = {"Subject: hi", "", "body"}) {
    LogLines.clear();
    Progress.clear();
    const int R = Client.SendMail(Peer.IP(), Peer.Port(), From, To, Data);
    EXPECT_TRUE(Peer.WaitClosedSessions(Peer.SessionCount(), 5000));
    return R;
  }
  bool Logged(const std::string& Line) const {
    return std::find(LogLines.begin(), LogLines.end(), Line) != LogLines.end();
  }
  static std::vector<std::string> LastCommands(const TScriptedSmtpPeer& Peer) {
    const auto S = Peer.Sessions();
    return S.empty() ? std::vector<std::string>() : S.back().Commands;
  }
};

using TLines = std::vector<std::string>;

// Sockets this process holds open.
int OpenSockets() {
  int N = 0;
  DIR* D = opendir("/proc/self/fd");
  if (!D) return -1;
  while (dirent* E = readdir(D)) {
    char Target[PATH_MAX];
    const std::string Path = std::string("/proc/self/fd/") + E->d_name;
    const ssize_t L = readlink(Path.c_str(), Target, sizeof Target - 1);
    if (L > 0 && std::string(Target, static_cast<size_t>(L)).rfind("socket:", 0) == 0) ++N;
  }
  closedir(D);
  return N;
}
}  // namespace

TEST(SMTPClientParsing, ParseResponse) {
  struct {
    const char* Line;
    int Code;
    const char* Text;
  } Cases[] = {{"250 OK", 250, "OK"}, {"354 Go ahead now", 354, "Go ahead now"},
               {"250", 250, ""},      {"250-first line", -1, "line"},
               {"OK fine", -1, "fine"}, {"", -1, ""},
               {"2x0 bad", -1, "bad"}, {"221 ", 221, ""}};
  for (const auto& C : Cases) {
    const TSMTPResponse R = ParseResponse(C.Line);
    EXPECT_EQ(R.Code, C.Code) << C.Line;
    EXPECT_EQ(R.Text, C.Text) << C.Line;
  }
}

TEST(SMTPClientParsing, CleanHostName) {
  EXPECT_EQ(CleanHostName("my host!.example_1-a"), "myhost.example_1-a");
  EXPECT_EQ(CleanHostName("!!! ()"), "vexa");
  EXPECT_EQ(CleanHostName(""), "vexa");
}

TEST_F(SMTPClient, FullDialogueSendsStoredLinesUnchangedAndLogsEveryStep) {
  TScriptedSmtpPeer Peer;
  const TLines Data = {"Subject: test", "", "..leading dot stays", "end"};
  EXPECT_EQ(Send(Peer, "a@x.test", "b@y.test", Data), scAccepted);
  const auto S = Peer.Sessions().at(0);
  EXPECT_EQ(S.Commands, (TLines{"HELO client.test", "MAIL FROM: <a@x.test>", "RCPT TO: <b@y.test>", "DATA", "QUIT"}));
  EXPECT_EQ(S.Data, Data);
  EXPECT_EQ(LogLines, (TLines{"Sending mail from <a@x.test> to <b@y.test>[127.0.0.1] ...", ">220 peer.test ESMTP ready",
                              "127.0.0.1[127.0.0.1] connected", "CMD: HELO client.test", ">250 peer.test",
                              "CMD: MAIL FROM: <a@x.test>", ">250 Sender OK", "CMD: RCPT TO: <b@y.test>",
                              ">250 Recipient OK", "CMD: DATA", ">354 Go ahead", "CMD: Sending Data...", "CMD: .",
                              ">250 Queued", "CMD: QUIT", ">221 Bye"}));
  EXPECT_EQ(Client.LastResponse.Code, 250);
  EXPECT_EQ(Client.LastResponse.Text, "Queued");
}

TEST_F(SMTPClient, AddressesAreWrappedInAngleBrackets) {
  TScriptedSmtpPeer Peer;
  struct {
    const char* In;
    const char* Sent;
  } Cases[] = {{"a@x.test", "<a@x.test>"}, {"<a@x.test>", "<a@x.test>"}, {"<a@x.test", "<a@x.test>"},
               {"  a@x.test ", "<a@x.test>"}, {"<>", "<>"}};
  for (const auto& C : Cases) {
    EXPECT_EQ(Send(Peer, C.In, C.In), scAccepted) << C.In;
    const TLines Cmds = LastCommands(Peer);
    ASSERT_GE(Cmds.size(), 3u);
    // The null sender gets its MAIL command too: without it no server takes the RCPT.
    EXPECT_EQ(Cmds[1], std::string("MAIL FROM: ") + C.Sent);
    EXPECT_EQ(Cmds[2], std::string("RCPT TO: ") + C.Sent);
  }
}

TEST_F(SMTPClient, BlankAddressesFailBeforeConnecting) {
  TScriptedSmtpPeer Peer;
  EXPECT_EQ(Send(Peer, "  ", "b@y.test"), scOtherFailure);
  EXPECT_EQ(LogLines, (TLines{"Error FROM address. FROM address can not be blank."}));
  EXPECT_EQ(Send(Peer, "a@x.test", ""), scOtherFailure);
  EXPECT_EQ(LogLines, (TLines{"Error RcptTo address. Recipient can not be blank."}));
  EXPECT_EQ(Peer.SessionCount(), 0u);
}

TEST_F(SMTPClient, ResultCodesOfEachStep) {
  struct {
    const char* Step;
    const char* Reply;
    int Result;
  } Cases[] = {
      {"GREETING", "554 go away", scOtherFailure},
      {"GREETING", TScriptedSmtpPeer::CloseReply, scNoReply},
      {"HELO", "500 no", scOtherFailure},
      {"MAIL", "550 sender refused", scSenderRejected},
      {"MAIL", "OK but no code", scSenderRejected},
      {"RCPT", "550 no such user", scRecipientRejected},
      {"RCPT", "251 will forward", scAccepted},
      {"RCPT", TScriptedSmtpPeer::CloseReply, scNoReply},
      {"DATA", "451 later", scDataRejected},
      {".", "554 rejected", scDataRejected},
      // The end line accepted and the connection closed before QUIT can be written: the
      // server has the mail, so it is sent (a failure would send it again).
      {".", "250 Queued\r\n<close>", scAccepted},
      // The reply to QUIT does not matter.
      {"QUIT", "500 what", scAccepted},
      {"QUIT", TScriptedSmtpPeer::CloseReply, scAccepted},
  };
  for (const auto& C : Cases) {
    TScriptedSmtpPeer Peer;
    Peer.SetReply(C.Step, C.Reply);
    EXPECT_EQ(Send(Peer), C.Result) << C.Step << " " << C.Reply;
  }
}

TEST_F(SMTPClient, MultiLineGreetingIsReadWhole) {
  TScriptedSmtpPeer Peer;
  Peer.SetReply("GREETING", "220-first\r\n220-second\r\n220 last");
  EXPECT_EQ(Send(Peer), scAccepted);
  EXPECT_EQ(Client.ReplyLines().front(), "220-first");
  EXPECT_TRUE(Logged(">220-second"));
  EXPECT_EQ(LastCommands(Peer).front(), "HELO client.test");
}

TEST_F(SMTPClient, RejectedGreetingClosesWithoutACommand) {
  TScriptedSmtpPeer Peer;
  Peer.SetReply("GREETING", "554 no service");
  EXPECT_EQ(Send(Peer), scOtherFailure);
  EXPECT_TRUE(LastCommands(Peer).empty());
  EXPECT_EQ(Client.LastResponse.Code, 554);
}

TEST_F(SMTPClient, AuthLoginWithOfferedMechanisms) {
  Client.UseAuthLogin = true;
  Client.Username = "user";
  Client.Password = "secret";
  for (const char* Ehlo : {"250-peer\r\n250-AUTH LOGIN PLAIN\r\n250 OK", "250-peer\r\n250-auth=login\r\n250 OK",
                           "250-peer\r\n250 AUTH CRAM-MD5 LOGIN"}) {
    TScriptedSmtpPeer Peer;
    Peer.SetReply("EHLO", Ehlo);
    EXPECT_EQ(Send(Peer), scAccepted) << Ehlo;
    EXPECT_EQ(LastCommands(Peer), (TLines{"EHLO client.test", "AUTH LOGIN", "dXNlcg==", "c2VjcmV0",
                                          "MAIL FROM: <a@x.test>", "RCPT TO: <b@y.test>", "DATA", "QUIT"}))
        << Ehlo;
    EXPECT_TRUE(Client.SupportsAuth());
    EXPECT_TRUE(Logged("CMD: Send Username"));
    EXPECT_TRUE(Logged("CMD: Send Password"));
  }
}

TEST_F(SMTPClient, AuthLoginNotOfferedGoesOnWithMail) {
  Client.UseAuthLogin = true;
  struct {
    const char* Ehlo;
    TLines Mechanisms;
  } Cases[] = {{"250-peer\r\n250 8BITMIME", {}},
               {"250-peer\r\n250-AUTH PLAIN CRAM-MD5\r\n250-AUTH=plain\r\n250 OK", {"PLAIN", "CRAM-MD5"}},
               {"500 no EHLO here", {}}};
  for (const auto& C : Cases) {
    TScriptedSmtpPeer Peer;
    Peer.SetReply("EHLO", C.Ehlo);
    EXPECT_EQ(Send(Peer), scAccepted) << C.Ehlo;
    EXPECT_TRUE(Logged("Target server do not support AUTH LOGIN.")) << C.Ehlo;
    // No HELO after a refused EHLO, and no AUTH.
    EXPECT_EQ(LastCommands(Peer), (TLines{"EHLO client.test", "MAIL FROM: <a@x.test>", "RCPT TO: <b@y.test>", "DATA",
                                          "QUIT"}))
        << C.Ehlo;
    EXPECT_EQ(Client.AuthMechanisms, C.Mechanisms) << C.Ehlo;
  }
}

TEST_F(SMTPClient, AuthLoginRefusals) {
  Client.UseAuthLogin = true;
  struct {
    const char* Step;
    const char* Reply;
    bool FailLine;
  } Cases[] = {{"AUTH", "504 unrecognised", false}, {"USER", "535 no", false}, {"PASS", "535 bad password", true}};
  for (const auto& C : Cases) {
    TScriptedSmtpPeer Peer;
    Peer.SetReply(C.Step, C.Reply);
    EXPECT_EQ(Send(Peer), scOtherFailure) << C.Step;
    EXPECT_EQ(Logged("Auth login failed!"), C.FailLine) << C.Step;
    const TLines Cmds = LastCommands(Peer);
    EXPECT_TRUE(std::none_of(Cmds.begin(), Cmds.end(), [](const std::string& L) { return L.rfind("MAIL", 0) == 0; }));
  }
}

TEST_F(SMTPClient, ProgressValues) {
  struct {
    size_t Lines;
    std::vector<int> Values;
  } Cases[] = {{3, {0, 33, 66, 100}}, {1, {0, 100}}, {0, {0}}, {200, {}}};
  for (const auto& C : Cases) {
    TScriptedSmtpPeer Peer;
    EXPECT_EQ(Send(Peer, "a@x.test", "b@y.test", TLines(C.Lines, "line")), scAccepted);
    if (C.Lines == 200) {
      // Every percent once, in order.
      ASSERT_EQ(Progress.size(), 101u);
      for (int I = 0; I <= 100; ++I) EXPECT_EQ(Progress[I], I);
    } else {
      EXPECT_EQ(Progress, C.Values) << C.Lines;
    }
  }
}

TEST_F(SMTPClient, ConnectFailureIsCodeFourAndKeepsLastResponse) {
  TScriptedSmtpPeer Peer;
  ASSERT_EQ(Send(Peer), scAccepted);
  const int Port = FreeLoopbackPort();  // nothing listens there
  LogLines.clear();
  EXPECT_EQ(Client.SendMail("127.0.0.1", Port, "a@x.test", "b@y.test", {"x"}), scConnectFailed);
  ASSERT_EQ(LogLines.size(), 3u);
  EXPECT_EQ(LogLines[1], "Connect 127.0.0.1 failed");
  EXPECT_EQ(LogLines[2].rfind("Error: ", 0), 0u);
  EXPECT_GT(LogLines[2].size(), 7u);
  // The reply to QUIT is not parsed: the last one is the end line's.
  EXPECT_EQ(Client.LastResponse.Code, 250);
}

TEST_F(SMTPClient, ReplyTimeoutIsNoReply) {
  Client.Timeout = 1000;
  for (const char* Step : {"GREETING", "MAIL", "DATA", "."}) {
    TScriptedSmtpPeer Peer;
    Peer.SetReply(Step, "");
    EXPECT_EQ(Send(Peer), scNoReply) << Step;
  }
}

TEST_F(SMTPClient, LoopGuardStopsBeforeAnyCommand) {
  TScriptedSmtpPeer Peer("127.0.0.1");
  Client.LocalServerPort = Peer.Port();
  EXPECT_EQ(Send(Peer), scOtherFailure);
  EXPECT_TRUE(Logged("Local host connected. Stopped sending to avoid loop. [127.0.0.1:" + std::to_string(Peer.Port()) +
                     "]"));
  EXPECT_TRUE(LastCommands(Peer).empty());
  // Another address of the loopback net is not this machine's server.
  TScriptedSmtpPeer Other("127.0.0.2", Peer.Port());
  EXPECT_EQ(Send(Other), scAccepted);
}

TEST_F(SMTPClient, StopFromAnotherThread) {
  Client.Timeout = 0;  // wait without limit: only Stop ends the wait
  struct {
    const char* Step;
    int Result;
  } Cases[] = {{"GREETING", scNoReply}, {"RCPT", scNoReply}, {"QUIT", scAccepted}};
  for (const auto& C : Cases) {
    TScriptedSmtpPeer Peer;
    Peer.SetReply(C.Step, "");
    std::thread T([&] {
      // Stop once the peer has got as far as the silent step.
      for (int I = 0; I < 500; ++I) {
        const auto S = Peer.Sessions();
        const bool There = !S.empty() && (std::string(C.Step) == "GREETING" ||
                                          (!S[0].Commands.empty() && S[0].Commands.back().rfind(C.Step, 0) == 0));
        if (There) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Client.Stop();
    });
    EXPECT_EQ(Send(Peer), C.Result) << C.Step;
    T.join();
    EXPECT_TRUE(Client.Stopped);
  }
  // The next dialogue clears the flag and runs normally.
  TScriptedSmtpPeer Peer;
  EXPECT_EQ(Send(Peer), scAccepted);
  EXPECT_FALSE(Client.Stopped);
}

TEST_F(SMTPClient, StopCutsAConnectionAttemptInProgress) {
  // A proxy that takes the connection and never answers the SOCKS hand-shake keeps the
  // connect step waiting.
  TScriptedSmtpPeer SilentProxy;
  SilentProxy.SetReply("GREETING", "");
  Client.SocksInfo.Version = TSocksVersion::svSocks5;
  Client.SocksInfo.Host = "127.0.0.1";
  Client.SocksInfo.Port = SilentProxy.Port();
  std::thread T([&] {
    for (int I = 0; I < 500 && SilentProxy.SessionCount() == 0; ++I)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Client.Stop();
  });
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Client.SendMail("127.0.0.2", 25, "a@x.test", "b@y.test", {"x"}), scOtherFailure);
  T.join();
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(10));
  // Stopped connects end without the failure lines.
  EXPECT_EQ(LogLines.size(), 1u);
}

TEST_F(SMTPClient, StopCutsADirectConnectionThatDoesNotComplete) {
  // The connection attempt waits for the system to give up unless Stop ends it.
  const TUnansweredPort Unanswered;
  const int Port = Unanswered.Port();
  std::atomic<bool> Connecting{false};
  Client.OnLog = [&](TzqSMTPClient&, const std::string& M) {
    LogLines.push_back(M);
    if (M.rfind("Sending mail from", 0) == 0) Connecting = true;
  };
  std::thread T([&] {
    while (!Connecting) std::this_thread::yield();
    Client.Stop();
  });
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Client.SendMail("127.0.0.1", Port, "a@x.test", "b@y.test", {"x"}), scOtherFailure);
  T.join();
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(10));
  EXPECT_EQ(LogLines.size(), 1u);  // no failure lines for a stopped attempt
}

TEST_F(SMTPClient, HostNamesThatWouldNameAnotherPeerAreRefused) {
  // Exchanger names come from DNS answers and recipient domains: none may steer the
  // connection to another host or port than the one named.
  TScriptedSmtpPeer Peer("127.0.0.1");
  const std::string P = std::to_string(Peer.Port());
  struct {
    std::string Host;
    int Port;
  } Cases[] = {{"someone@127.0.0.1", Peer.Port()}, {"127.0.0.1:" + P, 25}, {"127.0.0.9/@127.0.0.1:" + P, 25}};
  for (const auto& C : Cases) {
    LogLines.clear();
    EXPECT_EQ(Client.SendMail(C.Host, C.Port, "a@x.test", "b@y.test", {"x"}), scConnectFailed) << C.Host;
    EXPECT_TRUE(Logged("Connect " + C.Host + " failed")) << C.Host;
  }
  EXPECT_EQ(Peer.SessionCount(), 0u);
}

TEST_F(SMTPClient, EveryWayOutClosesTheSocket) {
  // A failed dialogue must not leave its socket open (in CLOSE-WAIT after a hang-up) until
  // the thread's next mail; the peer's sockets are all gone once it has stopped.
  struct {
    const char* Step;
    const char* Reply;
    const char* StopAt;  // the client is stopped when it logs this line
    int Result;
  } Cases[] = {
      {"MAIL", "250 Sender OK\r\n<close>", "", scOtherFailure},  // gone between steps
      {"DATA", "354 Go ahead\r\n<close>", "", scOtherFailure},   // gone before the data
      {"", "", ">250 Sender OK", scOtherFailure},                  // stopped between steps
      {"", "", "CMD: Sending Data...", scOtherFailure},            // stopped in the data
      {"", "", ">250 Queued", scAccepted},                         // stopped after the acceptance
      {".", "250 Queued\r\n<close>", "", scAccepted},
  };
  {
    TScriptedSmtpPeer Warm;  // whatever the libraries keep open for good is open from here on
    ASSERT_EQ(Send(Warm), scAccepted);
  }
  for (const auto& C : Cases) {
    const int Before = OpenSockets();
    {
      TScriptedSmtpPeer Peer;
      if (*C.Step) Peer.SetReply(C.Step, C.Reply);
      Client.OnLog = [&](TzqSMTPClient&, const std::string& M) {
        LogLines.push_back(M);
        if (M == C.StopAt) Client.Stop();
      };
      EXPECT_EQ(Send(Peer), C.Result) << C.Step << C.StopAt;
      Peer.Stop();
      EXPECT_EQ(OpenSockets(), Before + 1) << C.Step << C.StopAt;  // the peer's listener only
    }
  }
}

TEST_F(SMTPClient, LineBreaksInsideLinesAndAddressesNeverGoOutBare) {
  // A stored line may hold a CR or LF of its own (and an address a CR): on the wire each
  // becomes a line end and never ends a command early, and the data's end line "." is the
  // only line "." the peer ever sees.
  const struct {
    TLines Stored;
    std::string Wire;  // what goes out between DATA's reply and the end line
  } Cases[] = {
      // Ordinary lines: a stuffed dot stays stuffed, a bare leading dot was the client's.
      {{"Subject: x", "", "..kept", "...two", ".gone", "plain . dot"},
       "Subject: x\r\n\r\n..kept\r\n...two\r\ngone\r\nplain . dot\r\n"},
      // A second transaction behind a "." that only a CR ends (after CR LF or a bare LF the
      // server stores it the same way), and behind a "." that two CRs end.
      {{"first", ".\rMAIL FROM:<x@evil.test>", "RCPT TO:<y@victim.test>", "DATA", "second"},
       "first\r\n\r\nMAIL FROM:<x@evil.test>\r\nRCPT TO:<y@victim.test>\r\nDATA\r\nsecond\r\n"},
      {{"first", ".\r\rMAIL FROM:<x@evil.test>", "RCPT TO:<y@victim.test>"},
       "first\r\n\r\n\r\nMAIL FROM:<x@evil.test>\r\nRCPT TO:<y@victim.test>\r\n"},
      // A "." and CRs as a whole line, stuffed or not, and one line that is "." once split.
      {{".\r", "..\r", ".\n", ".", "x\r.\rMAIL FROM:<e@v.il>", "y\n.\r\n.."},
       "\r\n..\r\n\r\n\r\nx\r\n..\r\nMAIL FROM:<e@v.il>\r\ny\r\n..\r\n...\r\n"},
      // Bare CR, bare LF and CR LF in mid-line; one right at the end joins the line's end.
      {{"one\rtwo", "three\nfour", "five\r\n.six", "seven\r", "eight\n", "\r\nnine"},
       "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\n..six\r\nseven\r\neight\r\n\r\nnine\r\n"},
  };
  for (const auto& C : Cases) {
    TScriptedSmtpPeer Peer;
    const std::string Name = testing::PrintToString(C.Stored);
    EXPECT_EQ(Send(Peer, "a@x.test", "b@y.test", C.Stored), scAccepted) << Name;
    const auto Sessions = Peer.Sessions();
    ASSERT_EQ(Sessions.size(), 1u) << Name;
    const auto& S = Sessions[0];
    EXPECT_EQ(S.Commands, (TLines{"HELO client.test", "MAIL FROM: <a@x.test>", "RCPT TO: <b@y.test>", "DATA", "QUIT"}))
        << Name;
    EXPECT_TRUE(S.DataComplete) << Name;
    const size_t Begin = S.Raw.find("DATA\r\n");
    ASSERT_NE(Begin, std::string::npos) << Name;
    EXPECT_EQ(S.Raw.substr(Begin + 6), C.Wire + ".\r\nQUIT\r\n") << Name;
    for (size_t I = 0; I < S.Raw.size(); ++I) {
      if (S.Raw[I] == '\r') {
        EXPECT_EQ(S.Raw[I + 1], '\n') << Name << " at " << I;
      }
      if (S.Raw[I] == '\n') {
        EXPECT_EQ(S.Raw[I - 1], '\r') << Name << " at " << I;
      }
    }
    // Progress counts stored lines, whatever they became on the wire.
    EXPECT_EQ(Progress.back(), 100) << Name;
  }
  // Addresses lose their line breaks instead.
  TScriptedSmtpPeer Peer;
  EXPECT_EQ(Send(Peer, "a@x.test\rNOOP", "b@y.test\nRSET", {"x"}), scAccepted);
  EXPECT_EQ(LastCommands(Peer), (TLines{"HELO client.test", "MAIL FROM: <a@x.testNOOP>", "RCPT TO: <b@y.testRSET>",
                                        "DATA", "QUIT"}));
  EXPECT_TRUE(Logged("CMD: MAIL FROM: <a@x.testNOOP>"));
}
