#pragma once
// Outgoing TCP connections, straight or through a SOCKS 4, 4A or 5 proxy. libcurl does the
// connecting (and the proxy hand-shake) in connect-only mode; the caller gets the connected
// socket and talks over it itself.
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>

#include "engine/settings/VexaBase.h"

class EConnectError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TOutgoingConnector {
public:
  TOutgoingConnector();
  ~TOutgoingConnector();
  TOutgoingConnector(const TOutgoingConnector&) = delete;
  TOutgoingConnector& operator=(const TOutgoingConnector&) = delete;

  // Connects to Host:Port and returns the connected socket (blocking mode; the caller owns
  // it). Raises EConnectError with libcurl's message when the attempt fails, and when
  // Abort becomes true or Cancel is called while it runs. The TCP connect has no time-out
  // of our own: it lasts until the system (or, for a host name without a proxy, libcurl's
  // connect limit) gives up. Through a proxy, each of the proxy's replies is a read like
  // the server's: it must come within ReadTimeoutMs (0 or less: no limit).
  int Connect(const std::string& Host, int Port, const TSocksInfo& Socks, int ReadTimeoutMs,
              const std::atomic<bool>& Abort);

  // Wakes a Connect running on another thread so that it looks at its Abort flag at once.
  void Cancel();

private:
  // Connects to Host when it is an IP literal; -1 for a host name.
  int ConnectToAddress(const std::string& Host, int Port, const std::atomic<bool>& Abort);

  std::mutex FLock;
  void* FMulti = nullptr;  // the multi handle of the running attempt, guarded by FLock
  bool FCancelled = false;
  int FWakeFd = -1;  // Cancel wakes a plain connect through it
};
