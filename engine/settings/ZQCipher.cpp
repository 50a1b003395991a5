#include "engine/settings/ZQCipher.h"

namespace {
int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}
}  // namespace

std::string StrToHex(const std::string& S) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string R;
  R.reserve(S.size() * 2);
  for (unsigned char C : S) {
    R += Digits[C >> 4];
    R += Digits[C & 15];
  }
  return R;
}

std::string HexToStr(const std::string& S) {
  std::string R;
  R.reserve(S.size() / 2 + 1);
  for (size_t I = 0; I < S.size(); I += 2) {
    int V = 0;
    for (size_t J = I; J < I + 2 && J < S.size(); ++J) {
      const int D = HexValue(S[J]);
      if (D < 0) throw EConvertError("'" + S.substr(I, 2) + "' is not a valid hexadecimal value");
      V = V * 16 + D;
    }
    R += static_cast<char>(V);
  }
  return R;
}
