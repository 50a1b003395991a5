#pragma once
// A small pool of DNS resolvers: one query asks one server for the MX records of one
// domain. Each slot belongs to one resolver thread; another thread may cancel every slot.
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/dns/DNSBase.h"

struct TResolverSlot;

// The MX answer in a DNS reply packet as a new domain record for Name (exchangers without
// a name and repeated names left out); null when the packet holds no answer records or
// cannot be read.
TDNSDomainRecordPtr MXRecordFromAnswer(const unsigned char* Packet, size_t Size, const std::string& Name);

class TVexaDNSQuery {
public:
  explicit TVexaDNSQuery(int Count);
  virtual ~TVexaDNSQuery();
  TVexaDNSQuery(const TVexaDNSQuery&) = delete;
  TVexaDNSQuery& operator=(const TVexaDNSQuery&) = delete;

  // Ends every running query and makes every later one answer null; final.
  void Stop();
  // Ends the queries running now (each answers null); later queries run normally.
  void CancelAll();
  // Asks Server (an IPv4 or IPv6 address, see DNSServerCsv; UDP port 53) for the MX
  // records of Domain, waiting at most Timeout milliseconds (0 or less: no limit of our
  // own). A new record the caller owns, or null on any failure.
  // Virtual so that a test can answer for the servers.
  virtual TDNSDomainRecordPtr Query(int Slot, const std::string& Server, const std::string& Domain, int Timeout);

  int SlotCount() const { return static_cast<int>(FSlots.size()); }
  bool Stopped() const { return FStopped; }

private:
  std::mutex FSlotsLock;
  std::vector<std::unique_ptr<TResolverSlot>> FSlots;
  std::atomic<bool> FStopped{false};
};
