#include "engine/dns/DNSQuery.h"

#include <arpa/inet.h>
#include <ares.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "engine/dns/DNSServerAddress.h"
#include "platform/IniFile.h"

namespace {

constexpr int DNSClassIN = 1;
constexpr int DNSTypeMX = 15;
// c-ares gives up on its own after this; our own deadline always comes first.
constexpr int ResolverTryTimeoutMs = 3600 * 1000;
// Longest single wait, so a cancel is seen even if its wake-up were lost.
constexpr int WaitSliceMs = 50;

void InitResolverLibrary() {
  static const int Status = ares_library_init(ARES_LIB_INIT_ALL);
  if (Status != ARES_SUCCESS) throw std::runtime_error(std::string("DNS resolver library: ") + ares_strerror(Status));
}

struct TAnswer {
  bool Done = false;
  int Status = ARES_ENOTINITIALIZED;
  std::vector<unsigned char> Packet;
};

void OnAnswer(void* Arg, int Status, int /*Timeouts*/, unsigned char* Buf, int Len) {
  auto* A = static_cast<TAnswer*>(Arg);
  A->Done = true;
  A->Status = Status;
  if (Status == ARES_SUCCESS && Buf && Len > 0) A->Packet.assign(Buf, Buf + Len);
}

}  // namespace

struct TResolverSlot {
  ares_channel Resolver = nullptr;
  std::atomic<bool> Cancelled{false};
  int WakeFd = -1;  // signalled by CancelAll so a waiting query looks at Cancelled at once

  TResolverSlot() {
    ares_options Opts;
    std::memset(&Opts, 0, sizeof(Opts));
    // One UDP question, recursion desired; a truncated reply is taken as it is.
    Opts.flags = ARES_FLAG_IGNTC | ARES_FLAG_NOCHECKRESP;
    Opts.tries = 1;
    Opts.timeout = ResolverTryTimeoutMs;
    char Lookups[] = "b";
    Opts.lookups = Lookups;
    int Mask = ARES_OPT_FLAGS | ARES_OPT_TRIES | ARES_OPT_TIMEOUTMS | ARES_OPT_LOOKUPS;
#ifdef ARES_OPT_QUERY_CACHE
    // Newer c-ares keep answers for their time-to-live; every query here must reach the server.
    Opts.qcache_max_ttl = 0;
    Mask |= ARES_OPT_QUERY_CACHE;
#endif
    const int Status = ares_init_options(&Resolver, &Opts, Mask);
    if (Status != ARES_SUCCESS) throw std::runtime_error(std::string("DNS resolver: ") + ares_strerror(Status));
    WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (WakeFd < 0) {
      ares_destroy(Resolver);
      throw std::runtime_error("DNS resolver: eventfd failed");
    }
  }
  ~TResolverSlot() {
    ares_destroy(Resolver);
    close(WakeFd);
  }
  void Wake() {
    const uint64_t One = 1;
    [[maybe_unused]] ssize_t R = write(WakeFd, &One, sizeof(One));
  }
  void DrainWake() {
    uint64_t V;
    [[maybe_unused]] ssize_t R = read(WakeFd, &V, sizeof(V));
  }
};

TDNSDomainRecordPtr MXRecordFromAnswer(const unsigned char* Packet, size_t Size, const std::string& Name) {
  if (!Packet || Size < 12 || Size > static_cast<size_t>(INT32_MAX) || ((Packet[6] << 8) | Packet[7]) == 0)
    return nullptr;  // no records at all

  ares_mx_reply* List = nullptr;
  const int Parsed = ares_parse_mx_reply(Packet, static_cast<int>(Size), &List);
  if (Parsed != ARES_SUCCESS && Parsed != ARES_ENODATA) return nullptr;  // ENODATA: records, none MX

  TDNSDomainRecordPtr Record(NewDomainRecord());
  Record->Domain = Name;
  Record->LookupTime = Now();
  Record->Valid = 1;
  std::vector<std::string> Taken;
  for (ares_mx_reply* R = List; R; R = R->next) {
    const std::string Host = R->host ? R->host : "";
    if (Trim(Host).empty()) continue;
    const std::string Key = LowerCase(Host);
    bool Seen = false;
    for (const auto& T : Taken) Seen = Seen || T == Key;
    if (Seen) continue;
    Taken.push_back(Key);
    TDNSMXRecord* MX = NewMXRecord();
    MX->Host = CutName(Host);
    MX->Preference = R->priority;
    MX->Valid = 1;
    InsertMXRecord(MX, Record.get(), true);
  }
  if (List) ares_free_data(List);
  return Record;
}

TVexaDNSQuery::TVexaDNSQuery(int Count) {
  InitResolverLibrary();
  for (int I = 0; I < Count; ++I) FSlots.push_back(std::make_unique<TResolverSlot>());
}

TVexaDNSQuery::~TVexaDNSQuery() = default;

void TVexaDNSQuery::Stop() {
  FStopped = true;
  CancelAll();
}

void TVexaDNSQuery::CancelAll() {
  std::lock_guard<std::mutex> Lock(FSlotsLock);
  for (auto& S : FSlots) {
    S->Cancelled = true;
    S->Wake();
  }
}

TDNSDomainRecordPtr TVexaDNSQuery::Query(int Slot, const std::string& Server, const std::string& Domain, int Timeout) {
  if (Trim(Domain).empty()) return nullptr;
  const std::string Host = DNSServerCsv(Server);
  if (Host.empty()) return nullptr;

  TResolverSlot* S;
  {
    std::lock_guard<std::mutex> Lock(FSlotsLock);
    if (Slot < 0 || Slot >= static_cast<int>(FSlots.size())) return nullptr;
    S = FSlots[Slot].get();
    S->Cancelled = false;
    S->DrainWake();
  }
  if (FStopped) return nullptr;

  // The channel is used by this slot's thread only; other threads just raise the flag.
  if (ares_set_servers_ports_csv(S->Resolver, Host.c_str()) != ARES_SUCCESS) return nullptr;
  TAnswer Answer;
  const std::string Name = CutName(Domain);
  ares_query(S->Resolver, Name.c_str(), DNSClassIN, DNSTypeMX, OnAnswer, &Answer);

  using Clock = std::chrono::steady_clock;
  // No time-out of our own for 0 or less, as the SMTP client reads its replies: the
  // answer, a cancel or the library's own (long) limit ends the wait.
  const bool Limited = Timeout > 0;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(Limited ? Timeout : 0);
  while (!Answer.Done) {
    const auto Left =
        Limited ? std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count() : WaitSliceMs;
    if (S->Cancelled || FStopped || Left <= 0) {
      ares_cancel(S->Resolver);  // calls OnAnswer with ARES_ECANCELLED
      break;
    }
    ares_socket_t Socks[ARES_GETSOCK_MAXNUM];
    const int Bits = ares_getsock(S->Resolver, Socks, ARES_GETSOCK_MAXNUM);
    pollfd Fds[ARES_GETSOCK_MAXNUM + 1];
    int N = 0;
    for (int I = 0; I < ARES_GETSOCK_MAXNUM; ++I) {
      short Events = 0;
      if (ARES_GETSOCK_READABLE(Bits, I)) Events |= POLLIN;
      if (ARES_GETSOCK_WRITABLE(Bits, I)) Events |= POLLOUT;
      if (!Events) continue;
      Fds[N++] = pollfd{Socks[I], Events, 0};
    }
    const int Sockets = N;
    Fds[N++] = pollfd{S->WakeFd, POLLIN, 0};
    const int Wait = static_cast<int>(Left < WaitSliceMs ? Left : WaitSliceMs);
    const int Ready = poll(Fds, N, Wait);
    bool Processed = false;
    if (Ready > 0) {
      for (int I = 0; I < Sockets; ++I) {
        if (!Fds[I].revents) continue;
        const bool R = Fds[I].revents & (POLLIN | POLLERR | POLLHUP);
        const bool W = Fds[I].revents & POLLOUT;
        ares_process_fd(S->Resolver, R ? Fds[I].fd : ARES_SOCKET_BAD, W ? Fds[I].fd : ARES_SOCKET_BAD);
        Processed = true;
      }
      if (Fds[Sockets].revents) S->DrainWake();
    }
    if (!Processed) ares_process_fd(S->Resolver, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
  }

  if (Answer.Status != ARES_SUCCESS || S->Cancelled || FStopped) return nullptr;
  TDNSDomainRecordPtr Record = MXRecordFromAnswer(Answer.Packet.data(), Answer.Packet.size(), Name);
  if (!Record) return nullptr;
  if (S->Cancelled || FStopped) return nullptr;
  return Record;
}
