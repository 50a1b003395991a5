// The whole relay over loopback: a mail client hands a mail to the receiver, the store
// keeps it, the DNS cache asks a loopback DNS server, and the sender module delivers it to
// scripted exchangers and relays on loopback addresses.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <unistd.h>

#include "engine/delivery/MailSender.h"
#include "engine/dns/DNSCache.h"
#include "engine/receiver/MailReceiver.h"
#include "engine/settings/VexaBase.h"
#include "engine/smtp/zqSMTPClient.h"
#include "engine/store/MemMailStore.h"
#include "support/ChildProcess.h"
#include "support/LineClient.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/TestEnv.h"

namespace {
using TLines = std::vector<std::string>;
using namespace std::chrono_literals;

const TLines Message = {"From: Alice <alice@origin.test>", "Subject: end to end", "", "first line",
                        "..a line that starts with a dot", "last line"};

class EndToEnd : public ::testing::Test {
protected:
  TTestEnv Env;
  TLoopbackDNS Dns;
  std::unique_ptr<TMemoryMailStore> Store;
  std::unique_ptr<TVexaDNSCache> Cache;
  std::unique_ptr<TMailSenderModule> Sender;
  std::unique_ptr<TMailReceiver> Receiver;

  void SetUp() override {
    SMTPPort = FreeLoopbackPort();
    SMTPMultiIPBind = false;
    LocalUserOnly = true;
    SMTPAUthLogin = false;
    AuthByFromAddr = false;
    UseAttachmentFilter = false;
    SMTPRcptLimit = false;
    SenderMaxThreadCount = 2;
    SenderConntecTimeout = 5;
    SenderHostname = "relay.test";
    UseSocksProxy = false;
    RelayToSMTP = false;
    RelayDomains = false;
    DisableDirectDelivery = false;
    RetrySend = false;
    SendNotifyMail = false;
    ForbiddenMultiConn = false;
    SenderPauseAfterSent = false;
    DelMessageAfterSent = false;
    DNSQueryTimeout = 2000;
    CurrentDNSPrimary = Dns.Address();
    CurrentDNSSecondary = "";
  }
  void TearDown() override { StopAll(); }

  // Wires and starts the engine the way the main window does.
  void StartAll() {
    Store = std::make_unique<TMemoryMailStore>();
    Cache = std::make_unique<TVexaDNSCache>();
    Sender = std::make_unique<TMailSenderModule>(*Store, *Cache);
    Receiver = std::make_unique<TMailReceiver>(Store.get());
    Receiver->Start();
    Sender->Start();
    Store->Start();
  }
  void StopAll() {
    if (Receiver) Receiver->Stop();
    if (Sender) Sender->Stop();
    if (Store) Store->Stop();
    Receiver.reset();
    Sender.reset();
    Cache.reset();
    Store.reset();
  }
  // A mail client handing one mail to the receiver.
  void Submit(const std::string& To, const std::string& From = "alice@origin.test") {
    TzqSMTPClient Client;
    Client.Timeout = 5000;
    ASSERT_EQ(Client.SendMail("127.0.0.1", SMTPPort, From, To, Message), scAccepted);
  }
  std::string IDOf(const std::string& Recipient) {
    TMailRecord R;
    for (bool Ok = Store->FindFirst({1, 2, 3}, TMailStateSet::FromBits(0xFF), R); Ok; Ok = Store->FindNext(R))
      if (R.Recipient.str() == Recipient) return R.ID.str();
    return std::string();
  }
  TMailRecord Record(const std::string& ID) {
    TMailRecord R;
    Store->GetMailRecord(ID, R);
    return R;
  }
  bool WaitFor(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 15s) {
    const auto End = std::chrono::steady_clock::now() + Limit;
    while (std::chrono::steady_clock::now() < End) {
      if (Done()) return true;
      std::this_thread::sleep_for(20ms);
    }
    return Done();
  }
  // Waits until the mail of Recipient reaches State; answers its ID.
  std::string WaitState(const std::string& Recipient, TMailState State) {
    std::string ID;
    const bool Ok = WaitFor([&] {
      ID = IDOf(Recipient);
      return !ID.empty() && Record(ID).State == State;
    });
    EXPECT_TRUE(Ok) << Recipient << " never reached state " << int(State);
    return ID;
  }
  // The log file as the store has written it (it writes a delivery's log once its filing is
  // on disk).
  TLines LogFile(const std::string& ID) {
    Store->WaitForDisk();
    std::ifstream In(Store->LogFileName(ID));
    TLines L;
    for (std::string S; std::getline(In, S);) {
      if (!S.empty() && S.back() == '\r') S.pop_back();
      L.push_back(S);
    }
    return L;
  }
  static bool Has(const TLines& L, const std::string& S) { return std::find(L.begin(), L.end(), S) != L.end(); }
  static long IndexOf(const TLines& L, const std::string& S) {
    const auto It = std::find(L.begin(), L.end(), S);
    return It == L.end() ? -1 : It - L.begin();
  }
  static bool EndsWith(const TLines& Data, const TLines& Tail) {
    return Data.size() >= Tail.size() && std::equal(Tail.begin(), Tail.end(), Data.end() - Tail.size());
  }
  static std::string RelayEntry(const TScriptedSmtpPeer& P, const std::string& FromEmail = "", bool Auth = false) {
    return P.IP() + ":" + std::to_string(P.Port()) + "::" + (Auth ? "1" : "0") + ":relayuser:relaypass:" + FromEmail;
  }
};
}  // namespace

TEST_F(EndToEnd, DeliveredToTheLowestPreferenceExchanger) {
  TScriptedSmtpPeer Low("", 25), High("", 25);
  Dns.SetMX("dest.test", {{20, High.IP()}, {10, Low.IP()}});
  StartAll();
  Submit("bob@dest.test");
  const std::string ID = WaitState("bob@dest.test", msSent);
  EXPECT_GT(Record(ID).SentTime, 0);
  ASSERT_TRUE(Low.WaitClosedSessions(1, 5000));
  EXPECT_EQ(High.SessionCount(), 0u);
  const auto S = Low.Sessions()[0];
  EXPECT_EQ(S.Commands[0], "HELO relay.test");
  EXPECT_EQ(S.Commands[1], "MAIL FROM: <alice@origin.test>");
  EXPECT_EQ(S.Commands[2], "RCPT TO: <bob@dest.test>");
  // The lines arrive as the mail client sent them: the doubled dot stays doubled.
  EXPECT_TRUE(EndsWith(S.Data, Message));

  const TLines Log = LogFile(ID);
  ASSERT_GE(Log.size(), 8u);
  EXPECT_EQ(Log[1], "[Quillon Pro v" + VersionString.get() + "]");
  EXPECT_EQ(Log[2], "DNS Query: Try to get mail exchange host information...");
  EXPECT_EQ(Log[3], "DNS server: " + Dns.Address() + ", ");
  EXPECT_EQ(Log[4], "Get 2 MX host information.");
  EXPECT_EQ(Log[5], "  10 " + Low.IP());
  EXPECT_EQ(Log[6], "  20 " + High.IP());
  for (const char* Line : {"CMD: HELO relay.test", ">250 peer.test", "CMD: MAIL FROM: <alice@origin.test>",
                           ">250 Sender OK", "CMD: DATA", ">354 Go ahead", "CMD: .", ">250 Queued", "CMD: QUIT",
                           ">221 Bye", "Mail delivered successful."})
    EXPECT_TRUE(Has(Log, Line)) << Line;
}

TEST_F(EndToEnd, RefusedOnTheFirstExchangerAcceptedOnTheSecond) {
  TScriptedSmtpPeer First("", 25), Second("", 25);
  First.SetReply("RCPT", "550 5.1.1 no such user here");
  Dns.SetMX("dest.test", {{10, First.IP()}, {20, Second.IP()}});
  StartAll();
  Submit("bob@dest.test");
  const std::string ID = WaitState("bob@dest.test", msSent);
  const TLines Log = LogFile(ID);
  EXPECT_LT(IndexOf(Log, "550 5.1.1 no such user here"), IndexOf(Log, "Try to deliver message to " + Second.IP() + "."));
  EXPECT_EQ(Second.SessionCount(), 1u);
}

TEST_F(EndToEnd, ExchangersFailThenRelaysInListOrder) {
  TScriptedSmtpPeer Mx1("", 25), Mx2("", 25), RelayA(""), RelayB("");
  Mx1.SetReply("RCPT", "550 unknown");
  Mx2.SetReply("GREETING", "554 go away");
  RelayA.SetReply("MAIL", "550 relay A refuses");
  Dns.SetMX("dest.test", {{10, Mx1.IP()}, {20, Mx2.IP()}});
  RelayToSMTP = true;
  RelaySMTPList = RelayEntry(RelayA) + ";" + RelayEntry(RelayB);
  StartAll();
  Submit("bob@dest.test");
  const std::string ID = WaitState("bob@dest.test", msSent);
  const TLines Log = LogFile(ID);
  const long TryA = IndexOf(Log, "Try to relay mail to " + RelayA.IP() + ".");
  const long TryB = IndexOf(Log, "Try to relay mail to " + RelayB.IP() + ".");
  EXPECT_LT(IndexOf(Log, "Try to deliver message to " + Mx2.IP() + "."), TryA);
  EXPECT_LT(TryA, TryB);
  EXPECT_EQ(Log.back(), "Mail relay to " + RelayB.IP() + " successful.");
  EXPECT_EQ(RelayB.SessionCount(), 1u);
}

TEST_F(EndToEnd, RelayChosenBySenderDomainWithAuthLogin) {
  TScriptedSmtpPeer Mx("", 25), Other(""), Chosen("");
  Dns.SetMX("dest.test", {{10, Mx.IP()}});
  RelayToSMTP = true;
  RelaySMTPList = RelayEntry(Other, "elsewhere.test") + ";" + RelayEntry(Chosen, "someone@x.test|Origin.Test", true);
  StartAll();
  Submit("bob@dest.test");
  WaitState("bob@dest.test", msSent);
  ASSERT_TRUE(Chosen.WaitClosedSessions(1, 5000));
  EXPECT_EQ(Chosen.Sessions()[0].Commands,
            (TLines{"EHLO relay.test", "AUTH LOGIN", "cmVsYXl1c2Vy", "cmVsYXlwYXNz", "MAIL FROM: <alice@origin.test>",
                    "RCPT TO: <bob@dest.test>", "DATA", "QUIT"}));
  EXPECT_EQ(Mx.SessionCount(), 0u);
  EXPECT_EQ(Other.SessionCount(), 0u);
}

TEST_F(EndToEnd, DirectDeliveryDisabledAndRelayDomainsAskNoDNS) {
  TScriptedSmtpPeer Mx("", 25), Relay("");
  Dns.SetMX("dest.test", {{10, Mx.IP()}});
  Dns.SetMX("other.test", {{10, Mx.IP()}});
  RelayToSMTP = true;
  RelaySMTPList = RelayEntry(Relay);
  RelayDomains = true;
  RelayDomainList = "Dest.Test";
  StartAll();
  Submit("bob@dest.test");
  const std::string ID = WaitState("bob@dest.test", msSent);
  EXPECT_TRUE(Has(LogFile(ID), "The Recipients' mail domain is 'dest.test'. Mail will be relay to SMTP server."));
  StopAll();
  DisableDirectDelivery = true;
  StartAll();
  Submit("carol@other.test");
  const std::string ID2 = WaitState("carol@other.test", msSent);
  EXPECT_TRUE(Has(LogFile(ID2), "Direct delivery disabled. No MX host information got from DNS."));
  EXPECT_EQ(Dns.QueryCount(), 0);
  EXPECT_EQ(Mx.SessionCount(), 0u);
  EXPECT_EQ(Relay.SessionCount(), 2u);
}

TEST_F(EndToEnd, NoMXAnswerFallsBackToTheDomainAsHost) {
  // The recipient's domain is an address of ours, so the fallback reaches a loopback peer.
  TScriptedSmtpPeer Host("", 25);
  StartAll();
  const std::string Rcpt = "bob@" + Host.IP();
  Submit(Rcpt);
  const std::string ID = WaitState(Rcpt, msSent);
  EXPECT_TRUE(Has(LogFile(ID), "No MX host information retrieved. Try to send directly to host " + Host.IP()));
  EXPECT_EQ(Host.SessionCount(), 1u);
}

TEST_F(EndToEnd, FailuresEndInTheFailedList) {
  SenderConntecTimeout = 2;  // short, yet long enough for the busy peers of a loaded machine
  TScriptedSmtpPeer Refusing("", 25), Silent("", 25);
  Refusing.SetReply("RCPT", "550 5.1.1 user unknown");
  Silent.SetReply("GREETING", "");
  Dns.SetMX("refusing.test", {{10, Refusing.IP()}});
  Dns.SetMX("silent.test", {{10, Silent.IP()}});
  Dns.Set("nomx.test", {TLoopbackDNS::TReplyKind::Answer, {"127.0.0.9"}, {}});  // an A record only
  StartAll();
  Submit("bob@refusing.test");
  Submit("bob@silent.test");
  Submit("bob@nomx.test");
  struct {
    const char* Rcpt;
    const char* Line;
  } Cases[] = {{"bob@refusing.test", "550 5.1.1 user unknown"},
               {"bob@silent.test", "Error: Timeout."},
               {"bob@nomx.test", "Error: Can not get MX information."}};
  for (const auto& C : Cases) {
    const std::string ID = WaitState(C.Rcpt, msFailed);
    const TLines Log = LogFile(ID);
    EXPECT_TRUE(Has(Log, C.Line)) << C.Rcpt;
    EXPECT_EQ(Log.back(), "Mail delivered Failed.") << C.Rcpt;
    EXPECT_EQ(Record(ID).FailedAttempts, 1) << C.Rcpt;
  }
}

TEST_F(EndToEnd, RetriesThenAFailureNoticeToTheSender) {
  RetrySend = true;
  MaxRetries = 2;
  RetryInterval = 0;
  SendNotifyMail = true;
  NotifyMailSender = true;
  DelNotifiedMail = false;
  TScriptedSmtpPeer Dest("", 25), Origin("", 25);
  Dest.SetReply("RCPT", "550 5.1.1 user unknown");
  Dns.SetMX("dest.test", {{10, Dest.IP()}});
  Dns.SetMX("origin.test", {{10, Origin.IP()}});
  StartAll();
  Submit("bob@dest.test");
  ASSERT_TRUE(WaitFor([&] { return Origin.SessionCount() == 1; }));
  ASSERT_TRUE(Origin.WaitClosedSessions(1, 5000));
  EXPECT_EQ(Dest.SessionCount(), 2u);  // the first attempt and one retry
  const auto S = Origin.Sessions()[0];
  EXPECT_EQ(S.Commands[2], "RCPT TO: <alice@origin.test>");
  EXPECT_TRUE(Has(S.Data, "The following mail can't be sent to bob@dest.test"));
  EXPECT_TRUE(Has(S.Data, "550 5.1.1 user unknown"));
  const std::string ID = WaitState("bob@dest.test", msFailed);
  EXPECT_EQ(Record(ID).FailedAttempts, 2);
}

TEST_F(EndToEnd, LoopGuardRefusesDeliveryToOurOwnServer) {
  // Our server on 127.0.0.1:25, and an exchanger that names this machine.
  SMTPPort = 25;
  SMTPMultiIPBind = true;
  SMTPMultiIPBinds = "127.0.0.1:25";
  Dns.SetMX("self.test", {{10, "127.0.0.1"}});
  try {
    StartAll();
  } catch (const ECouldNotBindSocket&) {
    GTEST_SKIP() << "127.0.0.1:25 is taken";
  }
  Submit("bob@self.test");
  const std::string ID = WaitState("bob@self.test", msFailed);
  EXPECT_TRUE(Has(LogFile(ID), "Local host connected. Stopped sending to avoid loop. [127.0.0.1:25]"));
  EXPECT_EQ(Store->GetMailCount({1, 2, 3}, TMailStateSet::FromBits(0xFF)), 1);
}

TEST_F(EndToEnd, CrossCheckWithPostfixSmtpSink) {
  if (!ProgramAvailable("smtp-sink")) GTEST_SKIP() << "smtp-sink not available (scripts/deps.sh installs postfix)";
  std::string IP;
  close(ListenTcpOnFreeAddress(25, IP));
  // smtp-sink writes its dump as the postfix user.
  const std::string DumpDir = Env.Root() + "sink/";
  std::filesystem::create_directories(DumpDir);
  std::filesystem::permissions(Env.Root(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  std::filesystem::permissions(DumpDir, std::filesystem::perms::all, std::filesystem::perm_options::add);
  const std::string Dump = DumpDir + "sink.dump";
  TChildProcess Sink;
  ASSERT_TRUE(Sink.Start({"smtp-sink", "-u", "postfix", "-D", Dump, IP + ":25", "16"}, Env.Root() + "sink.out"));
  ASSERT_TRUE(WaitForListener(IP, 25, 5000));
  Dns.SetMX("sink.test", {{10, IP}});
  StartAll();
  Submit("bob@sink.test");
  const std::string ID = WaitState("bob@sink.test", msSent);
  EXPECT_TRUE(Has(LogFile(ID), "Mail delivered successful."));
  Sink.Stop();
  const std::string Text = Env.ReadFile(Dump);
  EXPECT_NE(Text.find("first line"), std::string::npos);
  EXPECT_NE(Text.find("last line"), std::string::npos);
}

TEST_F(EndToEnd, ADotThatOnlyACrEndsSmugglesNoSecondMail) {
  // A mail client's body that a next hop would cut at a "." line, taking the rest as a new
  // transaction with the sender's envelope, reaches the exchanger as one mail.
  TScriptedSmtpPeer Mx("", 25);
  Dns.SetMX("dest.test", {{10, Mx.IP()}});
  StartAll();
  const std::string Smuggled = "MAIL FROM:<x@evil.test>\r\nRCPT TO:<y@victim.test>\r\nDATA\r\nsecond\r\n";
  const struct {
    const char* Name;
    std::string End;
  } Cases[] = {{"CR LF . CR", "\r\n.\r"}, {"LF . CR", "\n.\r"}, {"CR LF . CR CR", "\r\n.\r\r"}};
  for (const auto& C : Cases) {
    TLineClient Client(SMTPPort);
    Client.Read();
    Client.Conn().Write("HELO c\r\nMAIL FROM:<alice@origin.test>\r\nRCPT TO:<bob@dest.test>\r\nDATA\r\n"
                        "Subject: one\r\n\r\nfirst" +
                        C.End + Smuggled + ".\r\nQUIT\r\n");
    for (const char* Want : {"250 Hello c", "250 Sender alice@origin.test OK", "250 Message will be forwarded to bob@dest.test",
                             "354 Start mail input; end with <CRLF>.<CRLF>", "250 OK", "221 Bye"})
      ASSERT_EQ(Want, Client.Read()) << C.Name;
  }
  ASSERT_TRUE(WaitFor([&] { return Store->GetMailCount({1, 2, 3}, TMailStateSet{msSent}) == 3; }));
  ASSERT_TRUE(Mx.WaitClosedSessions(3, 5000));
  const auto Sessions = Mx.Sessions();
  ASSERT_EQ(Sessions.size(), 3u);
  for (const auto& S : Sessions) {
    EXPECT_EQ(S.Commands, (TLines{"HELO relay.test", "MAIL FROM: <alice@origin.test>", "RCPT TO: <bob@dest.test>",
                                  "DATA", "QUIT"}));
    ASSERT_GE(S.Data.size(), 6u);
    // The smuggled commands are text of the one mail, after the empty lines the CRs became.
    EXPECT_TRUE(EndsWith(S.Data, {"MAIL FROM:<x@evil.test>", "RCPT TO:<y@victim.test>", "DATA", "second"}));
    EXPECT_EQ(S.Data[2], "first");
  }
}
