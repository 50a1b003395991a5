#include "engine/net/Base64.h"

#include <openssl/evp.h>

#include "platform/IniFile.h"

std::string EncodeBase64(const std::string& Data) {
  std::string Out(4 * ((Data.size() + 2) / 3) + 1, '\0');
  const int N = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(Out.data()),
                                reinterpret_cast<const unsigned char*>(Data.data()), static_cast<int>(Data.size()));
  Out.resize(static_cast<size_t>(N));
  return Out;
}

std::string DecodeBase64(const std::string& Text) {
  const std::string T = Trim(Text);
  if (T.size() % 4 != 0) throw EBase64Error();
  size_t Pad = 0;
  while (Pad < 2 && Pad < T.size() && T[T.size() - 1 - Pad] == '=') ++Pad;
  for (size_t I = 0; I + Pad < T.size(); ++I) {
    const char C = T[I];
    if (!((C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '+' || C == '/'))
      throw EBase64Error();
  }
  std::string Out(T.size() / 4 * 3, '\0');
  if (T.empty()) return Out;
  const int N = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(Out.data()),
                                reinterpret_cast<const unsigned char*>(T.data()), static_cast<int>(T.size()));
  if (N < 0) throw EBase64Error();
  Out.resize(static_cast<size_t>(N) - Pad);  // EVP counts the padding as zero bytes
  return Out;
}
