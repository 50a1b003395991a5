// The engine harness quillon-relay, run as its own process with settings from a registry
// file: a mail handed to it is delivered, every line shows on its output, and SIGTERM
// stops it cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "engine/smtp/zqSMTPClient.h"
#include "support/ChildProcess.h"
#include "support/RelayHarness.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/TestEnv.h"

TEST(RelayHarness, DeliversAndStopsOnSigterm) {
  TTestEnv Env;
  TLoopbackDNS Dns;
  TScriptedSmtpPeer Mx("", 25);
  Dns.SetMX("dest.test", {{10, Mx.IP()}});
  const int Port = FreeLoopbackPort();
  WriteHarnessRegistry(Env, Port, Dns.Address());
  const std::string Out = Env.Root() + "relay.out";
  TChildProcess Relay;
  ASSERT_TRUE(Relay.Start({std::string(QUILLON_BIN_DIR) + "/quillon-relay"}, Out));
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
