#pragma once
// A DNS server on a loopback address for tests. It answers the questions it receives
// from a table the test fills: MX exchangers in a given order, answers without MX
// records, NXDOMAIN, SERVFAIL, silence (for time-outs), truncated or garbage replies.
// It never forwards anything anywhere.
//
//   TLoopbackDNS Dns;                                   // a free 127.x.y.z, UDP port 53
//   Dns.SetMX("example.test", {{10, "mx1.example.test"}, {20, "127.0.0.9"}});
//   CurrentDNSPrimary = Dns.Address();
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TLoopbackDNS {
public:
  enum class TReplyKind {
    Answer,     // NOERROR with the records below (none at all: an empty answer section)
    NXDomain,   // name error, no records
    ServFail,   // server failure, no records
    Silent,     // no reply at all
    Truncated,  // the answer with the TC bit, cut off inside its first record
    Garbage,    // the query's ID and reply flag, then bytes that are no DNS message
  };
  struct TMX {
    uint16_t Preference;
    std::string Host;  // "" is the root name
  };
  struct TReply {
    TReplyKind Kind = TReplyKind::Answer;
    std::vector<std::string> A;  // A records (dotted quads), answered before the MX records
    std::vector<TMX> MX;         // MX records, in answer order
  };
  struct TQuestion {
    std::string Name;  // as sent
    uint16_t Type = 0;
    bool RecursionDesired = false;
  };

  // Binds UDP Port on Address; an empty Address picks a free random 127.x.y.z (never
  // 127.0.0.x); an IPv6 Address ("::1") is bound as it is. Port 53 needs root, which the
  // test runs have. Throws when it cannot bind.
  explicit TLoopbackDNS(const std::string& Address = "", uint16_t Port = 53);
  ~TLoopbackDNS();
  TLoopbackDNS(const TLoopbackDNS&) = delete;
  TLoopbackDNS& operator=(const TLoopbackDNS&) = delete;

  const std::string& Address() const { return FAddress; }
  uint16_t Port() const { return FPort; }

  // Names are matched without regard to case.
  void Set(const std::string& Domain, TReply Reply);
  void SetMX(const std::string& Domain, std::vector<TMX> MX);
  void SetKind(const std::string& Domain, TReplyKind Kind);
  // The reply for names missing from the table; NXDOMAIN unless set.
  void SetDefault(TReply Reply);

  // Every datagram received, well-formed or not.
  int QueryCount() const { return FQueryCount; }
  std::vector<TQuestion> Questions() const;
  void ResetCounts();

private:
  void Run();
  std::string Answer(const std::string& Query);

  std::string FAddress;
  uint16_t FPort = 0;
  int FSocket = -1;
  int FWakeFd = -1;
  std::atomic<bool> FStop{false};
  std::atomic<int> FQueryCount{0};
  mutable std::mutex FLock;
  std::map<std::string, TReply> FTable;
  TReply FDefault;
  std::vector<TQuestion> FQuestions;
  std::thread FThread;
};
