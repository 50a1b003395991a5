// Header texts of received mails: encoded words, the Subject and From headers, addresses.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/settings/ZQCipher.h"
#include "engine/store/MailText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string S(reinterpret_cast<const char*>(Data), Size);
  try {
    (void)DecodeHeader(S);
  } catch (const EConvertError&) {
    // a bad "=" escape in a Q word is reported this way
  }
  (void)UTF8ToAnsi(S);
  (void)IsValidEmail(S);
  (void)ExtractDomain(S);
  std::vector<std::string> Lines;
  size_t Pos = 0;
  while (Pos <= S.size()) {
    size_t End = S.find('\n', Pos);
    if (End == std::string::npos) End = S.size();
    Lines.push_back(S.substr(Pos, End - Pos));
    Pos = End + 1;
  }
  (void)GetSubjectHeader(Lines);
  (void)GetFromAddress(Lines);
  return 0;
}
