// The attachment filter and the MIME header readers over a message of any content. The
// first line lists the blocked extensions (";"-separated), the rest is the message.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/receiver/MailFilter.h"

namespace {
std::vector<std::string> Split(const std::string& S, char Sep) {
  std::vector<std::string> R;
  size_t B = 0;
  for (;;) {
    const size_t E = S.find(Sep, B);
    R.push_back(S.substr(B, E == std::string::npos ? std::string::npos : E - B));
    if (E == std::string::npos) return R;
    B = E + 1;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string S(reinterpret_cast<const char*>(Data), Size);
  const size_t NL = S.find('\n');
  const std::vector<std::string> Blocked = Split(S.substr(0, NL), ';');
  const TMimeLines Lines = NL == std::string::npos ? TMimeLines() : Split(S.substr(NL + 1), '\n');

  (void)CheckAttachments(Lines, Blocked);
  int Cursor = 0;
  TMimeHeader H;
  ParseMessageHeader(Lines, Cursor, H);
  if (Cursor < 0 || Cursor > static_cast<int>(Lines.size())) abort();
  if (H.Boundary.size() > MaxMimeBoundary) abort();
  // Every part header the message holds, read one after the other.
  while (Cursor + 1 < static_cast<int>(Lines.size())) {
    const int Before = Cursor;
    TMimePartHeader P;
    ParsePartHeader(Lines, Cursor, P);
    if (P.Name.size() > MaxMimeName || P.Boundary.size() > MaxMimeBoundary) abort();
    if (Cursor == Before) ++Cursor;
  }
  for (const auto& L : Lines) {
    std::string N, V;
    SplitParam(L, N, V);
    ForEachMimeParam(L, [](const std::string&, const std::string&) {});
  }
  return 0;
}
