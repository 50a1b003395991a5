#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "engine/smtp/zqSMTPClient.h"
#include "support/ChildProcess.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/Socks4aServer.h"
#include "support/TestEnv.h"

namespace {
// A SOCKS 5 proxy that records the authentication methods each client offers and then
// refuses them all ("no acceptable method"): the offer is all that matters here.
class TSocks5MethodRecorder : public TLoopbackServer {
public:
  TSocks5MethodRecorder() : TLoopbackServer("127.0.0.1", 0) { StartAccepting(); }
  ~TSocks5MethodRecorder() override { Stop(); }
  std::vector<std::vector<int>> Offers() const {
    std::lock_guard<std::mutex> G(FLock);
    return FOffers;
  }

private:
  void Serve(int Fd) override {
    std::string In;
    while (!Stopping() && (In.size() < 2 || In.size() < 2u + static_cast<unsigned char>(In[1]))) {
      pollfd P{Fd, POLLIN, 0};
      if (poll(&P, 1, 50) <= 0) continue;
      char Buf[64];
      const ssize_t N = recv(Fd, Buf, sizeof Buf, 0);
      if (N <= 0) return;
      In.append(Buf, static_cast<size_t>(N));
    }
    if (In.size() < 2 || In[0] != 5) return;
    std::vector<int> Methods;
    for (size_t I = 2; I < 2u + static_cast<unsigned char>(In[1]); ++I) Methods.push_back(static_cast<unsigned char>(In[I]));
    {
      std::lock_guard<std::mutex> G(FLock);
      FOffers.push_back(Methods);
    }
    const char Refuse[2] = {5, static_cast<char>(0xFF)};
    send(Fd, Refuse, sizeof Refuse, MSG_NOSIGNAL);
  }
  mutable std::mutex FLock;
  std::vector<std::vector<int>> FOffers;
};

// A SOCKS 5 proxy that wants a login and answers each of its three replies (method,
// login, connect) after DelayMs, or never from reply StallAt on. Past the hand-shake it
// stands in for the exchanger itself with a greeting of 554.
class TSlowSocks5 : public TLoopbackServer {
public:
  static constexpr int NoStall = 3;
  TSlowSocks5(int DelayMs, int StallAt) : TLoopbackServer("127.0.0.1", 0), FDelay(DelayMs), FStallAt(StallAt) {
    StartAccepting();
  }
  ~TSlowSocks5() override { Stop(); }

private:
  // False when the client went away or the server stops.
  bool Read(int Fd, size_t Len, std::string& In) {
    In.clear();
    while (In.size() < Len) {
      if (Stopping()) return false;
      pollfd P{Fd, POLLIN, 0};
      if (poll(&P, 1, 20) <= 0) continue;
      char Buf[256];
      const ssize_t N = recv(Fd, Buf, std::min(sizeof Buf, Len - In.size()), 0);
      if (N <= 0) return false;
      In.append(Buf, static_cast<size_t>(N));
    }
    return true;
  }
  // Waits before reply Step (forever from StallAt on), then sends it.
  bool Answer(int Fd, int Step, const std::string& Reply) {
    const auto Until = std::chrono::steady_clock::now() + std::chrono::milliseconds(FDelay);
    while (!Stopping() && (Step >= FStallAt || std::chrono::steady_clock::now() < Until)) {
      pollfd P{Fd, POLLRDHUP, 0};
      if (poll(&P, 1, 10) > 0) return false;  // the client gave up
    }
    return !Stopping() && send(Fd, Reply.data(), Reply.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(Reply.size());
  }
  void Serve(int Fd) override {
    std::string In, More;
    if (!Read(Fd, 2, In) || !Read(Fd, static_cast<unsigned char>(In[1]), More) || !Answer(Fd, 0, {5, 2})) return;
    // Login: version, user, password, each name with its length in front.
    if (!Read(Fd, 2, In) || !Read(Fd, static_cast<unsigned char>(In[1]) + 1u, More) ||
        !Read(Fd, static_cast<unsigned char>(More.back()), In) || !Answer(Fd, 1, {1, 0}))
      return;
    // CONNECT to an IPv4 address: 4 bytes of head, 4 of address, 2 of port.
    if (!Read(Fd, 10, In) || !Answer(Fd, 2, std::string("\x05\x00\x00\x01\0\0\0\0\0\0", 10))) return;
    const std::string Greeting = "554 not here\r\n";
    send(Fd, Greeting.data(), Greeting.size(), MSG_NOSIGNAL);
    while (Read(Fd, 1, In)) {
    }
  }
  const int FDelay;
  const int FStallAt;
};

struct SocksProxy : ::testing::Test {
  TTestEnv Env;
  TzqSMTPClient Client;
  std::vector<std::string> LogLines;
  TScriptedSmtpPeer Peer{"127.0.0.2"};

  SocksProxy() {
    Client.OnLog = [this](TzqSMTPClient&, const std::string& M) { LogLines.push_back(M); };
    Client.HeloName = "client.test";
    Client.Timeout = 5000;
  }
  void UseProxy(TSocksVersion V, int Port, const std::string& User = "", const std::string& Password = "") {
    Client.SocksInfo.Version = V;
    Client.SocksInfo.Host = "127.0.0.1";
    Client.SocksInfo.Port = Port;
    Client.SocksInfo.Authentication =
        User.empty() ? TSocksAuthentication::saNoAuthentication : TSocksAuthentication::saUsernamePassword;
    Client.SocksInfo.Username = User;
    Client.SocksInfo.Password = Password;
  }
  int Send(const std::string& Host = "127.0.0.2") {
    LogLines.clear();
    return Client.SendMail(Host, Peer.Port(), "a@x.test", "b@y.test", {"Subject: via proxy", "", "body"});
  }
  // The socket leads to the proxy, the dialogue to the exchanger behind it.
  bool WentThroughProxy(const std::string& Host = "127.0.0.2") const {
    return std::find(LogLines.begin(), LogLines.end(), Host + "[127.0.0.1] connected") != LogLines.end();
  }

  bool StartDante(TChildProcess& P, int Port) {
    if (!ProgramAvailable("danted")) return false;
    const std::string Conf = Env.Root() + "danted.conf";
    std::ofstream(Conf) << "logoutput: " << Env.Root() << "danted.log\n"
                        << "internal: 127.0.0.1 port = " << Port << "\n"
                        << "external: 127.0.0.1\n"
                        << "clientmethod: none\nsocksmethod: none\n"
                        << "user.privileged: root\nuser.unprivileged: nobody\n"
                        << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                        << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  command: connect\n}\n";
    return P.Start({"danted", "-f", Conf, "-p", Env.Root() + "danted.pid", "-N", "1"}, Env.Root() + "danted.out") &&
           WaitForListener("127.0.0.1", Port, 5000);
  }
};
}  // namespace

TEST_F(SocksProxy, DanteSocks4And5) {
  TChildProcess Dante;
  const int Port = FreeLoopbackPort();
  if (!StartDante(Dante, Port)) GTEST_SKIP() << "danted not available (scripts/deps.sh installs it)";
  for (TSocksVersion V : {TSocksVersion::svSocks4, TSocksVersion::svSocks5}) {
    UseProxy(V, Port);
    EXPECT_EQ(Send(), scAccepted) << static_cast<int>(V);
    EXPECT_TRUE(WentThroughProxy()) << static_cast<int>(V);
  }
  ASSERT_TRUE(Peer.WaitClosedSessions(2, 5000));
  EXPECT_EQ(Peer.Sessions().at(1).Data, (std::vector<std::string>{"Subject: via proxy", "", "body"}));
}

TEST_F(SocksProxy, MicrosocksSocks5WithUserAndPassword) {
  if (!ProgramAvailable("microsocks")) GTEST_SKIP() << "microsocks not available (scripts/deps.sh installs it)";
  TChildProcess Socks;
  const int Port = FreeLoopbackPort();
  ASSERT_TRUE(Socks.Start({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(Port), "-u", "relay", "-P", "s3cret"}));
  ASSERT_TRUE(WaitForListener("127.0.0.1", Port, 5000));
  UseProxy(TSocksVersion::svSocks5, Port, "relay", "s3cret");
  EXPECT_EQ(Send(), scAccepted);
  EXPECT_TRUE(WentThroughProxy());
  // A refused login is a failed connection.
  UseProxy(TSocksVersion::svSocks5, Port, "relay", "wrong");
  EXPECT_EQ(Send(), scConnectFailed);
  ASSERT_GE(LogLines.size(), 3u);
  EXPECT_EQ(LogLines[1], "Connect 127.0.0.2 failed");
}

TEST_F(SocksProxy, Socks4aSendsTheHostNameToTheProxy) {
  TSocks4aServer Server;
  TScriptedSmtpPeer Local("127.0.0.1");
  UseProxy(TSocksVersion::svSocks4A, Server.Port());
  LogLines.clear();
  EXPECT_EQ(Client.SendMail("localhost", Local.Port(), "a@x.test", "b@y.test", {"x"}), scAccepted);
  EXPECT_TRUE(WentThroughProxy("localhost"));
  // Plain SOCKS 4 resolves on this side and sends the address.
  UseProxy(TSocksVersion::svSocks4, Server.Port());
  EXPECT_EQ(Client.SendMail("localhost", Local.Port(), "a@x.test", "b@y.test", {"x"}), scAccepted);
  const std::string P = std::to_string(Local.Port());
  EXPECT_EQ(Server.Requests(), (std::vector<std::string>{"4A localhost:" + P, "4 127.0.0.1:" + P}));
}

TEST_F(SocksProxy, Socks5OffersOnlyTheConfiguredMethods) {
  // GSS-API (1) is never offered: a proxy that picked it would fail the attempt.
  TSocks5MethodRecorder Proxy;
  UseProxy(TSocksVersion::svSocks5, Proxy.Port());
  EXPECT_EQ(Send(), scConnectFailed);
  UseProxy(TSocksVersion::svSocks5, Proxy.Port(), "relay", "s3cret");
  EXPECT_EQ(Send(), scConnectFailed);
  EXPECT_EQ(Proxy.Offers(), (std::vector<std::vector<int>>{{0}, {0, 2}}));
}

// The proxy is on with a stored version the drop-down does not list (a hand-edited
// registry, say): the attempt still goes to the proxy, as SOCKS 5, never straight out.
TEST_F(SocksProxy, StoredVersionOutsideTheListStillUsesTheProxy) {
  TSocks5MethodRecorder Proxy;
  UseSocksProxy = true;
  SocksHost = "127.0.0.1";
  SocksPort = Proxy.Port();
  SocksAuthentication = false;
  for (int Stored : {5, -1}) {
    SocksVersion = Stored;
    ApplySocksSettings(Client.SocksInfo);
    EXPECT_EQ(Send(), scConnectFailed) << Stored;  // the recorder refuses every method
  }
  UseSocksProxy = false;
  SocksVersion = 0;
  EXPECT_EQ(Proxy.Offers(), (std::vector<std::vector<int>>{{0}, {0}}));
  EXPECT_TRUE(Peer.Sessions().empty());
}

// Each reply of the proxy's hand-shake is a read of its own with the client's time-out:
// replies that each come in time pass even when together they take longer than it, and a
// reply that never comes fails the connection within that time-out of the one before.
TEST_F(SocksProxy, EachProxyReplyIsAReadWithTheTimeout) {
  Client.Timeout = 1000;
  struct TCase {
    int DelayMs, StallAt;
  };
  for (const TCase C : {TCase{600, TSlowSocks5::NoStall}, TCase{0, 0}, TCase{600, 1}, TCase{0, 2}}) {
    SCOPED_TRACE(testing::Message() << "delay " << C.DelayMs << ", stall at " << C.StallAt);
    TSlowSocks5 Proxy(C.DelayMs, C.StallAt);
    UseProxy(TSocksVersion::svSocks5, Proxy.Port(), "relay", "s3cret");
    // A hang (libcurl's own limit is five minutes) is cut short and fails the case.
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    std::thread Guard([&] {
      std::unique_lock<std::mutex> L(Lock);
      if (!Done.wait_for(L, std::chrono::seconds(8), [&] { return Finished; })) Client.Stop();
    });
    const auto Start = std::chrono::steady_clock::now();
    const int Result = Send();
    const auto Took = std::chrono::steady_clock::now() - Start;
    {
      std::lock_guard<std::mutex> L(Lock);
      Finished = true;
    }
    Done.notify_one();
    Guard.join();
    EXPECT_LT(Took, std::chrono::seconds(4));
    if (C.StallAt == TSlowSocks5::NoStall) {
      EXPECT_EQ(Result, scOtherFailure);  // the stand-in's greeting
      EXPECT_EQ(Client.LastResponse.Code, 554);
    } else {
      EXPECT_EQ(Result, scConnectFailed);
      std::string Log;
      for (const std::string& L : LogLines) Log += L + "\n";
      EXPECT_NE(Log.find("\nConnect 127.0.0.2 failed\nError: Connection timed out after "), std::string::npos) << Log;
    }
  }
  EXPECT_TRUE(Peer.Sessions().empty());
}
