#pragma once
// A loopback listener that accepts every connection, reads what comes and never writes a
// byte: a proxy or server that has taken the connection and then stalls.
#include <atomic>

#include "support/LoopbackServer.h"

class TSilentServer : public TLoopbackServer {
public:
  TSilentServer();
  ~TSilentServer() override;
  TSilentServer(const TSilentServer&) = delete;
  TSilentServer& operator=(const TSilentServer&) = delete;

  int Connections() const { return FConnections; }
  // Waits until Count clients have hung up (the server never closes a connection itself).
  bool WaitClosed(int Count, int TimeoutMs) const;

private:
  void Serve(int Fd) override;

  std::atomic<int> FConnections{0};
  std::atomic<int> FClosed{0};
};
