#pragma once
// A small pool of DNS resolvers: one query asks one server for the MX records of one
// domain. Each slot belongs to one resolver thread; another thread may cancel every slot.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/dns/DNSBase.h"

struct TResolverSlot;

class TVexaDNSQuery {
public:
  explicit TVexaDNSQuery(int Count);
  ~TVexaDNSQuery();
  TVexaDNSQuery(const TVexaDNSQuery&) = delete;
  TVexaDNSQuery& operator=(const TVexaDNSQuery&) = delete;

  // Ends every running query and makes every later one answer null; final.
  void Stop();
  // Ends the queries running now (each answers null); later queries run normally.
  void CancelAll();
  // Asks Server (an IPv4 address, UDP port 53) for the MX records of Domain, waiting at
  // most Timeout milliseconds. A new record the caller owns, or null on any failure.
  TDNSDomainRecordPtr Query(int Slot, const std::string& Server, const std::string& Domain, int Timeout);

  int SlotCount() const { return static_cast<int>(FSlots.size()); }
  bool Stopped() const { return FStopped; }

private:
  std::mutex FSlotsLock;
  std::vector<std::unique_ptr<TResolverSlot>> FSlots;
  std::atomic<bool> FStopped{false};
};
