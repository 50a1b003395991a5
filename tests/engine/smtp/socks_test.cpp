#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <fstream>
#include <mutex>

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
