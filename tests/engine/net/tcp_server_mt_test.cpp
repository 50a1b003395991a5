#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/net/SocketErrors.h"
#include "engine/net/TcpServer.h"
#include "support/LoopbackSockets.h"

namespace {
// Echoes lines; "quit" ends the connection, "boom" raises inside the handler.
class TEchoServer : public TTcpServer {
public:
  ~TEchoServer() override { SetActive(false); }
  std::atomic<int> Connects{0}, Disconnects{0};

protected:
  void DoConnect(TPeerThread& T) override {
    ++Connects;
    T.Connection.WriteLn("hello " + T.Connection.PeerIP());
  }
  void DoDisconnect(TPeerThread&) override { ++Disconnects; }
  void DoExecute(TPeerThread& T) override {
    const std::string L = T.Connection.ReadLn();
    if (L == "boom") throw std::runtime_error("handler failed");
    if (L == "quit") {
      T.Connection.WriteLn("bye");
      T.Connection.Disconnect();
      return;
    }
    T.Connection.WriteLn("echo " + L);
  }
};

std::unique_ptr<TTcpConnection> Dial(int Port, const std::string& Host = "127.0.0.1") {
  auto C = TTcpConnection::Connect(Host, Port, 2000);
  EXPECT_EQ(0u, C->ReadLn(2000).find("hello "));
  return C;
}

void WaitFor(const std::function<bool()>& Cond) {
  for (int I = 0; I < 400 && !Cond(); ++I) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
}  // namespace

TEST(TcpServer, BindingsEachServeTheirOwnConnections) {
  TEchoServer S;
  S.Bindings = {{"127.0.0.1", 0}, {"127.0.0.1", 0}};
  S.SetActive(true);
  const auto Ports = S.BoundPorts();
  ASSERT_EQ(2u, Ports.size());
  auto A = Dial(Ports[0]);
  auto B = Dial(Ports[1]);
  A->WriteLn("a");
  B->WriteLn("b");
  EXPECT_EQ("echo b", B->ReadLn(2000));
  EXPECT_EQ("echo a", A->ReadLn(2000));
  A->WriteLn("quit");
  EXPECT_EQ("bye", A->ReadLn(2000));
  EXPECT_THROW(A->ReadLn(2000), EConnectionClosed);
  WaitFor([&] { return S.Disconnects == 1; });
  EXPECT_EQ(1, S.Disconnects.load());
}

TEST(TcpServer, AllAddressesAtTheDefaultPort) {
  TEchoServer S;
  S.DefaultPort = 0;
  S.SetActive(true);
  const int Port = S.BoundPorts().at(0);
  auto A = Dial(Port, "127.0.0.1");
  auto B = Dial(Port, "127.0.0.2");
  B->WriteLn("x");
  EXPECT_EQ("echo x", B->ReadLn(2000));
}

TEST(TcpServer, TakenPortRaisesBindErrorAndLeavesNothingOpen) {
  TEchoServer First;
  First.Bindings = {{"127.0.0.1", 0}};
  First.SetActive(true);
  const int Port = First.BoundPorts().at(0);
  TEchoServer Second;
  Second.Bindings = {{"127.0.0.1", 0}, {"127.0.0.1", Port}};
  try {
    Second.SetActive(true);
    FAIL() << "bind succeeded";
  } catch (const ESocketBindError& E) {
    EXPECT_STREQ("Could not bind socket. Address and port are already in use.", E.what());
  }
  EXPECT_FALSE(Second.Active());
  // Not an address of this machine.
  TEchoServer Third;
  Third.Bindings = {{"192.0.2.123", 0}};
  EXPECT_THROW(Third.SetActive(true), ESocketBindError);
}

namespace {
// The system's bind, failing with FailCode at its second call.
int BindCalls = 0, FailCode = 0;
int SecondBindFails(int Fd, const sockaddr* Address, socklen_t Length) {
  if (++BindCalls == 2) {
    errno = FailCode;
    return -1;
  }
  return bind(Fd, Address, Length);
}
}  // namespace

TEST(TcpServer, BindErrorSaysWhyTheSocketCouldNotBeBound) {
  // Root may bind any port: a port below 1024 without the right to bind it is injected.
  const struct {
    int Code;
    const char* Text;
  } Cases[] = {{EACCES, "Could not bind socket. Permission denied."},
               {EPERM, "Could not bind socket. Permission denied."},
               {EADDRINUSE, "Could not bind socket. Address and port are already in use."},
               {EADDRNOTAVAIL, "Could not bind socket. Address and port are already in use."}};
  for (const auto& C : Cases) {
    const int Port = FreeLoopbackPort();
    TEchoServer S;
    S.Bindings = {{"127.0.0.1", Port}, {"127.0.0.1", 0}};
    S.BindSocket = SecondBindFails;
    BindCalls = 0;
    FailCode = C.Code;
    try {
      S.SetActive(true);
      ADD_FAILURE() << "bind succeeded";
    } catch (const ESocketBindError& E) {
      EXPECT_STREQ(C.Text, E.what()) << C.Code;
      EXPECT_EQ(C.Code, E.ErrorCode());
    }
    EXPECT_FALSE(S.Active());
    // The listener bound first is closed again.
    TEchoServer Again;
    Again.Bindings = {{"127.0.0.1", Port}};
    EXPECT_NO_THROW(Again.SetActive(true)) << C.Code;
  }
}

TEST(TcpServer, HandlerFailureEndsOnlyItsConnection) {
  TEchoServer S;
  S.Bindings = {{"127.0.0.1", 0}};
  S.SetActive(true);
  const int Port = S.BoundPorts().at(0);
  auto Good = Dial(Port);
  auto Bad = Dial(Port);
  Bad->WriteLn("boom");
  EXPECT_THROW(Bad->ReadLn(2000), EConnectionClosed);
  auto Long = Dial(Port);
  Long->Write(std::string(20000, 'q'));
  EXPECT_THROW(Long->ReadLn(2000), ESocketError);
  Good->WriteLn("still here");
  EXPECT_EQ("echo still here", Good->ReadLn(2000));
  WaitFor([&] { return S.ConnectionCount() == 1; });
  EXPECT_EQ(1u, S.ConnectionCount());
}

TEST(TcpServer, DeactivateEndsBlockedConnectionsPromptlyAndCanRestart) {
  TEchoServer S;
  S.Bindings = {{"127.0.0.1", 0}};
  S.SetActive(true);
  const int Port = S.BoundPorts().at(0);
  std::vector<std::unique_ptr<TTcpConnection>> Clients;
  for (int I = 0; I < 20; ++I) Clients.push_back(Dial(Port));
  Clients[0]->Write(std::string("half a li"));
  WaitFor([&] { return S.ConnectionCount() == 20; });
  const auto T0 = std::chrono::steady_clock::now();
  S.SetActive(false);
  const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - T0).count();
  EXPECT_LT(Ms, 2000);  // a guard against a hang, not a speed figure
  EXPECT_EQ(0u, S.ConnectionCount());
  EXPECT_EQ(20, S.Disconnects.load());
  for (auto& C : Clients) EXPECT_THROW(C->ReadLn(2000), EConnectionClosed);
  // The same port binds again at once (address reuse), with the old connections in TIME_WAIT.
  S.Bindings = {{"127.0.0.1", Port}};
  S.SetActive(true);
  auto C = Dial(Port);
  C->WriteLn("again");
  EXPECT_EQ("echo again", C->ReadLn(2000));
}

TEST(TcpServer, ManyConcurrentClients) {
  TEchoServer S;
  S.Bindings = {{"127.0.0.1", 0}};
  S.SetActive(true);
  const int Port = S.BoundPorts().at(0);
  std::vector<std::thread> Threads;
  std::atomic<int> Ok{0};
  for (int T = 0; T < 16; ++T)
    Threads.emplace_back([&, T] {
      for (int R = 0; R < 10; ++R) {
        auto C = Dial(Port);
        const std::string L = std::to_string(T) + "-" + std::to_string(R);
        C->WriteLn(L);
        if (C->ReadLn(2000) == "echo " + L) ++Ok;
      }
    });
  for (auto& T : Threads) T.join();
  EXPECT_EQ(160, Ok.load());
}
