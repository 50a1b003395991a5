#include "engine/settings/LangFormat.h"

#include <fmt/printf.h>

bool TryFormatText(const std::string& Fmt, const std::vector<TFormatArg>& Args, std::string& Out) {
  Out.clear();
  size_t ArgNo = 0;
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
    // %[flags][width][.precision]conversion, with no "*" widths.
    while (J < Fmt.size() && std::string("-+ #0").find(Fmt[J]) != std::string::npos) ++J;
    size_t Digits = 0;
    while (J < Fmt.size() && Fmt[J] >= '0' && Fmt[J] <= '9' && Digits < 3) ++J, ++Digits;
    if (J < Fmt.size() && Fmt[J] == '.') {
      ++J;
      Digits = 0;
      while (J < Fmt.size() && Fmt[J] >= '0' && Fmt[J] <= '9' && Digits < 3) ++J, ++Digits;
    }
    if (J >= Fmt.size() || ArgNo >= Args.size()) return false;
    const char Conv = Fmt[J];
    const std::string Spec = Fmt.substr(I, J - I + 1);
    const TFormatArg& A = Args[ArgNo++];
    if (Conv == 's' && std::holds_alternative<std::string>(A)) {
      Out += fmt::sprintf(Spec, std::get<std::string>(A));
    } else if ((Conv == 'd' || Conv == 'u') && std::holds_alternative<int64_t>(A)) {
      Out += fmt::sprintf(Spec.substr(0, Spec.size() - 1) + "d", std::get<int64_t>(A));
    } else {
      return false;
    }
    I = J;
  }
  return ArgNo == Args.size();
}

std::string LangFormatArgs(int Index, const std::vector<TFormatArg>& Args) {
  std::string Out;
  if (TryFormatText(LangStrings[Index], Args, Out)) return Out;
  if (TryFormatText(TLangStrings::Default(Index), Args, Out)) return Out;
  return LangStrings[Index];
}
