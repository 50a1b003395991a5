#include "support/LoopbackDNS.h"
#include "platform/IniFile.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>

namespace {

void Put16(std::string& Out, uint16_t V) {
  Out += static_cast<char>(V >> 8);
  Out += static_cast<char>(V & 0xFF);
}

void Put32(std::string& Out, uint32_t V) {
  Put16(Out, static_cast<uint16_t>(V >> 16));
  Put16(Out, static_cast<uint16_t>(V & 0xFFFF));
}

std::string EncodeName(const std::string& Name) {
  std::string Out;
  size_t Pos = 0;
  while (Pos < Name.size()) {
    size_t Dot = Name.find('.', Pos);
    if (Dot == std::string::npos) Dot = Name.size();
    std::string Label = Name.substr(Pos, Dot - Pos).substr(0, 63);
    if (!Label.empty()) {
      Out += static_cast<char>(Label.size());
      Out += Label;
    }
    Pos = Dot + 1;
  }
  Out += '\0';
  return Out;
}

// Reads the question's name (labels only, as queries carry them); false when malformed.
bool ParseQuestion(const std::string& Q, std::string& Name, size_t& End) {
  size_t Pos = 12;
  Name.clear();
  while (true) {
    if (Pos >= Q.size()) return false;
    const auto Len = static_cast<unsigned char>(Q[Pos]);
    if (Len == 0) break;
    if (Len > 63 || Pos + 1 + Len > Q.size()) return false;
    if (!Name.empty()) Name += '.';
    Name += Q.substr(Pos + 1, Len);
    Pos += 1 + Len;
  }
  End = Pos + 1 + 4;  // root byte, type, class
  return End <= Q.size();
}

}  // namespace

TLoopbackDNS::TLoopbackDNS(const std::string& Address, uint16_t Port) : FPort(Port) {
  FDefault.Kind = TReplyKind::NXDomain;
  if (Address.find(':') != std::string::npos) {
    // An IPv6 address ("::1"): this address only, no random choice.
    FSocket = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int One = 1;
    sockaddr_in6 Sa{};
    Sa.sin6_family = AF_INET6;
    Sa.sin6_port = htons(Port);
    if (FSocket < 0 || setsockopt(FSocket, IPPROTO_IPV6, IPV6_V6ONLY, &One, sizeof One) != 0 ||
        inet_pton(AF_INET6, Address.c_str(), &Sa.sin6_addr) != 1 ||
        bind(FSocket, reinterpret_cast<sockaddr*>(&Sa), sizeof(Sa)) != 0) {
      const int Err = errno;
      if (FSocket >= 0) close(FSocket);
      throw std::runtime_error("loopback DNS: cannot bind [" + Address + "]:" + std::to_string(Port) + ": " +
                               std::strerror(Err));
    }
    FAddress = Address;
    FWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    FThread = std::thread([this] { Run(); });
    return;
  }
  FSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (FSocket < 0) throw std::runtime_error("loopback DNS: socket failed");
  std::random_device Seed;
  std::mt19937 Rng(Seed());
  for (int Try = 0;; ++Try) {
    std::string Addr = Address;
    if (Addr.empty())
      Addr = "127." + std::to_string(1 + Rng() % 254) + "." + std::to_string(Rng() % 256) + "." +
             std::to_string(1 + Rng() % 254);
    sockaddr_in Sa{};
    Sa.sin_family = AF_INET;
    Sa.sin_port = htons(Port);
    if (inet_pton(AF_INET, Addr.c_str(), &Sa.sin_addr) != 1) {
      close(FSocket);
      throw std::runtime_error("loopback DNS: bad address " + Addr);
    }
    if (bind(FSocket, reinterpret_cast<sockaddr*>(&Sa), sizeof(Sa)) == 0) {
      socklen_t Len = sizeof(Sa);
      getsockname(FSocket, reinterpret_cast<sockaddr*>(&Sa), &Len);
      FAddress = Addr;
      FPort = ntohs(Sa.sin_port);
      break;
    }
    const int Err = errno;
    if (!Address.empty() || Err != EADDRINUSE || Try > 50) {
      close(FSocket);
      throw std::runtime_error("loopback DNS: cannot bind " + Addr + ":" + std::to_string(Port) + ": " +
                               std::strerror(Err));
    }
  }
  FWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  FThread = std::thread([this] { Run(); });
}

TLoopbackDNS::~TLoopbackDNS() {
  FStop = true;
  const uint64_t One = 1;
  [[maybe_unused]] ssize_t R = write(FWakeFd, &One, sizeof(One));
  FThread.join();
  close(FWakeFd);
  close(FSocket);
}

void TLoopbackDNS::Set(const std::string& Domain, TReply Reply) {
  std::lock_guard<std::mutex> L(FLock);
  FTable[LowerCase(Domain)] = std::move(Reply);
}

void TLoopbackDNS::SetMX(const std::string& Domain, std::vector<TMX> MX) {
  TReply R;
  R.MX = std::move(MX);
  Set(Domain, std::move(R));
}

void TLoopbackDNS::SetKind(const std::string& Domain, TReplyKind Kind) {
  TReply R;
  R.Kind = Kind;
  Set(Domain, std::move(R));
}

void TLoopbackDNS::SetDefault(TReply Reply) {
  std::lock_guard<std::mutex> L(FLock);
  FDefault = std::move(Reply);
}

std::vector<TLoopbackDNS::TQuestion> TLoopbackDNS::Questions() const {
  std::lock_guard<std::mutex> L(FLock);
  return FQuestions;
}

void TLoopbackDNS::ResetCounts() {
  std::lock_guard<std::mutex> L(FLock);
  FQuestions.clear();
  FQueryCount = 0;
}

void TLoopbackDNS::Run() {
  char Buf[4096];
  while (!FStop) {
    pollfd Fds[2] = {{FSocket, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
    if (poll(Fds, 2, 1000) <= 0 || !(Fds[0].revents & POLLIN)) continue;
    sockaddr_storage From{};
    socklen_t FromLen = sizeof(From);
    const ssize_t N = recvfrom(FSocket, Buf, sizeof(Buf), 0, reinterpret_cast<sockaddr*>(&From), &FromLen);
    if (N <= 0) continue;
    ++FQueryCount;
    const std::string Reply = Answer(std::string(Buf, static_cast<size_t>(N)));
    if (!Reply.empty())
      sendto(FSocket, Reply.data(), Reply.size(), 0, reinterpret_cast<sockaddr*>(&From), FromLen);
  }
}

std::string TLoopbackDNS::Answer(const std::string& Query) {
  if (Query.size() < 12) return "";
  std::string Name;
  size_t QEnd = 0;
  if (!ParseQuestion(Query, Name, QEnd)) return "";
  TQuestion Q;
  Q.Name = Name;
  Q.Type = static_cast<uint16_t>((static_cast<unsigned char>(Query[QEnd - 4]) << 8) |
                                 static_cast<unsigned char>(Query[QEnd - 3]));
  Q.RecursionDesired = Query[2] & 0x01;
  TReply R;
  {
    std::lock_guard<std::mutex> L(FLock);
    FQuestions.push_back(Q);
    auto It = FTable.find(LowerCase(Name));
    R = It != FTable.end() ? It->second : FDefault;
  }
  if (R.Kind == TReplyKind::Silent) return "";

  std::string Out = Query.substr(0, 2);  // ID
  uint8_t Flags1 = 0x80 | (Query[2] & 0x79);  // QR, opcode and RD of the query
  uint8_t RCode = 0;
  if (R.Kind == TReplyKind::NXDomain) RCode = 3;
  if (R.Kind == TReplyKind::ServFail) RCode = 2;
  if (R.Kind == TReplyKind::Truncated) Flags1 |= 0x02;
  Out += static_cast<char>(Flags1);
  Out += static_cast<char>(0x80 | RCode);  // RA
  if (R.Kind == TReplyKind::Garbage) {
    Out += std::string("\x00\x01\x00\x05\x00\x00\x00\x00\xff\xfe\x3f\xc0\x0c\x99\x00\x07garbage", 23);
    return Out;
  }
  const bool WithRecords = R.Kind == TReplyKind::Answer || R.Kind == TReplyKind::Truncated;
  const size_t Count = WithRecords ? R.A.size() + R.MX.size() : 0;
  Put16(Out, 1);
  Put16(Out, static_cast<uint16_t>(Count));
  Put16(Out, 0);
  Put16(Out, 0);
  Out += Query.substr(12, QEnd - 12);
  const size_t FirstRecord = Out.size();
  if (WithRecords) {
    for (const auto& A : R.A) {
      in_addr Addr{};
      inet_pton(AF_INET, A.c_str(), &Addr);
      Out += "\xc0\x0c";
      Put16(Out, 1);
      Put16(Out, 1);
      Put32(Out, 300);
      Put16(Out, 4);
      Out.append(reinterpret_cast<const char*>(&Addr), 4);
    }
    for (const auto& MX : R.MX) {
      const std::string Exchange = EncodeName(MX.Host);
      Out += "\xc0\x0c";
      Put16(Out, 15);
      Put16(Out, 1);
      Put32(Out, 300);
      Put16(Out, static_cast<uint16_t>(2 + Exchange.size()));
      Put16(Out, MX.Preference);
      Out += Exchange;
    }
  }
  if (R.Kind == TReplyKind::Truncated && Out.size() > FirstRecord + 6) Out.resize(FirstRecord + 6);
  return Out;
}
