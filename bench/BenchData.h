#pragma once
// The store benchmarks' data folders (BenchStore.h) and the comma-separated lists of their
// command lines.
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchStore.h"

// "1,3,10" as numbers.
inline std::vector<int> ParseList(const std::string& S) {
  std::vector<int> R;
  std::stringstream In(S);
  std::string Item;
  while (std::getline(In, Item, ',')) R.push_back(std::stoi(Item));
  return R;
}
