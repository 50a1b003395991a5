// Subject decoding figures: time to decode long headers of the shapes a client can send
// (many encoded words, many unfinished words, words in a charset nobody knows), printed
// per size so that the growth with the header's length shows.
//   header_decode_bench
#include <chrono>
#include <cstdio>
#include <string>

#include "engine/store/MailText.h"

namespace {

std::string Repeat(const std::string& Piece, size_t Bytes) {
  std::string S;
  while (S.size() < Bytes) S += Piece;
  return S;
}

void Measure(const char* Name, const std::string& Piece) {
  for (size_t Bytes : {size_t(16) << 10, size_t(256) << 10, size_t(4) << 20}) {
    const std::string S = Repeat(Piece, Bytes);
    auto Start = std::chrono::steady_clock::now();
    size_t Out = 0;
    try {
      Out = DecodeHeader(S).size();
    } catch (...) {
    }
    double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    std::printf("%-22s %8zu KB  %9.3f ms  %7.1f MB/s  (%zu bytes out)\n", Name, S.size() >> 10, Seconds * 1e3,
                double(S.size()) / 1e6 / Seconds, Out);
  }
}

}  // namespace

int main() {
  Measure("utf-8 Q words", "=?utf-8?Q?caf=C3=A9_au_lait?= ");
  Measure("utf-8 B words", "=?UTF-8?B?w6nDqcOp?= ");
  Measure("iso-8859-1 Q words", "=?iso-8859-1?Q?caf=E9?= ");
  Measure("unknown charset", "=?x-nobody?Q?abc?=");
  Measure("unfinished words", "=?abc?Q?x? ");
  Measure("=? runs", "=?");
  return 0;
}
