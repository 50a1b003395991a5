#pragma once
// A multi-threaded TCP server: one listening socket per binding (address reuse on), one
// listener thread per binding, one thread per accepted connection. A subclass runs the
// dialogue in DoExecute; the connection's thread object holds its state.
//
// Deactivating closes the listeners, shuts down every open connection (which wakes any
// read blocked in a connection thread) and joins every thread before it returns. An
// exception escaping a connection's handlers ends that connection only.
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/net/TcpConnection.h"

struct TSocketBinding {
  std::string IP;  // "" or "0.0.0.0": every local IPv4 address
  int Port = 0;
};

// The state of one accepted connection, alive while its thread runs.
class TPeerThread {
public:
  explicit TPeerThread(TTcpConnection& Connection) : Connection(Connection) {}
  virtual ~TPeerThread() = default;
  TPeerThread(const TPeerThread&) = delete;
  TPeerThread& operator=(const TPeerThread&) = delete;

  TTcpConnection& Connection;
  // Set by a handler to end the connection once the current call returns. The socket is
  // closed after the disconnect event, so the peer sees the end only when that has run.
  bool Terminated = false;

private:
  friend class TTcpServer;
  bool FDisconnectFired = false;
};

class TTcpServer {
public:
  using TPeerEvent = std::function<void(TPeerThread& Thread)>;

  TTcpServer() = default;
  virtual ~TTcpServer();
  TTcpServer(const TTcpServer&) = delete;
  TTcpServer& operator=(const TTcpServer&) = delete;

  // Used when Bindings is empty: every local IPv4 address at this port.
  int DefaultPort = 0;
  std::vector<TSocketBinding> Bindings;
  bool ReuseSocket = true;
  // The system's bind for the listening sockets; a test puts a failing one in its place.
  int (*BindSocket)(int Fd, const sockaddr* Address, socklen_t Length) = ::bind;
  // Fired on the connection's thread when it starts and when it ends.
  TPeerEvent OnConnect;
  TPeerEvent OnDisconnect;

  // Activating binds and listens on every binding (raising ESocketBindError or ESocketError
  // with nothing left open on failure); deactivating waits for every thread.
  void SetActive(bool Value);
  bool Active() const { return FActive; }
  // The ports actually bound, in binding order (port 0 asks the system for one).
  std::vector<int> BoundPorts() const;
  // Connections whose thread is running.
  size_t ConnectionCount() const;

protected:
  virtual std::unique_ptr<TPeerThread> CreatePeerThread(TTcpConnection& Connection);
  // Fires OnConnect.
  virtual void DoConnect(TPeerThread& Thread);
  // Fires OnDisconnect.
  virtual void DoDisconnect(TPeerThread& Thread);
  // Runs DoDisconnect now rather than when the connection's thread ends (once either way):
  // for a handler that gives its last reply after the connection's resources are released.
  void FinishConnection(TPeerThread& Thread);
  // Called again and again while the connection is open; the default does nothing but wait
  // for the connection to end.
  virtual void DoExecute(TPeerThread& Thread);

private:
  struct TListener {
    int Fd = -1;
    int Port = 0;
    std::thread Thread;
  };
  struct TPeer {
    std::unique_ptr<TTcpConnection> Connection;
    std::thread Thread;
    std::atomic<bool> Done{false};
  };

  void Activate();
  void Deactivate();
  void ListenLoop(int ListenFd);
  void RunPeer(TPeer* Peer);
  void ReapFinished();

  std::mutex FActiveLock;  // Activate / Deactivate
  bool FActive = false;
  std::atomic<bool> FStopping{false};
  int FWakeFd = -1;  // eventfd that wakes the listeners
  std::vector<TListener> FListeners;
  mutable std::mutex FPeersLock;
  std::list<std::unique_ptr<TPeer>> FPeers;
};
