#pragma once
// The benchmarks' message: a few header lines and 76-character body lines up to 10 KB
// (line ends of two characters counted).
#include <string>
#include <vector>

inline std::vector<std::string> Message10K(const std::string& From = "<bench@here.example>",
                                           const std::string& To = "<rcpt@far.example>",
                                           const std::string& Subject = "bench") {
  std::vector<std::string> L = {"From: " + From, "To: " + To, "Subject: " + Subject, ""};
  size_t Size = 0;
  for (auto& S : L) Size += S.size() + 2;
  while (Size < 10240) {
    L.push_back(std::string(76, 'x'));
    Size += 78;
  }
  return L;
}
