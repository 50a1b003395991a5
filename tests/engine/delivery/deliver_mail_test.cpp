#include <gtest/gtest.h>

#include <algorithm>

#include "engine/delivery/MailDeliveryThread.h"
#include "engine/settings/VexaBase.h"
#include "support/ScriptedSmtpPeer.h"

namespace {
using TLines = std::vector<std::string>;

// One delivery thread, not started: each test runs the attempt on its own thread.
struct DeliverMail : ::testing::Test {
  TEvent Done;
  TMailDeliveryThread T{Done, 0};
  TRelayServerList Relays;

  DeliverMail() {
    RelayToSMTP = false;
    DisableDirectDelivery = false;
    RelayDomains = false;
    UseSocksProxy = false;
    SenderConntecTimeout = 5;
    SenderHostname = "sender.test";
    T.RelayServers = &Relays;
    Reset();
  }
  void Reset(const std::string& Recipient = "rcpt@dest.test") {
    T.Mail.Clear();
    T.Mail.ID = "42";
    T.Mail.MailFrom = "alice@origin.test";
    T.Mail.Recipients = {Recipient};
    T.Mail.Data = {"Subject: hello", "", "body line"};
    T.Mail.ForceRelay = false;
    T.SetMailState(msWaiting);
    T.Reserved = true;
    T.MXHosts.clear();
  }
  TRelaySMTPItem Relay(const TScriptedSmtpPeer& P, const std::string& FromEmail = "", bool Auth = false) {
    TRelaySMTPItem R;
    R.Host = P.IP();
    R.Port = P.Port();
    R.FromEmail = FromEmail;
    R.Auth = Auth;
    R.Username = "relayuser";
    R.Password = "relaypass";
    return R;
  }
  void Run() {
    T.DeliverMail();
    EXPECT_EQ(T.MailState(), msAttemptDone);
    EXPECT_FALSE(T.Busy);
    EXPECT_TRUE(Done.WaitFor(0));
  }
  // Aborts the attempt once Peer's first session has received DATA.
  std::thread AbortAtData(const TScriptedSmtpPeer& Peer) {
    return std::thread([this, &Peer] {
      for (int I = 0; I < 500; ++I) {
        const auto S = Peer.Sessions();
        if (!S.empty() && !S[0].Commands.empty() && S[0].Commands.back() == "DATA") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      T.Abort();
    });
  }
  const TLines& Log() const { return T.Mail.Log; }
  bool Logged(const std::string& L) const { return std::find(Log().begin(), Log().end(), L) != Log().end(); }
  // Position of a line in the log, or -1.
  long IndexOf(const std::string& L) const {
    const auto It = std::find(Log().begin(), Log().end(), L);
    return It == Log().end() ? -1 : It - Log().begin();
  }
};

// "Message size": every line with a two-character line break.
const std::string SizeLine = "Message size: 29 Bytes.";
}  // namespace

TEST_F(DeliverMail, DeliveredToTheFirstExchanger) {
  TScriptedSmtpPeer Mx("", 25);
  T.MXHosts = {Mx.IP()};
  Run();
  EXPECT_EQ(T.Mail.Status, dsDelivered);
  EXPECT_GT(T.Mail.SentTime, 0);
  const TLines Head = {"Try to deliver message to " + Mx.IP() + ".", SizeLine, "", "Mail sending details:"};
  EXPECT_TRUE(std::equal(Head.begin(), Head.end(), Log().begin()));
  EXPECT_EQ(Log()[4], "Sending mail from <alice@origin.test> to <rcpt@dest.test>[" + Mx.IP() + "] ...");
  const TLines Tail = {">221 Bye", "", "250 Queued", "Mail delivered successful."};
  EXPECT_TRUE(std::equal(Tail.begin(), Tail.end(), Log().end() - 4));
  ASSERT_TRUE(Mx.WaitClosedSessions(1, 5000));
  EXPECT_EQ(Mx.Sessions()[0].Commands[0], "HELO sender.test");
}

TEST_F(DeliverMail, ExchangersInOrderUntilOneAccepts) {
  TScriptedSmtpPeer Refusing("", 25), Accepting("", 25);
  Refusing.SetReply("RCPT", "550 no such user here");
  T.MXHosts = {Refusing.IP(), Accepting.IP()};
  Run();
  EXPECT_EQ(T.Mail.Status, dsDelivered);
  EXPECT_LT(IndexOf("550 no such user here"), IndexOf("Try to deliver message to " + Accepting.IP() + "."));
  EXPECT_EQ(Refusing.SessionCount(), 1u);
  EXPECT_EQ(Accepting.SessionCount(), 1u);
}

TEST_F(DeliverMail, LastExchangerDecidesTheFailure) {
  struct {
    const char* Step;
    const char* Reply;
    TDeliveryStatus Status;
    const char* LastError;
  } Cases[] = {
      {"RCPT", "550 no such user", dsRecipientRejected, "550 no such user"},
      {"MAIL", "553 sender refused", dsSenderRejected, "553 sender refused"},
      {"DATA", "554 no data", dsDataRejected, "554 no data"},
      {".", "552 too big", dsDataRejected, "552 too big"},
      {"HELO", "421 busy", dsUnknownError, "Error: Unknow error."},
      {"GREETING", "", dsTimeout, "Error: Timeout."},
  };
  SenderConntecTimeout = 2;
  for (const auto& C : Cases) {
    Reset();
    TScriptedSmtpPeer Silent("", 25), Last("", 25);
    Silent.SetReply("GREETING", "");
    Last.SetReply(C.Step, C.Reply);
    T.MXHosts = {Last.IP()};
    // An exchanger that times out followed by one that refuses: the last one counts.
    if (std::string(C.Step) == "RCPT") T.MXHosts.insert(T.MXHosts.begin(), Silent.IP());
    Run();
    EXPECT_EQ(T.Mail.Status, C.Status) << C.Step;
    EXPECT_EQ(T.Mail.LastError, C.LastError) << C.Step;
    EXPECT_EQ(T.Mail.SentTime, 0) << C.Step;
    EXPECT_EQ(Log().back(), "Mail delivered Failed.") << C.Step;
  }
}

TEST_F(DeliverMail, ConnectFailureAndUnknownExchangers) {
  TScriptedSmtpPeer Probe("", 0);  // a free random address; port 25 there is closed
  T.MXHosts = {Probe.IP()};
  Run();
  EXPECT_EQ(T.Mail.Status, dsConnectFailed);
  EXPECT_EQ(T.Mail.LastError, "Error: Can not connect host.");
  EXPECT_TRUE(Logged("Connect " + Probe.IP() + " failed"));

  Reset();
  Run();
  EXPECT_EQ(T.Mail.Status, dsAddressError);
  EXPECT_EQ(T.Mail.LastError, "Error: Can not get MX information.");
  EXPECT_EQ(Log(), (TLines{"No mail exchange host found! Mail can not be directly delivered!", "",
                           "Error: Can not get MX information.", "Mail delivered Failed."}));
}

TEST_F(DeliverMail, NoRecipient) {
  Reset("   ");
  Run();
  EXPECT_EQ(T.Mail.Status, dsAddressError);
  EXPECT_EQ(Log(), (TLines{"Recipients address error!"}));
}

TEST_F(DeliverMail, OnlyAWaitingMailIsAttempted) {
  T.SetMailState(msNone);
  T.DeliverMail();
  EXPECT_FALSE(T.Reserved);
  EXPECT_FALSE(Done.WaitFor(0));
  // A finished attempt only signals again.
  T.Reserved = true;
  T.SetMailState(msAttemptDone);
  T.DeliverMail();
  EXPECT_TRUE(T.Reserved);
  EXPECT_TRUE(Done.WaitFor(0));
  EXPECT_TRUE(Log().empty());
}

TEST_F(DeliverMail, RelayChosenBySenderGoesFirstWithAuthLogin) {
  RelayToSMTP = true;
  T.RelayEnabled = true;
  TScriptedSmtpPeer Other("127.0.0.1"), Chosen("127.0.0.1"), Mx("", 25);
  auto R = Relay(Chosen, "someone@else.test|ORIGIN.test", true);
  R.Email = "relay-sender@origin.test";
  Relays.Assign({Relay(Other, "other.test"), R});
  T.MXHosts = {Mx.IP()};
  Run();
  EXPECT_EQ(T.Mail.Status, dsRelayed);
  EXPECT_EQ(T.Mail.LastError, "127.0.0.1");
  EXPECT_EQ(Log().back(), "Mail relay to 127.0.0.1 successful.");
  EXPECT_EQ(Log()[0], "Try to relay mail to 127.0.0.1.");
  EXPECT_EQ(Mx.SessionCount(), 0u);
  EXPECT_EQ(Other.SessionCount(), 0u);
  ASSERT_TRUE(Chosen.WaitClosedSessions(1, 5000));
  EXPECT_EQ(Chosen.Sessions()[0].Commands,
            (TLines{"EHLO sender.test", "AUTH LOGIN", "cmVsYXl1c2Vy", "cmVsYXlwYXNz",
                    "MAIL FROM: <relay-sender@origin.test>", "RCPT TO: <rcpt@dest.test>", "DATA", "QUIT"}));
}

TEST_F(DeliverMail, AllExchangersFailThenEveryRelayInOrder) {
  RelayToSMTP = true;
  T.RelayEnabled = true;
  TScriptedSmtpPeer First("127.0.0.1"), Second("127.0.0.1"), Mx("", 25);
  // The first relay is chosen by sender and authenticates; it refuses the recipient.
  First.SetReply("RCPT", "550 not here");
  Mx.SetReply("RCPT", "550 unknown user");
  Relays.Assign({Relay(First, "origin.test", true), Relay(Second)});
  T.MXHosts = {Mx.IP()};
  Run();
  EXPECT_EQ(T.Mail.Status, dsRelayed);
  EXPECT_EQ(First.SessionCount(), 2u);  // route 1, then again in the fallback
  EXPECT_EQ(Second.SessionCount(), 1u);
  // The exchanger after an authenticating relay does not authenticate.
  ASSERT_TRUE(Mx.WaitClosedSessions(1, 5000));
  EXPECT_EQ(Mx.Sessions()[0].Commands[0], "HELO sender.test");
  const long Direct = IndexOf("Direct delivery to the mail exchange hosts failed. Try the relay SMTP servers now. ");
  const long MxTry = IndexOf("Try to deliver message to " + Mx.IP() + ".");
  ASSERT_GE(Direct, 0);
  EXPECT_LT(MxTry, Direct);
  std::vector<long> RelayTries;
  for (size_t I = 0; I < Log().size(); ++I)
    if (Log()[I] == "Try to relay mail to 127.0.0.1.") RelayTries.push_back(static_cast<long>(I));
  ASSERT_EQ(RelayTries.size(), 3u);
  EXPECT_LT(RelayTries[0], MxTry);
  EXPECT_GT(RelayTries[1], Direct);
}

TEST_F(DeliverMail, FallbackRelaysAllFailing) {
  RelayToSMTP = true;
  T.RelayEnabled = true;
  TScriptedSmtpPeer A("127.0.0.1"), B("127.0.0.1");
  A.SetReply("MAIL", "550 A says no");
  B.SetReply("RCPT", "550 B says no");
  Relays.Assign({Relay(A), Relay(B)});
  Run();
  // No exchanger known (11), then the relays: the last relay's result counts.
  EXPECT_EQ(T.Mail.Status, dsRecipientRejected);
  EXPECT_EQ(T.Mail.LastError, "550 B says no");
}

TEST_F(DeliverMail, DirectDeliveryDisabledAndRelayDomains) {
  RelayToSMTP = true;
  T.RelayEnabled = true;
  DisableDirectDelivery = true;
  TScriptedSmtpPeer Mx("", 25);
  T.MXHosts = {Mx.IP()};
  // An empty relay list: no route at all.
  Run();
  EXPECT_EQ(T.Mail.Status, 0);
  EXPECT_EQ(Log(), (TLines{"Direct mail delivery disabled. Use relay SMTP server to deliver mail.", "",
                           "Mail delivered Failed."}));
  // A relay domain goes straight to the relays, without the line about the exchangers.
  DisableDirectDelivery = false;
  RelayDomains = true;
  TScriptedSmtpPeer R("127.0.0.1");
  Relays.Assign({Relay(R)});
  Reset();
  T.Mail.ForceRelay = true;
  T.MXHosts = {Mx.IP()};
  Run();
  EXPECT_EQ(T.Mail.Status, dsRelayed);
  EXPECT_EQ(Log()[0], "Try to relay mail to 127.0.0.1.");
  EXPECT_EQ(Mx.SessionCount(), 0u);
}

TEST_F(DeliverMail, AbortEndsTheAttemptAsStopped) {
  SenderConntecTimeout = 0;  // no read limit: only the abort ends the wait
  TScriptedSmtpPeer Mx("", 25), Next("", 25);
  Mx.SetReply("DATA", "");
  T.MXHosts = {Mx.IP(), Next.IP()};
  std::thread Aborter = AbortAtData(Mx);
  Run();
  Aborter.join();
  EXPECT_EQ(T.Mail.Status, dsStopped);
  EXPECT_EQ(Next.SessionCount(), 0u);
  EXPECT_NE(Log().back(), "Mail delivered Failed.");
}

TEST_F(DeliverMail, AbortDuringTheRelayFallbackTriesNoFurtherRelay) {
  RelayToSMTP = true;
  T.RelayEnabled = true;
  SenderConntecTimeout = 0;
  TScriptedSmtpPeer Hanging("127.0.0.1"), Accepting("127.0.0.1");
  Hanging.SetReply("DATA", "");
  Relays.Assign({Relay(Hanging), Relay(Accepting)});
  // No exchanger known: straight on to the relays, where the abort comes.
  std::thread Aborter = AbortAtData(Hanging);
  Run();
  Aborter.join();
  EXPECT_EQ(T.Mail.Status, dsStopped);
  EXPECT_EQ(Accepting.SessionCount(), 0u);
  EXPECT_NE(Log().back(), "Mail delivered Failed.");
}

TEST_F(DeliverMail, AnAbortJustBeforeADialogueBeginsStillStopsIt) {
  RelayToSMTP = true;
  T.RelayEnabled = true;
  TScriptedSmtpPeer Chosen("127.0.0.1");
  Relays.Assign({Relay(Chosen, "origin.test")});
  // The abort lands after the attempt began but before the relay dialogue cleared the
  // client's flag: the dialogue must not reach the relay.
  T.Stopping = true;
  Run();
  EXPECT_EQ(T.Mail.Status, dsStopped);
  EXPECT_EQ(Chosen.SessionCount(), 0u);
}
