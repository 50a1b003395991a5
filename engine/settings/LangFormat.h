#pragma once
// Formatting of message texts with "%s" and "%d" placeholders. The texts come from language
// files that users write, so a text whose placeholders do not fit the arguments (too few,
// too many, of the wrong kind) falls back to the English text of its entry.
#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "engine/settings/LangDefs.h"

using TFormatArg = std::variant<std::string, int64_t>;

// Formats Fmt with Args when every placeholder fits its argument ("%s" a text, "%d" a
// number; an argument index "%1:s", flags, width and precision allowed; "%%" a percent
// sign) and every argument is shown.
bool TryFormatText(const std::string& Fmt, const std::vector<TFormatArg>& Args, std::string& Out);

// Entry Index of LangStrings formatted with Args.
std::string LangFormatArgs(int Index, const std::vector<TFormatArg>& Args);

namespace langformat_detail {
template <class T>
TFormatArg ToArg(const T& V) {
  if constexpr (std::is_integral_v<T>)
    return TFormatArg(static_cast<int64_t>(V));
  else
    return TFormatArg(std::string(V));
}
}  // namespace langformat_detail

template <class... A>
std::string LangFmt(int Index, const A&... Args) {
  return LangFormatArgs(Index, {langformat_detail::ToArg(Args)...});
}
