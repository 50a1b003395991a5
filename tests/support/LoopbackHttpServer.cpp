#include "support/LoopbackHttpServer.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {
bool SendAll(int Fd, const char* Data, size_t Size) {
  while (Size > 0) {
    const ssize_t N = send(Fd, Data, Size, MSG_NOSIGNAL);
    if (N <= 0) return false;
    Data += N;
    Size -= static_cast<size_t>(N);
  }
  return true;
}
}  // namespace

TLoopbackHttpServer::TLoopbackHttpServer() : TLoopbackServer("127.0.0.1", 0) { StartAccepting(); }

TLoopbackHttpServer::~TLoopbackHttpServer() {
  {
    std::lock_guard<std::mutex> G(FLock);
    FClosing = true;
  }
  FChanged.notify_all();
  Stop();
}

void TLoopbackHttpServer::Answer(const std::string& Path, const THttpAnswer& A) {
  std::lock_guard<std::mutex> G(FLock);
  FAnswers[Path] = A;
}

std::string TLoopbackHttpServer::URL(const std::string& Path) const {
  return "http://" + IP() + ":" + std::to_string(Port()) + Path;
}

int TLoopbackHttpServer::Requests(const std::string& Path) {
  std::lock_guard<std::mutex> G(FLock);
  return FRequests[Path];
}

void TLoopbackHttpServer::Release() {
  {
    std::lock_guard<std::mutex> G(FLock);
    FReleased = true;
  }
  FChanged.notify_all();
}

bool TLoopbackHttpServer::WaitReleased() {
  std::unique_lock<std::mutex> G(FLock);
  FChanged.wait(G, [this] { return FReleased || FClosing; });
  return !FClosing;
}

// One request per connection: the request line and headers, then the answer and close.
void TLoopbackHttpServer::Serve(int Fd) {
  std::string Request;
  char Buf[4096];
  while (Request.find("\r\n\r\n") == std::string::npos) {
    const ssize_t N = recv(Fd, Buf, sizeof Buf, 0);
    if (N <= 0) return;
    Request.append(Buf, static_cast<size_t>(N));
  }
  const size_t Sp1 = Request.find(' '), Sp2 = Request.find(' ', Sp1 + 1);
  if (Sp1 == std::string::npos || Sp2 == std::string::npos) return;
  const std::string Path = Request.substr(Sp1 + 1, Sp2 - Sp1 - 1);
  THttpAnswer A;
  bool Known;
  {
    std::lock_guard<std::mutex> G(FLock);
    ++FRequests[Path];
    auto It = FAnswers.find(Path);
    Known = It != FAnswers.end();
    if (Known) A = It->second;
  }
  if (!Known) {
    A.Status = 404;
    A.Reason = "Not Found";
    A.Body = "no such file\n";
  }
  if (A.HoldBeforeHeaders && !WaitReleased()) return;
  const int64_t Length = A.Announced >= 0 ? A.Announced : static_cast<int64_t>(A.Body.size());
  const std::string Head = "HTTP/1.1 " + std::to_string(A.Status) + " " + A.Reason +
                           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                           std::to_string(Length) + "\r\nConnection: close\r\n\r\n";
  if (!SendAll(Fd, Head.data(), Head.size())) return;
  size_t First = A.Body.size();
  if (A.HoldAfter >= 0 && static_cast<size_t>(A.HoldAfter) < First) First = static_cast<size_t>(A.HoldAfter);
  if (!SendAll(Fd, A.Body.data(), First)) return;
  if (First < A.Body.size()) {
    if (!WaitReleased()) return;
    SendAll(Fd, A.Body.data() + First, A.Body.size() - First);
  }
  shutdown(Fd, SHUT_WR);
}
