#include "support/LoopbackServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "support/LoopbackSockets.h"

TLoopbackServer::TLoopbackServer(const std::string& IP, int Port, int Backlog) : FIP(IP) {
  FListenFd = IP.empty() ? ListenTcpOnFreeAddress(Port, FIP, &FPort, Backlog) : ListenTcp(IP, Port, &FPort, Backlog);
}

TLoopbackServer::~TLoopbackServer() {
  Stop();
  close(FListenFd);
}

void TLoopbackServer::StartAccepting() { FAcceptThread = std::thread([this] { AcceptLoop(); }); }

void TLoopbackServer::Stop() {
  if (FStopping.exchange(true)) return;
  if (FAcceptThread.joinable()) FAcceptThread.join();
  {
    std::lock_guard<std::mutex> G(FLock);
    for (int Fd : FFds) shutdown(Fd, SHUT_RDWR);
  }
  for (auto& T : FThreads) T.join();
}

void TLoopbackServer::Track(int Fd) {
  std::lock_guard<std::mutex> G(FLock);
  FFds.push_back(Fd);
  if (FStopping) shutdown(Fd, SHUT_RDWR);
}

void TLoopbackServer::Untrack(int Fd) {
  std::lock_guard<std::mutex> G(FLock);
  FFds.erase(std::remove(FFds.begin(), FFds.end(), Fd), FFds.end());
}

void TLoopbackServer::AcceptLoop() {
  while (!FStopping) {
    pollfd P{FListenFd, POLLIN, 0};
    if (poll(&P, 1, 50) <= 0) continue;
    const int Fd = accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (Fd < 0) continue;
    Track(Fd);
    std::lock_guard<std::mutex> G(FLock);
    FThreads.emplace_back([this, Fd] {
      Serve(Fd);
      Untrack(Fd);
      close(Fd);
    });
  }
}
