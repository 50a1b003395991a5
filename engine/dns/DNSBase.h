#pragma once
// The records that carry an MX answer through the program, their helpers, and the
// abstract MX cache that the delivery engine asks.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/DateTime.h"

// Longest host or domain name a record holds (a length-prefixed string of 255 bytes on disk).
constexpr size_t DNSNameMaxLength = 255;

// One mail exchanger. Host, Preference, Valid and NextData are the fields of a data
// record of the disk cache.
struct TDNSMXRecord {
  std::string Host;
  uint16_t Preference = 0;
  uint8_t Valid = 0;
  int32_t NextData = 0;  // next data record of the same domain on disk, 0 at the end
  TDNSMXRecord* Next = nullptr;
};

// One domain with its exchangers, ordered by ascending Preference (equal preferences in
// insertion order). The record owns its chain: destroying it frees every exchanger.
// RecNo .. MXCount are the fields of an index record of the disk cache.
struct TDNSDomainRecord {
  int32_t RecNo = 0;
  int32_t NextRecNo = 0;
  std::string Domain;
  TDateTime LookupTime = 0;
  uint8_t Reserved = 0;
  uint8_t Valid = 0;
  int32_t FirstData = 0;
  int32_t MXCount = 0;
  TDNSMXRecord* FirstMX = nullptr;

  TDNSDomainRecord() = default;
  ~TDNSDomainRecord();
  TDNSDomainRecord(const TDNSDomainRecord&) = delete;
  TDNSDomainRecord& operator=(const TDNSDomainRecord&) = delete;
};

using TDNSDomainRecordPtr = std::unique_ptr<TDNSDomainRecord>;

// A fresh exchanger: empty Host, Preference 0, Valid 0.
TDNSMXRecord* NewMXRecord();
// A fresh domain record: all numbers 0, empty Domain, LookupTime now.
TDNSDomainRecord* NewDomainRecord();
// Links MX into Domain's list behind every exchanger of lower or equal preference;
// Count adds one to MXCount. A null MX or Domain does nothing.
void InsertMXRecord(TDNSMXRecord* MX, TDNSDomainRecord* Domain, bool Count);
// Frees the domain record with all its exchangers and sets the variable to null.
void FreeDomainRecord(TDNSDomainRecord*& Domain);
// A deep copy (exchangers included) that the caller owns; null for a null source.
TDNSDomainRecordPtr CopyDomainRecord(const TDNSDomainRecord* Source);

// A text passed as a length-prefixed name keeps at most 255 bytes.
inline std::string CutName(const std::string& S) {
  return S.size() > DNSNameMaxLength ? S.substr(0, DNSNameMaxLength) : S;
}

// The MX cache the delivery engine asks (implemented by TVexaDNSCache).
class TDNSCache {
public:
  TDNSCache() = default;
  virtual ~TDNSCache() = default;
  TDNSCache(const TDNSCache&) = delete;
  TDNSCache& operator=(const TDNSCache&) = delete;

  // The MX hosts of Domain, asked from resolver slot Slot (the resolver thread's index).
  // The result is a private copy that the caller owns: a later Remove or eviction in
  // another thread never touches it. Null when nothing could be learned. A record without
  // exchangers is an answer without MX hosts, not a failure.
  virtual TDNSDomainRecordPtr GetMX(const std::string& Domain, int Slot) = 0;
  // Forgets Domain; true when it was cached.
  virtual bool Remove(const std::string& Domain) = 0;
  // Ends all lookups for good.
  virtual void Stop() = 0;
};
