#include "engine/net/TcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/net/SocketErrors.h"

namespace {
int OpenListener(const TSocketBinding& B, bool Reuse, decltype(TTcpServer::BindSocket) Bind, int& BoundPort) {
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(static_cast<uint16_t>(B.Port));
  if (B.IP.empty()) {
    A.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (inet_pton(AF_INET, B.IP.c_str(), &A.sin_addr) != 1) {
    throw ESocketBindError(EADDRNOTAVAIL);
  }
  if (B.Port < 0 || B.Port > 65535) throw ESocketBindError(EINVAL);
  // Non-blocking, so that an accept after poll never hangs on a connection the client reset.
  const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (Fd < 0) throw ESocketError(std::string("Socket Error # ") + std::to_string(errno) + " " + std::strerror(errno), errno);
  const int One = 1;
  if (Reuse) setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
  if (Bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) < 0) {
    const int E = errno;
    close(Fd);
    throw ESocketBindError(E);
  }
  if (listen(Fd, SOMAXCONN) < 0) {
    const int E = errno;
    close(Fd);
    throw ESocketError(std::string("Socket Error # ") + std::to_string(E) + " " + std::strerror(E), E);
  }
  socklen_t Len = sizeof A;
  getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len);
  BoundPort = ntohs(A.sin_port);
  return Fd;
}
}  // namespace

TTcpServer::~TTcpServer() {
  // Subclasses deactivate in their own destructor so that no thread runs their overrides
  // while they are torn down; this is the last safety net.
  SetActive(false);
}

void TTcpServer::SetActive(bool Value) {
  std::lock_guard<std::mutex> Lock(FActiveLock);
  if (Value == FActive) return;
  if (Value)
    Activate();
  else
    Deactivate();
}

void TTcpServer::Activate() {
  std::vector<TSocketBinding> List = Bindings;
  if (List.empty()) List.push_back({std::string(), DefaultPort});
  std::vector<TListener> Opened;
  try {
    for (const auto& B : List) {
      TListener L;
      L.Fd = OpenListener(B, ReuseSocket, BindSocket, L.Port);
      Opened.push_back(std::move(L));
    }
    FWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWakeFd < 0) throw ESocketError("eventfd failed", errno);
  } catch (...) {
    for (auto& L : Opened) close(L.Fd);
    throw;
  }
  FStopping = false;
  FListeners = std::move(Opened);
  try {
    for (auto& L : FListeners) L.Thread = std::thread(&TTcpServer::ListenLoop, this, L.Fd);
  } catch (...) {
    FActive = true;
    Deactivate();
    throw ESocketError("Could not start a listener thread");
  }
  FActive = true;
}

void TTcpServer::Deactivate() {
  FStopping = true;
  const uint64_t One = 1;
  [[maybe_unused]] const ssize_t W = write(FWakeFd, &One, sizeof One);  // cannot fail: counter far from full
  for (auto& L : FListeners)
    if (L.Thread.joinable()) L.Thread.join();
  for (auto& L : FListeners) close(L.Fd);
  FListeners.clear();
  close(FWakeFd);
  FWakeFd = -1;
  // No listener runs any more, so the peer list only shrinks from here on.
  std::list<std::unique_ptr<TPeer>> Peers;
  {
    std::lock_guard<std::mutex> Lock(FPeersLock);
    for (auto& P : FPeers) P->Connection->Disconnect();
    Peers.swap(FPeers);
  }
  for (auto& P : Peers)
    if (P->Thread.joinable()) P->Thread.join();
  FActive = false;
}

std::vector<int> TTcpServer::BoundPorts() const {
  std::vector<int> R;
  for (const auto& L : FListeners) R.push_back(L.Port);
  return R;
}

size_t TTcpServer::ConnectionCount() const {
  std::lock_guard<std::mutex> Lock(FPeersLock);
  size_t N = 0;
  for (const auto& P : FPeers)
    if (!P->Done) ++N;
  return N;
}

void TTcpServer::ReapFinished() {
  std::list<std::unique_ptr<TPeer>> Finished;
  {
    std::lock_guard<std::mutex> Lock(FPeersLock);
    for (auto It = FPeers.begin(); It != FPeers.end();) {
      if ((*It)->Done) {
        auto Next = std::next(It);
        Finished.splice(Finished.end(), FPeers, It);
        It = Next;
      } else {
        ++It;
      }
    }
  }
  for (auto& P : Finished)
    if (P->Thread.joinable()) P->Thread.join();
}

void TTcpServer::ListenLoop(int ListenFd) {
  pollfd P[2] = {{ListenFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
  while (!FStopping) {
    const int R = poll(P, 2, 1000);
    if (FStopping) break;
    if (R <= 0) {
      ReapFinished();
      continue;
    }
    if (!(P[0].revents & POLLIN)) continue;
    const int Fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (Fd < 0) {
      // Out of descriptors or memory: back off instead of spinning on the pending connection.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) poll(nullptr, 0, 50);
      continue;
    }
    ReapFinished();
    auto Peer = std::make_unique<TPeer>();
    Peer->Connection = std::make_unique<TTcpConnection>(Fd);
    TPeer* Raw = Peer.get();
    std::lock_guard<std::mutex> Lock(FPeersLock);
    try {
      Peer->Thread = std::thread(&TTcpServer::RunPeer, this, Raw);
    } catch (...) {
      continue;  // no thread to serve it: the connection is closed with Peer
    }
    FPeers.push_back(std::move(Peer));
  }
}

void TTcpServer::RunPeer(TPeer* Peer) {
  TTcpConnection& C = *Peer->Connection;
  std::unique_ptr<TPeerThread> Thread;
  try {
    Thread = CreatePeerThread(C);
  } catch (...) {
  }
  if (Thread) {
    try {
      DoConnect(*Thread);
      while (C.Connected() && !Thread->Terminated && !FStopping) DoExecute(*Thread);
    } catch (...) {
      // A failed read or write, or a handler that raised: this connection ends here.
    }
    try {
      FinishConnection(*Thread);
    } catch (...) {
    }
    try {
      Thread.reset();
    } catch (...) {
    }
  }
  C.Disconnect();
  Peer->Done = true;
}

std::unique_ptr<TPeerThread> TTcpServer::CreatePeerThread(TTcpConnection& Connection) {
  return std::make_unique<TPeerThread>(Connection);
}

void TTcpServer::DoConnect(TPeerThread& Thread) {
  if (OnConnect) OnConnect(Thread);
}

void TTcpServer::FinishConnection(TPeerThread& Thread) {
  if (Thread.FDisconnectFired) return;
  Thread.FDisconnectFired = true;
  DoDisconnect(Thread);
}

void TTcpServer::DoDisconnect(TPeerThread& Thread) {
  if (OnDisconnect) OnDisconnect(Thread);
}

void TTcpServer::DoExecute(TPeerThread& Thread) { Thread.Connection.ReadLn(); }
