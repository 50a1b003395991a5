#include "engine/dns/DNSServerAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cctype>
#include <cstdlib>

#include "engine/net/TcpConnection.h"
#include "platform/IniFile.h"

namespace {
bool IsIPv4(const std::string& S) {
  in_addr A;
  return inet_pton(AF_INET, S.c_str(), &A) == 1;
}

// Without a zone ("%eth0"): the resolver library takes none.
bool IsIPv6(const std::string& S) {
  in6_addr A;
  return inet_pton(AF_INET6, S.c_str(), &A) == 1;
}

// Letters, digits, "-" and "." only: anything else is no host name, and is never handed to
// the system's resolver.
bool IsHostName(const std::string& S) {
  if (S.empty() || S.size() > 253) return false;
  for (const unsigned char C : S)
    if (!std::isalnum(C) && C != '-' && C != '.') return false;
  return true;
}

bool IsPort(const std::string& S) {
  if (S.empty() || S.size() > 5 || S.find_first_not_of("0123456789") != std::string::npos) return false;
  const int P = std::atoi(S.c_str());
  return P >= 1 && P <= 65535;
}
}  // namespace

std::string DNSServerCsv(const std::string& ServerText) {
  const std::string Server = Trim(ServerText);
  if (IsIPv4(Server)) return Server;
  if (IsIPv6(Server)) return "[" + Server + "]:53";
  if (Server.size() > 2 && Server.front() == '[') {
    const size_t Close = Server.find(']');
    if (Close == std::string::npos || !IsIPv6(Server.substr(1, Close - 1))) return std::string();
    const std::string Tail = Server.substr(Close + 1);
    if (Tail.empty()) return Server + ":53";
    if (Tail[0] == ':' && IsPort(Tail.substr(1))) return Server;
  }
  return std::string();
}

std::string ResolveDNSServer(const std::string& ServerText, std::string& Error) {
  Error.clear();
  const std::string Server = Trim(ServerText);
  if (Server.empty()) return std::string();
  std::string Csv = DNSServerCsv(Server);
  if (!Csv.empty()) return Csv;
  if (!IsHostName(Server)) {
    Error = "not an IP address or host name";
    return std::string();
  }
  addrinfo Hints{};
  Hints.ai_family = AF_UNSPEC;
  Hints.ai_socktype = SOCK_DGRAM;
  addrinfo* List = nullptr;
  const int G = getaddrinfo(Server.c_str(), nullptr, &Hints, &List);
  if (G != 0) {
    Error = gai_strerror(G);
    return std::string();
  }
  std::string V4, V6;
  for (addrinfo* A = List; A; A = A->ai_next) {
    if (A->ai_family == AF_INET && V4.empty()) V4 = SockAddrToIP(A->ai_addr);
    if (A->ai_family == AF_INET6 && V6.empty()) V6 = SockAddrToIP(A->ai_addr);
  }
  freeaddrinfo(List);
  Csv = DNSServerCsv(!V4.empty() ? V4 : V6);
  if (Csv.empty()) Error = "no address";
  return Csv;
}
