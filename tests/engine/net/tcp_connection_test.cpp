#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/net/SocketErrors.h"
#include "engine/net/TcpConnection.h"
#include "support/LoopbackSockets.h"

namespace {
// A connected pair over loopback: First is the client side, Second the accepted side.
struct TPair {
  std::unique_ptr<TTcpConnection> Client, Server;
};

TPair MakePair(const std::string& SourceIP = "") {
  int Port = 0;
  const int L = ListenTcp("127.0.0.1", 0, &Port);
  TPair P;
  P.Client = TTcpConnection::Connect("127.0.0.1", Port, 2000, SourceIP);
  P.Server = std::make_unique<TTcpConnection>(accept(L, nullptr, nullptr));
  close(L);
  return P;
}
}  // namespace

TEST(TcpConnection, LineEndsAndSplitWrites) {
  auto P = MakePair();
  P.Client->Write(std::string("one\r\ntwo\nthr"));
  P.Client->Write(std::string("ee\r\n\r\n\nmid\rdle\r\n\r\r\n"));
  P.Client->Write(std::string("nul\0byte\n", 9));
  const std::vector<std::string> Want = {"one", "two", "three", "", "", "mid\rdle", "\r", std::string("nul\0byte", 8)};
  for (const auto& W : Want) EXPECT_EQ(W, P.Server->ReadLn(2000));
  P.Server->WriteLn("reply");
  EXPECT_EQ("reply", P.Client->ReadLn(2000));
}

TEST(TcpConnection, LineLimit) {
  auto P = MakePair();
  const std::string Max(TTcpConnection::MaxLineLength, 'x');
  P.Client->Write(Max + "\r\n" + Max + "\n");
  EXPECT_EQ(Max, P.Server->ReadLn(2000));
  EXPECT_EQ(Max, P.Server->ReadLn(2000));
  // One character more, with or without the line end in sight, raises; so does every later read.
  P.Client->Write(Max + "y\r\nafter\r\n");
  EXPECT_THROW(P.Server->ReadLn(2000), ELineTooLong);
  EXPECT_THROW(P.Server->ReadLn(2000), ELineTooLong);
}

TEST(TcpConnection, HugeLineIsRefusedWithoutBufferingIt) {
  auto P = MakePair();
  std::thread Writer([&] {
    const std::string Chunk(1 << 20, 'z');
    try {
      for (int I = 0; I < 20; ++I) P.Client->Write(Chunk);
    } catch (const ESocketError&) {
      // The reader gave up and closed: expected.
    }
  });
  EXPECT_THROW(P.Server->ReadLn(5000), ELineTooLong);
  P.Server->Disconnect();
  P.Server.reset();  // close: the writer's blocked send fails
  Writer.join();
}

TEST(TcpConnection, TimeoutThenData) {
  auto P = MakePair();
  EXPECT_THROW(P.Server->ReadLn(50), EReadTimeout);
  // A partial line does not beat the time-out either, and is kept for the next read.
  P.Client->Write(std::string("par"));
  EXPECT_THROW(P.Server->ReadLn(50), EReadTimeout);
  P.Client->Write(std::string("tial\r\n"));
  EXPECT_EQ("partial", P.Server->ReadLn(2000));
}

TEST(TcpConnection, PeerCloseAndLocalDisconnect) {
  auto P = MakePair();
  P.Client->Write(std::string("last\r\nunfinished"));
  P.Client.reset();
  EXPECT_EQ("last", P.Server->ReadLn(2000));
  EXPECT_THROW(P.Server->ReadLn(2000), EConnectionClosed);
  EXPECT_FALSE(P.Server->Connected());

  // Disconnect from another thread wakes a read blocked without time-out.
  auto Q = MakePair();
  std::thread T([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Q.Server->Disconnect();
  });
  EXPECT_THROW(Q.Server->ReadLn(), EConnectionClosed);
  T.join();
  EXPECT_THROW(Q.Server->WriteLn("x"), EConnectionClosed);
  EXPECT_THROW(Q.Client->ReadLn(2000), EConnectionClosed);
}

TEST(TcpConnection, AddressesAndSourceBinding) {
  auto P = MakePair("127.0.0.2");
  EXPECT_EQ("127.0.0.2", P.Server->PeerIP());
  EXPECT_EQ("127.0.0.1", P.Server->LocalIP());
  EXPECT_EQ("127.0.0.1", P.Client->PeerIP());
  EXPECT_EQ(P.Client->LocalPort(), P.Server->PeerPort());
  EXPECT_EQ(P.Server->LocalPort(), P.Client->PeerPort());
}

TEST(TcpConnection, TakesOverADuplicatedDescriptor) {
  auto P = MakePair();
  auto Dup = std::make_unique<TTcpConnection>(dup(P.Client->Handle()));
  Dup->WriteLn("via dup");
  EXPECT_EQ("via dup", P.Server->ReadLn(2000));
  Dup.reset();  // closing the duplicate leaves the original open
  P.Client->WriteLn("original");
  EXPECT_EQ("original", P.Server->ReadLn(2000));
}

TEST(TcpConnection, ConnectFailures) {
  const int Port = FreeLoopbackPort();  // nothing listens there
  EXPECT_THROW(TTcpConnection::Connect("127.0.0.1", Port), ESocketError);
  EXPECT_THROW(TTcpConnection::Connect("127.0.0.1", Port, 500), ESocketError);
}
