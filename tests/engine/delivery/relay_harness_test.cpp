// The engine harness quillon-relay, run as its own process with settings from a registry
// file: a mail handed to it is delivered, every line shows on its output, and SIGTERM
// stops it cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include <unistd.h>

#include "engine/smtp/zqSMTPClient.h"
#include "support/ChildProcess.h"
#include "support/RelayHarness.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/SilentServer.h"
#include "support/TestEnv.h"

namespace {
// A harness whose mails for dest.test go to the scripted exchanger Mx.
struct RelayHarness : ::testing::Test {
  TTestEnv Env;
  TLoopbackDNS Dns;
  TScriptedSmtpPeer Mx{"", 25};
  const int Port = FreeLoopbackPort();
  const std::string Harness = std::string(QUILLON_BIN_DIR) + "/quillon-relay";

  RelayHarness() {
    Dns.SetMX("dest.test", {{10, Mx.IP()}});
    WriteHarnessRegistry(Env, Port, Dns.Address());
  }
};
}  // namespace

TEST_F(RelayHarness, DeliversAndStopsOnSigterm) {
  const std::string Out = Env.Root() + "relay.out";
  TChildProcess Relay;
  ASSERT_TRUE(Relay.Start({Harness}, Out));
  ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port)))
      << Env.ReadFile(Out);
  EXPECT_NE(Env.ReadFile(Out).find("log 1 Primary DNS Server: " + Dns.Address() + " , Secondary DNS Server: " +
                                   Dns.Address() + "\n"),
            std::string::npos);

  TzqSMTPClient Client;
  Client.Timeout = 5000;
  ASSERT_EQ(Client.SendMail("127.0.0.1", Port, "alice@origin.test", "bob@dest.test", {"Subject: via harness", "", "hi"}),
            scAccepted);
  ASSERT_TRUE(WaitForOutput(Env, Out, "log 2 Message from alice@origin.test delivered to bob@dest.test successfully"))
      << Env.ReadFile(Out);
  // The store logs the delivery before it queues the notice of the move to the sent list,
  // and the harness prints notices from its own thread: wait for that line as well.
  EXPECT_TRUE(WaitForOutput(Env, Out, "notice 0 1 5")) << Env.ReadFile(Out);  // added to the sent list
  const std::string Text = Env.ReadFile(Out);
  EXPECT_NE(Text.find("mail 1 0 CMD: RCPT TO: <bob@dest.test>\n"), std::string::npos);
  EXPECT_NE(Text.find("mail 1 100 \n"), std::string::npos);  // progress
  ASSERT_TRUE(Mx.WaitClosedSessions(1, 5000));

  EXPECT_EQ(Relay.Stop(10000), 0);
  const std::string End = Env.ReadFile(Out);
  EXPECT_NE(End.find("log 0 SMTP Mail Sender Server Stoped.\n"), std::string::npos);
  EXPECT_NE(End.find("log 0 Built-in SMTP server stoped\n"), std::string::npos);
}

TEST(RelayHarnessStart, ExitsWithTheReasonWhenTheServerCannotStart) {
  TTestEnv Env;
  TLoopbackDNS Dns;
  std::string Out;
  // The port is taken.
  int Port = 0;
  const int Taken = ListenTcp("127.0.0.1", 0, &Port);
  WriteHarnessRegistry(Env, Port, Dns.Address());
  EXPECT_EQ(1, RunHarnessToEnd({}, Out)) << Out;
  close(Taken);
  EXPECT_NE(Out.find("log 3 Could not bind socket. Address and port are already in use.\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find("quillon-relay: the SMTP server could not start: Could not bind socket. Address and port are "
                     "already in use.\n"),
            std::string::npos)
      << Out;
  // Ports no socket can have are named as such.
  for (const int Bad : {70000, -1}) {
    WriteHarnessRegistry(Env, Bad, Dns.Address());
    EXPECT_EQ(1, RunHarnessToEnd({}, Out)) << Out;
    EXPECT_NE(Out.find("Port " + std::to_string(Bad) + " is outside 1 to 65535.\n"), std::string::npos) << Out;
  }
}

TEST(RelayHarnessStart, HelpAndUnknownArguments) {
  TTestEnv Env;
  std::string Out;
  EXPECT_EQ(0, RunHarnessToEnd({"--help"}, Out));
  for (const char* Part : {"Usage: quillon-relay [--help]", "log <level> <text>", "mail <ID> <percent> <text>",
                           "notice <action> <ID> <state>", "SIGINT or SIGTERM stops it cleanly", "exits with status 1"})
    EXPECT_NE(Out.find(Part), std::string::npos) << Part << "\n" << Out;
  EXPECT_EQ(2, RunHarnessToEnd({"--port=2500"}, Out));
  EXPECT_EQ("quillon-relay: unknown argument \"--port=2500\" (see --help)\n", Out);
}

TEST_F(RelayHarness, AnOutputReaderThatFallsBehindDoesNotHoldUpDelivery) {
  // The harness prints a line per percent of every mail's progress. Nobody reads its output
  // while forty mails go through: far more than a pipe holds. Every line still comes, in
  // its order, once the reader reads again.
  constexpr int Mails = 40;
  TChildProcess Relay;
  int Fd = -1;
  ASSERT_TRUE(Relay.StartPiped({Harness}, Fd));
  FILE* Out = fdopen(Fd, "r");
  std::vector<std::string> Lines;
  char Buf[4096];
  const std::string Listening = "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port) + "\n";
  while (std::fgets(Buf, sizeof Buf, Out) && (Lines.emplace_back(Buf), Lines.back() != Listening)) {
  }
  ASSERT_EQ(Lines.back(), Listening);

  const std::vector<std::string> Body(150, "a line of a message long enough to give every percent a line of its own");
  TzqSMTPClient Client;
  Client.Timeout = 5000;
  for (int I = 0; I < Mails; ++I)
    ASSERT_EQ(Client.SendMail("127.0.0.1", Port, "alice@origin.test", "bob@dest.test", Body), scAccepted) << I;
  EXPECT_TRUE(Mx.WaitClosedSessions(Mails, 30000)) << Mx.SessionCount();

  std::thread Reader([&] {
    while (std::fgets(Buf, sizeof Buf, Out)) Lines.emplace_back(Buf);
  });
  EXPECT_EQ(Relay.Stop(10000), 0);
  Reader.join();
  std::fclose(Out);
  // Per mail: every percent from 0 to 100 once, in order, then the delivery line.
  std::map<std::string, int> Next;
  int Delivered = 0;
  for (const auto& L : Lines) {
    if (L.rfind("log 2 Message from alice@origin.test delivered", 0) == 0) ++Delivered;
    // Progress lines carry no text: "mail <ID> <percent> ".
    char ID[32];
    int Percent = 0, End = 0;
    if (std::sscanf(L.c_str(), "mail %31s %d %n", ID, &Percent, &End) != 2 || static_cast<size_t>(End) != L.size())
      continue;
    EXPECT_EQ(Percent, Next[ID]) << ID;
    Next[ID] = Percent + 1;
  }
  EXPECT_EQ(Delivered, Mails);
  ASSERT_EQ(Next.size(), static_cast<size_t>(Mails));
  for (const auto& [ID, N] : Next) EXPECT_EQ(N, 101) << ID;
}

namespace {
struct TStalledProxyCase {
  const char* Name;
  int SocksVersion;  // as the options dialog stores it
};

struct StalledProxy : RelayHarness, ::testing::WithParamInterface<TStalledProxyCase> {};
}  // namespace

// A SOCKS proxy that takes the connection and never answers: the attempt fails once the
// sender's time-out has passed without a reply, as a failed connection, and nothing goes
// out around the proxy.
TEST_P(StalledProxy, FailsTheAttemptAfterTheSenderTimeout) {
  constexpr int TimeoutSeconds = 2;
  TSilentServer Proxy;
  WriteHarnessRegistry(Env, Port, Dns.Address(),
                       RegistryDword("UseSocksProxy", 1) + RegistryDword("SocksVersion", GetParam().SocksVersion) +
                           "\"SocksHost\"=\"127.0.0.1\"\r\n" + RegistryDword("SocksPort", Proxy.Port()) +
                           RegistryDword("SenderConntecTimeout", TimeoutSeconds));
  const std::string Out = Env.Root() + "relay.out";
  TChildProcess Relay;
  ASSERT_TRUE(Relay.Start({Harness}, Out));
  ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port)))
      << Env.ReadFile(Out);

  TzqSMTPClient Client;
  Client.Timeout = 5000;
  ASSERT_EQ(Client.SendMail("127.0.0.1", Port, "alice@origin.test", "bob@dest.test", {"Subject: stalled", "", "hi"}),
            scAccepted);
  // Within a few times the time-out, not libcurl's five minutes.
  EXPECT_TRUE(WaitForOutput(Env, Out, "log 3 Message from alice@origin.test delivered to bob@dest.test failed.",
                            4 * TimeoutSeconds * 1000))
      << Env.ReadFile(Out);
  EXPECT_TRUE(WaitForOutput(Env, Out, "notice 0 1 6", 2000)) << Env.ReadFile(Out);  // added to the failed list
  // The mail's own log: a failed connection. Its file is written once the filing is on disk.
  const std::string LogFile = Env.DataHome() + "quillon/data/log/1.log";
  EXPECT_TRUE(WaitForOutput(Env, LogFile, "Mail delivered Failed.\r", 5000)) << Env.ReadFile(LogFile);
  const std::string Log = Env.ReadFile(LogFile);
  for (const std::string& Lines : {"\r\nConnect " + Mx.IP() + " failed\r\nError: Connection timed out after ",
                                   std::string("\r\nError: Can not connect host.\r\nMail delivered Failed.\r\n")})
    EXPECT_NE(Log.find(Lines), std::string::npos) << Lines << "\n" << Log;
  EXPECT_EQ(Proxy.Connections(), 1);
  EXPECT_TRUE(Proxy.WaitClosed(1, 2000));  // the attempt let go of the proxy's connection
  EXPECT_EQ(Mx.SessionCount(), 0u);
  EXPECT_EQ(Relay.Stop(10000), 0);
}

INSTANTIATE_TEST_SUITE_P(EverySocksVersion, StalledProxy,
                         ::testing::Values(TStalledProxyCase{"Socks5", 0}, TStalledProxyCase{"Socks4", 1},
                                           TStalledProxyCase{"Socks4A", 2}),
                         [](const auto& Info) { return std::string(Info.param.Name); });
