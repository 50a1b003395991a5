#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "engine/delivery/MailSender.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/StoreFixture.h"

namespace {
using TLines = std::vector<std::string>;
using namespace std::chrono_literals;

// An MX cache that answers from a table: exchangers, no record at all, or an error.
class TFakeDNSCache : public TDNSCache {
public:
  struct TAnswer {
    std::vector<std::pair<uint16_t, std::string>> MX;
    bool Nil = false;
    bool Throw = false;
    bool ThrowOther = false;  // something that is no std::exception
  };
  void Set(const std::string& Domain, TAnswer A) {
    std::lock_guard<std::mutex> G(Lock);
    Answers[Domain] = std::move(A);
  }
  TDNSDomainRecordPtr GetMX(const std::string& Domain, int) override {
    std::lock_guard<std::mutex> G(Lock);
    Asked.push_back(Domain);
    const auto It = Answers.find(Domain);
    if (It == Answers.end() || It->second.Nil) return nullptr;
    if (It->second.Throw) throw std::runtime_error("DNS index file read error");
    if (It->second.ThrowOther) throw 42;
    TDNSDomainRecordPtr R(NewDomainRecord());
    R->Domain = Domain;
    for (const auto& [Pref, Host] : It->second.MX) {
      TDNSMXRecord* M = NewMXRecord();
      M->Host = Host;
      M->Preference = Pref;
      InsertMXRecord(M, R.get(), true);
    }
    return R;
  }
  bool Remove(const std::string& Domain) override {
    std::lock_guard<std::mutex> G(Lock);
    Removed.push_back(Domain);
    return true;
  }
  void Stop() override {}
  TLines AskedList() {
    std::lock_guard<std::mutex> G(Lock);
    return Asked;
  }
  TLines RemovedList() {
    std::lock_guard<std::mutex> G(Lock);
    return Removed;
  }

private:
  std::mutex Lock;
  std::map<std::string, TAnswer> Answers;
  TLines Asked, Removed;
};

class SenderModule : public StoreTest {
protected:
  TFakeDNSCache DNS;
  std::unique_ptr<TMailSenderModule> Sender;
  std::mutex DeliveryLogLock;
  std::vector<std::pair<std::string, std::string>> DeliveryLines;

  void SetUp() override {
    StoreTest::SetUp();
    SenderMaxThreadCount = 1;
    SenderConntecTimeout = 5;
    SenderHostname = "sender.test";
    RelayToSMTP = false;
    RelayDomains = false;
    DisableDirectDelivery = false;
    UseSocksProxy = false;
    CurrentDNSPrimary = "127.9.9.1";
    CurrentDNSSecondary = "127.9.9.2";
    Sender = std::make_unique<TMailSenderModule>(*Store, DNS);
    Sender->OnDeliveryLog = [this](const std::string& ID, const std::string& Text, int) {
      std::lock_guard<std::mutex> G(DeliveryLogLock);
      DeliveryLines.emplace_back(ID, Text);
    };
  }
  void TearDown() override {
    Sender.reset();
    StoreTest::TearDown();
  }
  bool WaitFor(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 10s) {
    const auto End = std::chrono::steady_clock::now() + Limit;
    while (std::chrono::steady_clock::now() < End) {
      if (Done()) return true;
      std::this_thread::sleep_for(10ms);
    }
    return Done();
  }
  bool WaitState(const std::string& ID, TMailState State) {
    return WaitFor([&] { return Record(ID).State == State; });
  }
  TLines MailLog(const std::string& ID) {
    auto M = Store->LoadMailData(ID);
    return M ? M->Log : TLines{};
  }
  static bool Has(const TLines& L, const std::string& S) { return std::find(L.begin(), L.end(), S) != L.end(); }
  static bool WaitCommand(TScriptedSmtpPeer& P, const std::string& Cmd) {
    for (int I = 0; I < 1000; ++I) {
      for (const auto& S : P.Sessions())
        if (!S.Commands.empty() && S.Commands.back() == Cmd) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
};
}  // namespace

TEST_F(SenderModule, DeliversToTheLowestPreferenceAndLogsEveryStep) {
  TScriptedSmtpPeer Low("", 25), High("", 25);
  DNS.Set("dest.test", {{{20, High.IP()}, {10, Low.IP()}}});
  const std::string ID = Add("Rcpt@Dest.TEST");
  Sender->Start();
  ASSERT_TRUE(WaitState(ID, msSent));
  Sender->Stop();
  EXPECT_GT(Record(ID).SentTime, 0);
  EXPECT_EQ(DNS.AskedList(), TLines{"dest.test"});
  EXPECT_TRUE(DNS.RemovedList().empty());  // a delivered domain stays cached
  ASSERT_EQ(Low.SessionCount(), 1u);
  EXPECT_EQ(High.SessionCount(), 0u);
  EXPECT_EQ(Low.Sessions()[0].Data, (TLines{"Subject: hello", "", "body line", "..dotted"}));

  const TLines Log = MailLog(ID);
  ASSERT_GE(Log.size(), 10u);
  EXPECT_EQ(Log[0].size(), 19u);  // the date and time
  EXPECT_EQ(Log[1], "[Quillon Pro v" + VersionString.get() + "]");
  EXPECT_EQ(Log[2], "DNS Query: Try to get mail exchange host information...");
  EXPECT_EQ(Log[3], "DNS server: 127.9.9.1, 127.9.9.2");
  EXPECT_EQ(Log[4], "Get 2 MX host information.");
  EXPECT_EQ(Log[5], "  10 " + Low.IP());
  EXPECT_EQ(Log[6], "  20 " + High.IP());
  EXPECT_EQ(Log[7], "Try to deliver message to " + Low.IP() + ".");
  EXPECT_TRUE(Has(Log, "CMD: RCPT TO: <Rcpt@Dest.TEST>"));
  EXPECT_TRUE(Has(Log, ">250 Queued"));
  EXPECT_EQ(Log.back(), "Mail delivered successful.");
  // The window sees the client's lines under the mail's ID.
  std::lock_guard<std::mutex> G(DeliveryLogLock);
  EXPECT_TRUE(std::any_of(DeliveryLines.begin(), DeliveryLines.end(),
                          [&](const auto& L) { return L.first == ID && L.second == "CMD: DATA"; }));
}

TEST_F(SenderModule, NeverMoreAttemptsThanDeliveryThreads) {
  SenderMaxThreadCount = 3;
  TScriptedSmtpPeer Mx("", 25);
  Mx.SetDataDelay(150);
  DNS.Set("dest.test", {{{10, Mx.IP()}}});
  std::vector<std::string> IDs;
  for (int I = 0; I < 10; ++I) IDs.push_back(Add("r" + std::to_string(I) + "@dest.test"));
  Sender->Start();
  int MaxBusy = 0;
  ASSERT_TRUE(WaitFor([&] {
    MaxBusy = std::max(MaxBusy, Sender->BusyCount());
    return std::all_of(IDs.begin(), IDs.end(), [&](const std::string& ID) { return Record(ID).State == msSent; });
  }));
  Sender->Stop();
  EXPECT_LE(MaxBusy, 3);
  EXPECT_LE(Mx.MaxConcurrent(), 3);
  EXPECT_GE(Mx.MaxConcurrent(), 2);
  EXPECT_EQ(Mx.SessionCount(), 10u);
}

TEST_F(SenderModule, StopDuringAnAttemptReturnsTheMailToWaiting) {
  SenderConntecTimeout = 0;  // the reply wait has no limit: only Stop ends it
  TScriptedSmtpPeer Mx("", 25);
  Mx.SetReply("DATA", "");
  DNS.Set("dest.test", {{{10, Mx.IP()}}});
  const std::string ID = Add("rcpt@dest.test");
  Sender->Start();
  ASSERT_TRUE(WaitCommand(Mx, "DATA"));
  EXPECT_EQ(Record(ID).State, msSending);
  const auto Begin = std::chrono::steady_clock::now();
  Sender->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - Begin, 3s);
  EXPECT_EQ(Record(ID).State, msWaiting);
  EXPECT_EQ(Record(ID).FailedAttempts, 0);
  EXPECT_TRUE(DNS.RemovedList().empty());  // a stopped domain stays cached
  // The next start delivers it.
  Mx.SetReply("DATA", "354 Go ahead");
  Sender->Start();
  EXPECT_TRUE(WaitState(ID, msSent));
}

TEST_F(SenderModule, MailAcceptedBeforeAStopStaysDelivered) {
  // The exchanger has answered 250 to the end of the data and is slow to answer QUIT: a
  // stop (or a cancel) now must not send the mail back to waiting, to go out again later.
  SenderConntecTimeout = 0;
  for (const bool Cancel : {false, true}) {
    TScriptedSmtpPeer Mx("", 25);
    Mx.SetReply("QUIT", "");
    DNS.Set("dest.test", {{{10, Mx.IP()}}});
    const std::string ID = Add("rcpt@dest.test");
    Sender->Start();
    ASSERT_TRUE(WaitCommand(Mx, "QUIT"));
    if (Cancel)
      Sender->CancelMail(ID);
    else
      Sender->Stop();
    EXPECT_TRUE(WaitState(ID, msSent)) << Cancel;
    EXPECT_TRUE(Has(MailLog(ID), "Mail delivered successful.")) << Cancel;
    if (Cancel) Sender->Stop();
  }
}

TEST_F(SenderModule, StopWhileWaitingForMailAndRestart) {
  Sender->Start();
  std::this_thread::sleep_for(150ms);
  Sender->Stop();
  TScriptedSmtpPeer Mx("", 25);
  DNS.Set("dest.test", {{{10, Mx.IP()}}});
  const std::string ID = Add("rcpt@dest.test");
  Sender->Start();
  EXPECT_TRUE(WaitState(ID, msSent));
}

TEST_F(SenderModule, CancelledThreadReturnsToService) {
  SenderConntecTimeout = 0;
  TScriptedSmtpPeer Stuck("", 25), Fine("", 25);
  Stuck.SetReply("DATA", "");
  DNS.Set("stuck.test", {{{10, Stuck.IP()}}});
  DNS.Set("fine.test", {{{10, Fine.IP()}}});
  const std::string First = Add("rcpt@stuck.test");
  Sender->Start();
  ASSERT_TRUE(WaitCommand(Stuck, "DATA"));
  const std::string Second = Add("rcpt@fine.test");
  Sender->CancelMail("no-such-id");
  // Deleted first here, so that the resolver cannot hand the mail out again.
  EXPECT_TRUE(Store->DeleteMail(First));
  Sender->CancelMail(First);
  // The one delivery thread takes the next mail.
  EXPECT_TRUE(WaitState(Second, msSent));
  ASSERT_TRUE(Stuck.WaitClosedSessions(1, 5000));
  EXPECT_EQ(Stuck.SessionCount(), 1u);
  Sender->Stop();
}

TEST_F(SenderModule, BrokenDNSCacheFailsTheAttemptOnly) {
  // A disk error of the cache, and something that is no std::exception at all: either
  // fails that mail's attempt (it is not left in its thread), and the resolver goes on.
  std::mutex LogLock;
  TLines Red;
  Sender->OnLog = [&](uint8_t Level, const std::string& Text) {
    std::lock_guard<std::mutex> G(LogLock);
    if (Level == 3) Red.push_back(Text);
  };
  struct {
    TFakeDNSCache::TAnswer Answer;
    const char* LogLine;
    TLines RedLines;
  } Cases[] = {{{{}, false, true, false}, "DNS Query failed: DNS index file read error", {}},
               {{{}, false, false, true}, "Error: Unknow error.", {"Error: Unknow error."}}};
  TScriptedSmtpPeer Mx("", 25);
  DNS.Set("fine.test", {{{10, Mx.IP()}}});
  for (const auto& C : Cases) {
    {
      std::lock_guard<std::mutex> G(LogLock);
      Red.clear();
    }
    DNS.Set("broken.test", C.Answer);
    const std::string Bad = Add("rcpt@broken.test");
    const std::string Good = Add("rcpt@fine.test");
    Sender->Start();
    ASSERT_TRUE(WaitState(Bad, msFailed)) << C.LogLine;
    ASSERT_TRUE(WaitState(Good, msSent)) << C.LogLine;
    Sender->Stop();
    const TLines Log = MailLog(Bad);
    EXPECT_TRUE(Has(Log, C.LogLine));
    EXPECT_TRUE(Has(Log, "Error: Can not get MX information.")) << C.LogLine;
    std::lock_guard<std::mutex> G(LogLock);
    EXPECT_EQ(Red, C.RedLines) << C.LogLine;
  }
  EXPECT_EQ(DNS.RemovedList(), (TLines{"broken.test", "broken.test"}));
}

TEST_F(SenderModule, ResolveStepVariants) {
  TScriptedSmtpPeer Direct("", 25);
  DNS.Set("none.test", {});  // an answer without exchangers
  // No MX information: the domain itself is the host (here an address of ours).
  const std::string Host = Direct.IP();
  const std::string NoAt = Add("nobody");
  const std::string Empty = Add("rcpt@none.test");
  const std::string Fallback = Add("rcpt@" + Host);
  Sender->Start();
  ASSERT_TRUE(WaitState(NoAt, msFailed));
  ASSERT_TRUE(WaitState(Empty, msFailed));
  ASSERT_TRUE(WaitState(Fallback, msSent));
  Sender->Stop();
  EXPECT_TRUE(Has(MailLog(NoAt), "Invalid mail address nobody"));
  const TLines E = MailLog(Empty);
  EXPECT_TRUE(Has(E, "Get 0 MX host information."));
  EXPECT_TRUE(Has(E, "No mail exchange host found! Mail can not be directly delivered!"));
  EXPECT_TRUE(Has(MailLog(Fallback), "No MX host information retrieved. Try to send directly to host " + Host));
  EXPECT_EQ(DNS.AskedList(), (TLines{"none.test", Host}));
}

TEST_F(SenderModule, RelayDomainSkipsTheLookup) {
  TScriptedSmtpPeer Relay("127.0.0.1");
  RelayToSMTP = true;
  RelayDomains = true;
  RelayDomainList = "other.test; Dest.Test";
  RelaySMTPList = "127.0.0.1:" + std::to_string(Relay.Port()) + "::0:::";
  const std::string ID = Add("rcpt@dest.test");
  Sender->Start();
  ASSERT_TRUE(WaitState(ID, msSent));
  Sender->Stop();
  EXPECT_TRUE(DNS.AskedList().empty());
  const TLines Log = MailLog(ID);
  EXPECT_TRUE(Has(Log, "The Recipients' mail domain is 'dest.test'. Mail will be relay to SMTP server."));
  EXPECT_EQ(Log.back(), "Mail relay to 127.0.0.1 successful.");
  // A relayed mail's domain is asked again next time.
  EXPECT_EQ(DNS.RemovedList(), TLines{"dest.test"});
  RelayToSMTP = false;
  RelayDomains = false;
}

TEST_F(SenderModule, RetriedMailLogGrowsByAnAttempt) {
  RetrySend = true;
  MaxRetries = 2;
  RetryInterval = 0;
  TScriptedSmtpPeer Mx("", 25);
  Mx.SetReply("RCPT", "450 try later");
  DNS.Set("dest.test", {{{10, Mx.IP()}}});
  const std::string ID = Add("rcpt@dest.test");
  Sender->Start();
  ASSERT_TRUE(WaitState(ID, msFailed));
  Mx.SetReply("RCPT", "250 OK");
  // The record shows "failed" a moment before the finisher has put it in the failed list,
  // where the tick finds it: tick until the retry has fallen due.
  ASSERT_TRUE(WaitFor([&] {
    Ticks(1);
    return Record(ID).State != msFailed;
  }));
  ASSERT_TRUE(WaitState(ID, msSent));
  Sender->Stop();
  const TLines Log = MailLog(ID);
  const auto Version = "[Quillon Pro v" + VersionString.get() + "]";
  EXPECT_EQ(std::count(Log.begin(), Log.end(), Version), 2);
  const auto Second = std::find(Log.begin() + 2, Log.end(), Version);
  ASSERT_NE(Second, Log.end());
  EXPECT_EQ(*(Second - 2), "");
  EXPECT_EQ(*(Second - 3), "Mail delivered Failed.");
}
