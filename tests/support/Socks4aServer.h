#pragma once
// A small SOCKS 4 and 4A server on loopback (no Debian package speaks 4A). It takes one
// CONNECT per connection, resolves a 4A host name itself (IP literals and "localhost"
// only, so no test reaches the machine's resolver) and relays bytes both ways.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TSocks4aServer {
public:
  TSocks4aServer();
  ~TSocks4aServer();
  TSocks4aServer(const TSocks4aServer&) = delete;
  TSocks4aServer& operator=(const TSocks4aServer&) = delete;

  int Port() const { return FPort; }
  // "host:port" of every request, the host as the client sent it (a name for 4A, the
  // address for 4), with "4A " or "4 " in front.
  std::vector<std::string> Requests() const;
  void Stop();

private:
  void AcceptLoop();
  void Serve(int Fd);

  int FListenFd = -1;
  int FPort = 0;
  std::atomic<bool> FStopping{false};
  mutable std::mutex FLock;
  std::vector<std::string> FRequests;
  std::vector<int> FFds;
  std::vector<std::thread> FThreads;
  std::thread FAcceptThread;
};
