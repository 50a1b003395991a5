#pragma once
// A small SOCKS 4 and 4A server on loopback (no Debian package speaks 4A). It takes one
// CONNECT per connection, resolves a 4A host name itself (IP literals and "localhost"
// only, so no test reaches the machine's resolver) and relays bytes both ways.
#include <mutex>
#include <string>
#include <vector>

#include "support/LoopbackServer.h"

class TSocks4aServer : public TLoopbackServer {
public:
  TSocks4aServer();
  ~TSocks4aServer();
  TSocks4aServer(const TSocks4aServer&) = delete;
  TSocks4aServer& operator=(const TSocks4aServer&) = delete;

  // "host:port" of every request, the host as the client sent it (a name for 4A, the
  // address for 4), with "4A " or "4 " in front.
  std::vector<std::string> Requests() const;

private:
  void Serve(int Fd) override;

  mutable std::mutex FLock;
  std::vector<std::string> FRequests;
};
