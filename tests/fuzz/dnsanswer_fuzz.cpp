// DNS replies as they reach us from the servers: whatever c-ares reads from the packet
// becomes a domain record whose exchangers are ordered and counted.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/dns/DNSQuery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TDNSDomainRecordPtr R = MXRecordFromAnswer(Data, Size, "example.com");
  if (!R) return 0;
  int32_t Count = 0;
  for (const TDNSMXRecord* MX = R->FirstMX; MX; MX = MX->Next) {
    ++Count;
    if (MX->Host.empty() || MX->Host.size() > DNSNameMaxLength) std::abort();
    if (MX->Next && MX->Next->Preference < MX->Preference) std::abort();
  }
  if (Count != R->MXCount || R->Domain != "example.com") std::abort();
  TDNSDomainRecordPtr Copy = CopyDomainRecord(R.get());
  return 0;
}
