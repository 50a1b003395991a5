#pragma once
// The frame of the tests' loopback TCP servers: a listener, an accept thread and one thread
// per connection running Serve. A subclass calls StartAccepting at the end of its
// constructor and Stop at the start of its destructor.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TLoopbackServer {
public:
  // An empty IP picks a random free loopback address (see ListenTcpOnFreeAddress).
  TLoopbackServer(const std::string& IP, int Port, int Backlog = 64);
  virtual ~TLoopbackServer();
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  const std::string& IP() const { return FIP; }
  int Port() const { return FPort; }
  // Stops listening, shuts every tracked socket down and waits for every connection thread.
  void Stop();

protected:
  void StartAccepting();
  // Runs on the connection's own thread; the socket is closed after it returns.
  virtual void Serve(int Fd) = 0;
  // Another socket of a connection (a relay target) that Stop must shut down as well.
  void Track(int Fd);
  void Untrack(int Fd);
  bool Stopping() const { return FStopping; }

private:
  void AcceptLoop();

  std::string FIP;
  int FPort = 0;
  int FListenFd = -1;
  std::atomic<bool> FStopping{false};
  std::mutex FLock;
  std::vector<int> FFds;
  std::vector<std::thread> FThreads;
  std::thread FAcceptThread;
};
