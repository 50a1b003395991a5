#include "support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

int ListenTcp(const std::string& IP, int Port, int* BoundPort, int Backlog) {
  const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Fd < 0) throw std::runtime_error("socket failed");
  const int One = 1;
  setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(static_cast<uint16_t>(Port));
  if (inet_pton(AF_INET, IP.c_str(), &A.sin_addr) != 1 || bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 ||
      listen(Fd, Backlog) != 0) {
    close(Fd);
    throw std::runtime_error("cannot listen on " + IP + ":" + std::to_string(Port));
  }
  socklen_t L = sizeof A;
  getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &L);
  if (BoundPort) *BoundPort = ntohs(A.sin_port);
  return Fd;
}

int ListenTcpOnFreeAddress(int Port, std::string& IP, int* BoundPort, int Backlog) {
  static std::mt19937 Random(std::random_device{}());
  for (int Try = 0; Try < 200; ++Try) {
    const std::string Candidate = "127." + std::to_string(1 + Random() % 254) + "." + std::to_string(Random() % 256) +
                                  "." + std::to_string(1 + Random() % 254);
    try {
      const int Fd = ListenTcp(Candidate, Port, BoundPort, Backlog);
      IP = Candidate;
      return Fd;
    } catch (const std::runtime_error&) {
    }
  }
  throw std::runtime_error("no free loopback address for port " + std::to_string(Port));
}

int FreeLoopbackPort(const std::string& IP) {
  int Port = 0;
  close(ListenTcp(IP, 0, &Port));
  return Port;
}

bool WaitForListener(const std::string& IP, int Port, int TimeoutMs) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (std::chrono::steady_clock::now() < End) {
    const int Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<uint16_t>(Port));
    inet_pton(AF_INET, IP.c_str(), &A.sin_addr);
    const bool Ok = connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0;
    close(Fd);
    if (Ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TUnansweredPort::TUnansweredPort() {
  FListener = ListenTcp("127.0.0.1", 0, &FPort, 0);
  for (int I = 0; I < 4; ++I) {
    FFillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<uint16_t>(FPort));
    inet_pton(AF_INET, "127.0.0.1", &A.sin_addr);
    connect(FFillers.back(), reinterpret_cast<sockaddr*>(&A), sizeof A);
  }
}

TUnansweredPort::~TUnansweredPort() {
  for (int Fd : FFillers) close(Fd);
  close(FListener);
}
