// The SMTP client against a server that says whatever the input says: the client's reply
// reading (multi-line replies, over-long and broken lines, early ends), the reply parser
// and the AUTH mechanisms of an EHLO reply. The input is the server's byte stream after
// byte 0 (options); it is handed out one reply at a time, each after a line from the client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/smtp/zqSMTPClient.h"

namespace {

int Listener(int& Port) {
  static int Fd = -1, BoundPort = 0;
  if (Fd < 0) {
    Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t L = sizeof A;
    if (Fd < 0 || bind(Fd, reinterpret_cast<sockaddr*>(&A), L) != 0 || listen(Fd, 8) != 0 ||
        getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &L) != 0)
      abort();
    BoundPort = ntohs(A.sin_port);
  }
  Port = BoundPort;
  return Fd;
}

// Reads from the client until a whole line came, it closed, or two seconds passed.
// (libFuzzer's timer signal interrupts the waits now and then.)
bool AwaitLine(int Fd) {
  char Buf[4096];
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < Deadline) {
    pollfd P{Fd, POLLIN, 0};
    const int R = poll(&P, 1, 100);
    if (R <= 0) continue;
    const ssize_t N = read(Fd, Buf, sizeof Buf);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    for (ssize_t I = 0; I < N; ++I)
      if (Buf[I] == '\n') return true;
  }
  return false;
}

void SendAll(int Fd, const std::string& S) {
  size_t Done = 0;
  while (Done < S.size()) {
    const ssize_t N = send(Fd, S.data() + Done, S.size() - Done, MSG_NOSIGNAL);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return;
    Done += static_cast<size_t>(N);
  }
}

void Serve(int ListenFd, const std::string& Stream) {
  int Fd;
  do Fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
  while (Fd < 0 && errno == EINTR);
  if (Fd < 0) return;
  size_t Pos = 0;
  while (Pos < Stream.size()) {
    // One reply: lines up to the first whose fourth character is not "-".
    std::string Reply;
    for (;;) {
      const size_t End = Stream.find('\n', Pos);
      const size_t Next = End == std::string::npos ? Stream.size() : End + 1;
      const std::string Line = Stream.substr(Pos, Next - Pos);
      Reply += Line;
      Pos = Next;
      if (Pos >= Stream.size() || Line.size() < 4 || Line[3] != '-') break;
    }
    SendAll(Fd, Reply);
    if (Pos < Stream.size() && !AwaitLine(Fd)) break;
  }
  shutdown(Fd, SHUT_WR);
  while (AwaitLine(Fd)) {
  }
  close(Fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  int Port = 0;
  const int ListenFd = Listener(Port);
  const std::string Stream(reinterpret_cast<const char*>(Data + 1), Size - 1);
  std::thread Server(Serve, ListenFd, Stream);

  {
    TzqSMTPClient Client;
    Client.Timeout = 3000;
    Client.UseAuthLogin = (Data[0] & 1) != 0;
    Client.Username = "user";
    Client.Password = "secret";
    Client.HeloName = "fuzz.local";
    std::vector<std::string> Lines;
    for (int I = 0; I < Data[0] >> 1; ++I) Lines.push_back("line " + std::to_string(I));
    const int32_t Result = Client.SendMail("127.0.0.1", Port, "a@example.com", "b@example.com", Lines);
    if (Result < scAccepted || Result > scOtherFailure) abort();
    for (const auto& L : Client.ReplyLines()) (void)ParseResponse(L);
    Client.ParseAuthMechanisms();
    (void)Client.SupportsAuth();
  }  // a dialogue that gave up may keep its connection until the client goes
  Server.join();
  return 0;
}
