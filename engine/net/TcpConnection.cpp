#include "engine/net/TcpConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "engine/net/SocketErrors.h"

namespace {
constexpr size_t ReadChunk = 16384;

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ESocketError ErrnoError(int Code) {
  return ESocketError(std::string("Socket Error # ") + std::to_string(Code) + " " + std::strerror(Code), Code);
}

struct TAddrInfoList {
  addrinfo* List = nullptr;
  ~TAddrInfoList() {
    if (List) freeaddrinfo(List);
  }
};

// Waits until a connect in progress on Fd is finished; 0 when connected, else the errno.
int FinishConnect(int Fd, int TimeoutMs) {
  pollfd P{Fd, POLLOUT, 0};
  for (;;) {
    const int R = poll(&P, 1, TimeoutMs);
    if (R < 0 && errno == EINTR) continue;
    if (R == 0) return ETIMEDOUT;
    if (R < 0) return errno;
    break;
  }
  int Err = 0;
  socklen_t Len = sizeof Err;
  if (getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Err, &Len) < 0) return errno;
  return Err;
}
}  // namespace

std::string SockAddrToIP(const void* SockAddr, int* Port) {
  const auto* Sa = static_cast<const sockaddr*>(SockAddr);
  char Buf[INET6_ADDRSTRLEN] = {};
  if (Sa->sa_family == AF_INET) {
    const auto* S4 = static_cast<const sockaddr_in*>(SockAddr);
    inet_ntop(AF_INET, &S4->sin_addr, Buf, sizeof Buf);
    if (Port) *Port = ntohs(S4->sin_port);
  } else if (Sa->sa_family == AF_INET6) {
    const auto* S6 = static_cast<const sockaddr_in6*>(SockAddr);
    if (IN6_IS_ADDR_V4MAPPED(&S6->sin6_addr))
      inet_ntop(AF_INET, reinterpret_cast<const char*>(&S6->sin6_addr) + 12, Buf, sizeof Buf);
    else
      inet_ntop(AF_INET6, &S6->sin6_addr, Buf, sizeof Buf);
    if (Port) *Port = ntohs(S6->sin6_port);
  } else if (Port) {
    *Port = 0;
  }
  return Buf;
}

TTcpConnection::TTcpConnection(int Fd) : FFd(Fd) {
  const int One = 1;
  // Replies are small and often follow each other (EHLO's two lines): no Nagle delay.
  setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
  sockaddr_storage A{};
  socklen_t Len = sizeof A;
  if (getpeername(FFd, reinterpret_cast<sockaddr*>(&A), &Len) == 0) FPeerIP = SockAddrToIP(&A, &FPeerPort);
  Len = sizeof A;
  if (getsockname(FFd, reinterpret_cast<sockaddr*>(&A), &Len) == 0) FLocalIP = SockAddrToIP(&A, &FLocalPort);
}

TTcpConnection::~TTcpConnection() {
  if (FFd >= 0) close(FFd);
}

std::unique_ptr<TTcpConnection> TTcpConnection::Connect(const std::string& Host, int Port, int TimeoutMs,
                                                        const std::string& SourceIP) {
  addrinfo Hints{};
  Hints.ai_family = AF_UNSPEC;
  Hints.ai_socktype = SOCK_STREAM;
  Hints.ai_flags = AI_NUMERICSERV;
  TAddrInfoList Res;
  const std::string PortText = std::to_string(Port);
  const int G = getaddrinfo(Host.c_str(), PortText.c_str(), &Hints, &Res.List);
  if (G != 0) throw ESocketError(std::string("Host not found: ") + Host + " (" + gai_strerror(G) + ")");
  TAddrInfoList Src;
  if (!SourceIP.empty()) {
    addrinfo SH{};
    SH.ai_socktype = SOCK_STREAM;
    SH.ai_flags = AI_NUMERICHOST;
    if (getaddrinfo(SourceIP.c_str(), nullptr, &SH, &Src.List) != 0)
      throw ESocketError("Invalid source address: " + SourceIP);
  }
  int LastErr = ECONNREFUSED;
  for (addrinfo* A = Res.List; A; A = A->ai_next) {
    if (Src.List && Src.List->ai_family != A->ai_family) continue;
    const int Fd = socket(A->ai_family, A->ai_socktype | SOCK_CLOEXEC, A->ai_protocol);
    if (Fd < 0) {
      LastErr = errno;
      continue;
    }
    if (Src.List && bind(Fd, Src.List->ai_addr, Src.List->ai_addrlen) < 0) {
      LastErr = errno;
      close(Fd);
      continue;
    }
    int Err = 0;
    if (TimeoutMs < 0) {
      while (connect(Fd, A->ai_addr, A->ai_addrlen) < 0) {
        if (errno == EINTR) continue;
        Err = errno;
        break;
      }
      // A connect interrupted by a signal goes on in the background.
      if (Err == EINPROGRESS || Err == EALREADY) Err = FinishConnect(Fd, -1);
    } else {
      const int Flags = fcntl(Fd, F_GETFL);
      fcntl(Fd, F_SETFL, Flags | O_NONBLOCK);
      if (connect(Fd, A->ai_addr, A->ai_addrlen) < 0) {
        Err = errno;
        if (Err == EINPROGRESS || Err == EINTR) Err = FinishConnect(Fd, TimeoutMs);
      }
      fcntl(Fd, F_SETFL, Flags);
    }
    if (Err == 0) return std::make_unique<TTcpConnection>(Fd);
    LastErr = Err;
    close(Fd);
  }
  throw ErrnoError(LastErr);
}

void TTcpConnection::FillBuffer(long long DeadlineMs) {
  for (;;) {
    if (FClosed) throw EConnectionClosed();
    int Wait = -1;
    if (DeadlineMs >= 0) {
      const long long Left = DeadlineMs - NowMs();
      if (Left <= 0) throw EReadTimeout();
      Wait = static_cast<int>(Left);
    }
    pollfd P{FFd, POLLIN, 0};
    const int R = poll(&P, 1, Wait);
    if (R < 0) {
      if (errno == EINTR) continue;
      FClosed = true;
      throw ErrnoError(errno);
    }
    if (R == 0) continue;  // the deadline check above raises
    const size_t Old = FBuf.size();
    FBuf.resize(Old + ReadChunk);
    const ssize_t N = recv(FFd, FBuf.data() + Old, ReadChunk, 0);
    if (N < 0) {
      FBuf.resize(Old);
      if (errno == EINTR || errno == EAGAIN) continue;
      FClosed = true;
      throw ErrnoError(errno);
    }
    FBuf.resize(Old + static_cast<size_t>(N));
    if (N == 0) {
      FClosed = true;
      throw EConnectionClosed();
    }
    return;
  }
}

std::string TTcpConnection::ReadLn(int TimeoutMs) {
  if (FOverLong) throw ELineTooLong();
  const long long Deadline = TimeoutMs < 0 ? -1 : NowMs() + TimeoutMs;
  for (;;) {
    const size_t Lf = FBuf.find('\n', FScan);
    if (Lf != std::string::npos) {
      size_t End = Lf;
      if (End > FPos && FBuf[End - 1] == '\r') --End;
      if (End - FPos > MaxLineLength) break;
      FLastCRLF = End != Lf;
      std::string Line = FBuf.substr(FPos, End - FPos);
      FPos = FScan = Lf + 1;
      if (FPos == FBuf.size()) {
        FBuf.clear();
        FPos = FScan = 0;
      } else if (FPos >= ReadChunk) {
        FBuf.erase(0, FPos);
        FScan -= FPos;
        FPos = 0;
      }
      return Line;
    }
    FScan = FBuf.size();
    // A CR may still precede the LF, hence the one extra byte.
    if (FBuf.size() - FPos > MaxLineLength + 1) break;
    FillBuffer(Deadline);
  }
  FOverLong = true;
  FBuf.clear();
  FBuf.shrink_to_fit();
  FPos = FScan = 0;
  throw ELineTooLong();
}

void TTcpConnection::WriteLn(const std::string& S) {
  std::string Out;
  Out.reserve(S.size() + 2);
  Out += S;
  Out += "\r\n";
  Write(Out.data(), Out.size());
}

void TTcpConnection::Write(const std::string& Data) { Write(Data.data(), Data.size()); }

void TTcpConnection::Write(const char* Data, size_t Len) {
  while (Len > 0) {
    if (FClosed) throw EConnectionClosed();
    const ssize_t N = send(FFd, Data, Len, MSG_NOSIGNAL);
    if (N < 0) {
      if (errno == EINTR) continue;
      const int E = errno;
      FClosed = true;
      if (E == EPIPE || E == ECONNRESET) throw EConnectionClosed();
      throw ErrnoError(E);
    }
    Data += N;
    Len -= static_cast<size_t>(N);
  }
}

bool TTcpConnection::WaitForEnd(int TimeoutMs) {
  const long long Deadline = NowMs() + TimeoutMs;
  for (;;) {
    if (FClosed) return true;
    const long long Left = Deadline - NowMs();
    if (Left <= 0) return false;
    // Only a hang-up wakes us (POLLHUP and POLLERR always do): a shut-down socket reports
    // both sides closed, a peer's FIN POLLRDHUP.
    pollfd P{FFd, POLLRDHUP, 0};
    const int R = poll(&P, 1, static_cast<int>(Left));
    if (R < 0 && errno != EINTR) return true;
    if (R > 0) return true;
  }
}

void TTcpConnection::Disconnect() {
  FClosed = true;
  // shutdown, not close: a read blocked in another thread wakes up, and the descriptor
  // cannot be reused under it before the destructor closes it.
  shutdown(FFd, SHUT_RDWR);
}
