// The readers of the list-valued settings and the address checks that read their entries.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/settings/ListFormats.h"
#include "engine/settings/VexaBase.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string S(reinterpret_cast<const char*>(Data), Size);
  const auto Relays = ParseRelaySMTPList(S);
  // What a writer writes, the reader reads back unchanged (the fields hold no ";").
  if (S.find(';') == std::string::npos && Relays.size() == 1) {
    const auto Again = ParseRelaySMTPList(FormatRelaySMTPList(Relays));
    if (Again.size() != 1 || Again[0].Host != Relays[0].Host || Again[0].FromEmail != Relays[0].FromEmail) std::abort();
  }
  for (const auto& B : ParseIPBindings(S)) (void)IsValidIP(B.IP);
  for (const auto& R : ParseIPRules(S)) (void)(IPToInt(R.IP) & IPToInt(R.Mask));
  (void)FormatAttachmentFilters(ParseAttachmentFilters(S));
  (void)FormatPlainList(ParsePlainList(S));
  return 0;
}
