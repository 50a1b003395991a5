#include "support/SilentServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

TSilentServer::TSilentServer() : TLoopbackServer("127.0.0.1", 0) { StartAccepting(); }

TSilentServer::~TSilentServer() { Stop(); }

void TSilentServer::Serve(int Fd) {
  ++FConnections;
  while (!Stopping()) {
    pollfd P{Fd, POLLIN, 0};
    if (poll(&P, 1, 50) <= 0) continue;
    char Buf[512];
    if (recv(Fd, Buf, sizeof Buf, 0) <= 0) {
      ++FClosed;
      return;
    }
  }
}

bool TSilentServer::WaitClosed(int Count, int TimeoutMs) const {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (FClosed < Count) {
    if (std::chrono::steady_clock::now() >= End) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
