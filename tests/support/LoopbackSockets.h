#pragma once
// Small socket helpers of the tests' loopback peers.
#include <string>

// A listening TCP socket on IP:Port (Port 0: a free one, written to *BoundPort). Throws
// std::runtime_error when it cannot listen.
int ListenTcp(const std::string& IP, int Port, int* BoundPort = nullptr, int Backlog = 64);
// A loopback TCP port that was free a moment ago.
int FreeLoopbackPort(const std::string& IP = "127.0.0.1");
// Waits until something accepts connections on IP:Port.
bool WaitForListener(const std::string& IP, int Port, int TimeoutMs);
