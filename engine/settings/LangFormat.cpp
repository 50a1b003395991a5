#include "engine/settings/LangFormat.h"

#include <fmt/printf.h>

#include <algorithm>

bool TryFormatText(const std::string& Fmt, const std::vector<TFormatArg>& Args, std::string& Out) {
  Out.clear();
  const auto Digit = [&](size_t J) { return J < Fmt.size() && Fmt[J] >= '0' && Fmt[J] <= '9'; };
  std::vector<bool> Used(Args.size());
  size_t ArgNo = 0;
  try {
    for (size_t I = 0; I < Fmt.size(); ++I) {
      const char C = Fmt[I];
      if (C != '%') {
        Out += C;
        continue;
      }
      size_t J = I + 1;
      if (J < Fmt.size() && Fmt[J] == '%') {
        Out += '%';
        I = J;
        continue;
      }
      // %[index:][flags][width][.precision]conversion, with no "*" widths; the letter of
      // the conversion in either case, as translators write it.
      size_t K = J;
      while (Digit(K) && K - J < 3) ++K;
      if (K > J && K < Fmt.size() && Fmt[K] == ':') {
        ArgNo = static_cast<size_t>(std::stoi(Fmt.substr(J, K - J)));
        J = K + 1;
      }
      const size_t SpecBegin = J;
      while (J < Fmt.size() && std::string("-+ #0").find(Fmt[J]) != std::string::npos) ++J;
      for (size_t Digits = 0; Digit(J) && Digits < 3; ++Digits) ++J;
      if (J < Fmt.size() && Fmt[J] == '.') {
        ++J;
        for (size_t Digits = 0; Digit(J) && Digits < 3; ++Digits) ++J;
      }
      if (J >= Fmt.size() || ArgNo >= Args.size()) return false;
      const char Conv = static_cast<char>(Fmt[J] | 0x20);
      const std::string Spec = "%" + Fmt.substr(SpecBegin, J - SpecBegin);
      const TFormatArg& A = Args[ArgNo];
      Used[ArgNo++] = true;
      if (Conv == 's' && std::holds_alternative<std::string>(A)) {
        Out += fmt::sprintf(Spec + "s", std::get<std::string>(A));
      } else if ((Conv == 'd' || Conv == 'u') && std::holds_alternative<int64_t>(A)) {
        Out += fmt::sprintf(Spec + "d", std::get<int64_t>(A));
      } else {
        return false;
      }
      I = J;
    }
  } catch (...) {
    return false;
  }
  // Every argument shown at least once.
  return std::find(Used.begin(), Used.end(), false) == Used.end();
}

std::string LangFormatArgs(int Index, const std::vector<TFormatArg>& Args) {
  std::string Out;
  if (TryFormatText(LangStrings[Index], Args, Out)) return Out;
  if (TryFormatText(TLangStrings::Default(Index), Args, Out)) return Out;
  return LangStrings[Index];
}
