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

TSocks4aServer::TSocks4aServer() {
  FListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(FListenFd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || listen(FListenFd, 16) != 0)
    throw std::runtime_error("SOCKS 4A server cannot listen");
  socklen_t L = sizeof A;
  getsockname(FListenFd, reinterpret_cast<sockaddr*>(&A), &L);
  FPort = ntohs(A.sin_port);
  FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TSocks4aServer::~TSocks4aServer() { Stop(); }

void TSocks4aServer::Stop() {
  if (FStopping.exchange(true)) return;
  if (FAcceptThread.joinable()) FAcceptThread.join();
  close(FListenFd);
  {
    std::lock_guard<std::mutex> G(FLock);
    for (int Fd : FFds) shutdown(Fd, SHUT_RDWR);
  }
  for (auto& T : FThreads) T.join();
}

std::vector<std::string> TSocks4aServer::Requests() const {
  std::lock_guard<std::mutex> G(FLock);
  return FRequests;
}

void TSocks4aServer::AcceptLoop() {
  while (!FStopping) {
    pollfd P{FListenFd, POLLIN, 0};
    if (poll(&P, 1, 50) <= 0) continue;
    const int Fd = accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (Fd < 0) continue;
    std::lock_guard<std::mutex> G(FLock);
    FFds.push_back(Fd);
    FThreads.emplace_back([this, Fd] { Serve(Fd); });
  }
}

void TSocks4aServer::Serve(int Fd) {
  int Target = -1;
  auto Finish = [&] {
    std::lock_guard<std::mutex> G(FLock);
    FFds.erase(std::remove(FFds.begin(), FFds.end(), Fd), FFds.end());
    FFds.erase(std::remove(FFds.begin(), FFds.end(), Target), FFds.end());
    close(Fd);
    if (Target >= 0) close(Target);
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
  {
    std::lock_guard<std::mutex> G(FLock);
    Target = T;
    FFds.push_back(T);
  }
  Reply(Fd, 90);
  pollfd P[2] = {{Fd, POLLIN, 0}, {T, POLLIN, 0}};
  char Buf[16384];
  while (!FStopping) {
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
