#pragma once
// Small socket helpers of the tests' loopback peers.
#include <string>
#include <vector>

// A listening TCP socket on IP:Port (Port 0: a free one, written to *BoundPort). Throws
// std::runtime_error when it cannot listen.
int ListenTcp(const std::string& IP, int Port, int* BoundPort = nullptr, int Backlog = 64);
// Listens on Port of a random free loopback address 127.a.b.c (a not 0, so never one of
// 127.0.0.x), written to IP: tests that run at the same time never meet on a fixed port.
int ListenTcpOnFreeAddress(int Port, std::string& IP, int* BoundPort = nullptr, int Backlog = 64);
// A loopback TCP port that was free a moment ago.
int FreeLoopbackPort(const std::string& IP = "127.0.0.1");
// Waits until something accepts connections on IP:Port.
bool WaitForListener(const std::string& IP, int Port, int TimeoutMs);

// A loopback port whose listener never accepts, its queue filled: a connection attempt to
// it waits for the system to give up, minutes later, unless something cuts it short.
class TUnansweredPort {
public:
  TUnansweredPort();
  ~TUnansweredPort();
  TUnansweredPort(const TUnansweredPort&) = delete;
  TUnansweredPort& operator=(const TUnansweredPort&) = delete;
  int Port() const { return FPort; }

private:
  int FListener = -1;
  int FPort = 0;
  std::vector<int> FFillers;
};
