#include "support/Socks4aServer.h"


#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {
bool ReadExact(int Fd, void* Buf, size_t Len) {
  auto* P = static_cast<char*>(Buf);
  while (Len > 0) {
    const ssize_t N = recv(Fd, P, Len, 0);
    if (N <= 0) return false;
    P += N;
    Len -= static_cast<size_t>(N);
  }
  return true;
}

bool ReadZString(int Fd, std::string& S) {
  S.clear();
  for (;;) {
    char C;
    if (!ReadExact(Fd, &C, 1)) return false;
    if (C == '\0') return true;
    if (S.size() > 255) return false;
    S += C;
  }
}

void Reply(int Fd, unsigned char Code) {
  const unsigned char R[8] = {0, Code, 0, 0, 0, 0, 0, 0};
  send(Fd, R, sizeof R, MSG_NOSIGNAL);
}
}  // namespace

TSocks4aServer::TSocks4aServer() : TLoopbackServer("127.0.0.1", 0, 16) { StartAccepting(); }

TSocks4aServer::~TSocks4aServer() { Stop(); }

std::vector<std::string> TSocks4aServer::Requests() const {
  std::lock_guard<std::mutex> G(FLock);
  return FRequests;
}

void TSocks4aServer::Serve(int Fd) {
  int Target = -1;
  auto Finish = [&] {
    if (Target < 0) return;
    Untrack(Target);
    close(Target);
  };
  unsigned char Head[8];
  std::string User, Host;
  if (!ReadExact(Fd, Head, sizeof Head) || Head[0] != 4 || Head[1] != 1 || !ReadZString(Fd, User)) return Finish();
  const uint16_t Port = static_cast<uint16_t>(Head[2] << 8 | Head[3]);
  const bool Is4A = Head[4] == 0 && Head[5] == 0 && Head[6] == 0 && Head[7] != 0;
  in_addr Addr{};
  if (Is4A) {
    if (!ReadZString(Fd, Host)) return Finish();
    const std::string Name = Host == "localhost" ? std::string("127.0.0.1") : Host;
    if (inet_pton(AF_INET, Name.c_str(), &Addr) != 1) {
      Reply(Fd, 91);
      return Finish();
    }
  } else {
    std::memcpy(&Addr, Head + 4, 4);
    char Buf[INET_ADDRSTRLEN];
    Host = inet_ntop(AF_INET, &Addr, Buf, sizeof Buf);
  }
  {
    std::lock_guard<std::mutex> G(FLock);
    FRequests.push_back(std::string(Is4A ? "4A " : "4 ") + Host + ":" + std::to_string(Port));
  }
  const int T = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  A.sin_addr = Addr;
  if (connect(T, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
    close(T);
    Reply(Fd, 91);
    return Finish();
  }
  Target = T;
  Track(T);
  Reply(Fd, 90);
  pollfd P[2] = {{Fd, POLLIN, 0}, {T, POLLIN, 0}};
  char Buf[16384];
  while (!Stopping()) {
    if (poll(P, 2, 100) <= 0) continue;
    bool Done = false;
    for (int I = 0; I < 2 && !Done; ++I) {
      if (!(P[I].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t N = recv(P[I].fd, Buf, sizeof Buf, 0);
      if (N <= 0 || send(P[1 - I].fd, Buf, static_cast<size_t>(N), MSG_NOSIGNAL) != N) Done = true;
    }
    if (Done) break;
  }
  Finish();
}
