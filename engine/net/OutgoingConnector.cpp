#include "engine/net/OutgoingConnector.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {
void GlobalInit() {
  static std::once_flag Once;
  std::call_once(Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string UrlHost(const std::string& Host) {
  // An IPv6 literal needs brackets inside a URL.
  if (Host.find(':') != std::string::npos && (Host.empty() || Host.front() != '[')) return "[" + Host + "]";
  return Host;
}

// Host names reach us from DNS answers and recipient addresses. Inside the URL that libcurl
// is given, characters such as "@", "/", "#" or a colon would pick another host or port
// than the one named, so a name holding them is refused.
bool UsableHost(const std::string& Host) {
  if (Host.empty()) return false;
  if (Host.find(':') != std::string::npos) {
    in6_addr A;
    const bool Bracketed = Host.size() > 2 && Host.front() == '[' && Host.back() == ']';
    const std::string Bare = Bracketed ? Host.substr(1, Host.size() - 2) : Host;
    return inet_pton(AF_INET6, Bare.c_str(), &A) == 1;
  }
  for (const unsigned char C : Host)
    if (C <= ' ' || C == 0x7f || C == '@' || C == '/' || C == '\\' || C == '?' || C == '#' || C == '%' || C == '[' ||
        C == ']')
      return false;
  return true;
}

std::string ProxyUrl(const TSocksInfo& Socks) {
  const char* Scheme = nullptr;
  switch (Socks.Version) {
    case TSocksVersion::svSocks4: Scheme = "socks4://"; break;
    case TSocksVersion::svSocks4A: Scheme = "socks4a://"; break;
    case TSocksVersion::svSocks5: Scheme = "socks5://"; break;
    case TSocksVersion::svNoSocks: return std::string();
  }
  return Scheme + UrlHost(Socks.Host) + ":" + std::to_string(Socks.Port);
}

std::string ConnectFailed(const std::string& Host, int Port, int Err) {
  return "Failed to connect to " + Host + " port " + std::to_string(Port) + ": " + std::strerror(Err);
}

// libcurl runs a proxy's hand-shake inside its connect phase, whose one limit covers the
// whole phase. The watch gives each reply of the proxy a time-out of its own instead: it
// expires once a connection to the proxy has been up for the time-out without a byte from
// it (the kernel counts from the connect or the last data received; a SOCKS client sends
// each request as soon as the reply before it is in, so that is the wait for one reply).
// A socket still connecting is not watched.
class TProxyReplyWatch {
public:
  explicit TProxyReplyWatch(int TimeoutMs) : FTimeoutMs(TimeoutMs) {}
  // libcurl then opens and closes its sockets through the watch, which must outlive Easy.
  void Install(CURL* Easy) {
    curl_easy_setopt(Easy, CURLOPT_OPENSOCKETFUNCTION, &TProxyReplyWatch::Open);
    curl_easy_setopt(Easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(Easy, CURLOPT_CLOSESOCKETFUNCTION, &TProxyReplyWatch::Close);
    curl_easy_setopt(Easy, CURLOPT_CLOSESOCKETDATA, this);
  }
  bool Expired() const {
    if (FTimeoutMs <= 0) return false;
    for (const curl_socket_t Fd : FSockets) {
      tcp_info Info{};
      socklen_t Len = sizeof Info;
      if (getsockopt(Fd, IPPROTO_TCP, TCP_INFO, &Info, &Len) == 0 && Info.tcpi_state == TCP_ESTABLISHED &&
          Info.tcpi_last_data_recv >= static_cast<uint32_t>(FTimeoutMs))
        return true;
    }
    return false;
  }

private:
  // Both run on the thread that drives the transfer.
  static curl_socket_t Open(void* Self, curlsocktype, curl_sockaddr* A) {
    const int Fd = socket(A->family, A->socktype | SOCK_CLOEXEC, A->protocol);
    if (Fd >= 0) static_cast<TProxyReplyWatch*>(Self)->FSockets.push_back(Fd);
    return Fd >= 0 ? Fd : CURL_SOCKET_BAD;
  }
  static int Close(void* Self, curl_socket_t Fd) {
    auto& Sockets = static_cast<TProxyReplyWatch*>(Self)->FSockets;
    Sockets.erase(std::remove(Sockets.begin(), Sockets.end(), Fd), Sockets.end());
    return close(Fd);
  }

  const int FTimeoutMs;
  std::vector<curl_socket_t> FSockets;  // two while the address families race
};

struct TEasyDeleter {
  void operator()(CURL* E) const { curl_easy_cleanup(E); }
};
struct TMultiDeleter {
  void operator()(CURLM* M) const { curl_multi_cleanup(M); }
};
}  // namespace

TOutgoingConnector::TOutgoingConnector() : FWakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TOutgoingConnector::~TOutgoingConnector() {
  if (FWakeFd >= 0) close(FWakeFd);
}

int TOutgoingConnector::ConnectToAddress(const std::string& Host, int Port, const std::atomic<bool>& Abort) {
  const bool Bracketed = Host.size() > 2 && Host.front() == '[' && Host.back() == ']';
  const std::string Bare = Bracketed ? Host.substr(1, Host.size() - 2) : Host;
  addrinfo Hints{};
  Hints.ai_socktype = SOCK_STREAM;
  Hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* List = nullptr;
  if (FWakeFd < 0 || getaddrinfo(Bare.c_str(), std::to_string(Port).c_str(), &Hints, &List) != 0) return -1;
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> Owned(List, &freeaddrinfo);
  const int Fd = socket(List->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (Fd < 0) throw EConnectError(ConnectFailed(Host, Port, errno));
  auto Fail = [&](const std::string& Message) {
    close(Fd);
    throw EConnectError(Message);
  };
  if (connect(Fd, List->ai_addr, List->ai_addrlen) != 0) {
    if (errno != EINPROGRESS) Fail(ConnectFailed(Host, Port, errno));
    for (;;) {
      {
        std::lock_guard<std::mutex> G(FLock);
        if (FCancelled || Abort) Fail("Connection attempt cancelled");
      }
      // Short slices as on the libcurl path; Cancel wakes the wait at once.
      pollfd P[2] = {{Fd, POLLOUT, 0}, {FWakeFd, POLLIN, 0}};
      if (poll(P, 2, 100) < 0 && errno != EINTR) Fail(ConnectFailed(Host, Port, errno));
      if (P[0].revents) break;
    }
    int Err = 0;
    socklen_t Len = sizeof Err;
    if (getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Err, &Len) != 0) Err = errno;
    if (Err != 0) Fail(ConnectFailed(Host, Port, Err));
  }
  const int Flags = fcntl(Fd, F_GETFL);
  if (Flags >= 0) fcntl(Fd, F_SETFL, Flags & ~O_NONBLOCK);
  return Fd;
}

int TOutgoingConnector::Connect(const std::string& Host, int Port, const TSocksInfo& Socks, int ReadTimeoutMs,
                                const std::atomic<bool>& Abort) {
  const auto Started = std::chrono::steady_clock::now();
  GlobalInit();
  if (!UsableHost(Host)) throw EConnectError("Invalid host name: " + Host);
  if (Socks.Version != TSocksVersion::svNoSocks && !UsableHost(Socks.Host))
    throw EConnectError("Invalid proxy host name: " + Socks.Host);
  {
    std::lock_guard<std::mutex> G(FLock);
    FCancelled = false;
    uint64_t Drained;  // a wake-up left from an earlier attempt
    if (FWakeFd >= 0) [[maybe_unused]] const ssize_t R = read(FWakeFd, &Drained, sizeof Drained);
  }
  if (Socks.Version == TSocksVersion::svNoSocks) {
    // Straight to an address: a plain connect, which costs half of what libcurl's set-up
    // does. A host name goes through libcurl, whose resolver a Cancel can end.
    const int Fd = ConnectToAddress(Host, Port, Abort);
    if (Fd >= 0) return Fd;
  }
  TProxyReplyWatch Watch(ReadTimeoutMs);  // outlives Easy, which closes its sockets through it
  std::unique_ptr<CURL, TEasyDeleter> Easy(curl_easy_init());
  std::unique_ptr<CURLM, TMultiDeleter> Multi(curl_multi_init());
  if (!Easy || !Multi) throw EConnectError("Out of memory");

  char ErrorBuffer[CURL_ERROR_SIZE] = {};
  // Any scheme that is a plain TCP connection will do; connect-only mode sends nothing.
  const std::string Url = "http://" + UrlHost(Host) + ":" + std::to_string(Port) + "/";
  curl_easy_setopt(Easy.get(), CURLOPT_URL, Url.c_str());
  curl_easy_setopt(Easy.get(), CURLOPT_CONNECT_ONLY, 1L);
  curl_easy_setopt(Easy.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(Easy.get(), CURLOPT_ERRORBUFFER, ErrorBuffer);
  // Never pick up a proxy from the environment: the only proxy is the one configured.
  const std::string Proxy = ProxyUrl(Socks);
  curl_easy_setopt(Easy.get(), CURLOPT_PROXY, Proxy.c_str());
  // SOCKS 5 offers only what is configured: libcurl would offer GSS-API as well, and a
  // proxy that picks it fails the attempt.
  const bool Login = !Proxy.empty() && Socks.Authentication == TSocksAuthentication::saUsernamePassword;
  curl_easy_setopt(Easy.get(), CURLOPT_SOCKS5_AUTH, static_cast<long>(Login ? CURLAUTH_BASIC : CURLAUTH_NONE));
  if (Login) {
    curl_easy_setopt(Easy.get(), CURLOPT_PROXYUSERNAME, Socks.Username.c_str());
    curl_easy_setopt(Easy.get(), CURLOPT_PROXYPASSWORD, Socks.Password.c_str());
  }
  if (!Proxy.empty()) {
    // The watch bounds each reply of the hand-shake; libcurl's limit of the whole phase
    // (300 s unless set) would cut a slow but steady proxy short, and the TCP connect to
    // the proxy, like a direct one, lasts until the system gives up.
    Watch.Install(Easy.get());
    curl_easy_setopt(Easy.get(), CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::numeric_limits<int32_t>::max()));
  }

  {
    std::lock_guard<std::mutex> G(FLock);
    FMulti = Multi.get();
  }
  struct TUnpublish {
    TOutgoingConnector* Self;
    ~TUnpublish() {
      std::lock_guard<std::mutex> G(Self->FLock);
      Self->FMulti = nullptr;
    }
  } Unpublish{this};

  curl_multi_add_handle(Multi.get(), Easy.get());
  CURLcode Result = CURLE_OK;
  bool Done = false;
  while (!Done) {
    {
      std::lock_guard<std::mutex> G(FLock);
      if (FCancelled || Abort) {
        curl_multi_remove_handle(Multi.get(), Easy.get());
        throw EConnectError("Connection attempt cancelled");
      }
    }
    if (Watch.Expired()) {
      curl_multi_remove_handle(Multi.get(), Easy.get());
      const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Started);
      throw EConnectError("Connection timed out after " + std::to_string(Ms.count()) + " milliseconds");
    }
    int Running = 0;
    const CURLMcode M = curl_multi_perform(Multi.get(), &Running);
    if (M != CURLM_OK) {
      curl_multi_remove_handle(Multi.get(), Easy.get());
      throw EConnectError(curl_multi_strerror(M));
    }
    int Left = 0;
    while (CURLMsg* Msg = curl_multi_info_read(Multi.get(), &Left)) {
      if (Msg->msg == CURLMSG_DONE) {
        Result = Msg->data.result;
        Done = true;
      }
    }
    if (!Done && Running == 0) {
      Result = CURLE_COULDNT_CONNECT;
      Done = true;
    }
    // Short slices, so that an abort is seen within 100 ms even without a wake-up.
    if (!Done) curl_multi_poll(Multi.get(), nullptr, 0, 100, nullptr);
  }

  int Fd = -1;
  if (Result == CURLE_OK) {
    curl_socket_t Sock = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(Easy.get(), CURLINFO_ACTIVESOCKET, &Sock) == CURLE_OK && Sock != CURL_SOCKET_BAD)
      Fd = fcntl(Sock, F_DUPFD_CLOEXEC, 0);
    if (Fd < 0) {
      curl_multi_remove_handle(Multi.get(), Easy.get());
      throw EConnectError("Could not take over the connected socket");
    }
  }
  curl_multi_remove_handle(Multi.get(), Easy.get());
  if (Result != CURLE_OK) throw EConnectError(ErrorBuffer[0] ? ErrorBuffer : curl_easy_strerror(Result));
  // libcurl leaves the socket non-blocking; the dialogue waits with poll() and reads blocking.
  const int Flags = fcntl(Fd, F_GETFL);
  if (Flags >= 0) fcntl(Fd, F_SETFL, Flags & ~O_NONBLOCK);
  return Fd;
}

void TOutgoingConnector::Cancel() {
  std::lock_guard<std::mutex> G(FLock);
  FCancelled = true;
  if (FMulti) curl_multi_wakeup(static_cast<CURLM*>(FMulti));
  const uint64_t One = 1;
  if (FWakeFd >= 0) [[maybe_unused]] const ssize_t R = write(FWakeFd, &One, sizeof One);
}
