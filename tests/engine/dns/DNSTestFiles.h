#pragma once
// Byte access to the DNS cache files for the tests that check or damage them.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace dnstest {

inline std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& Path, const std::string& Data) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Data;
}

inline int32_t I32(const std::string& B, size_t At) {
  uint32_t U = 0;
  for (int I = 0; I < 4; ++I) U |= static_cast<uint32_t>(static_cast<unsigned char>(B[At + I])) << (8 * I);
  return static_cast<int32_t>(U);
}

inline uint16_t U16(const std::string& B, size_t At) {
  return static_cast<uint16_t>(static_cast<unsigned char>(B[At]) | (static_cast<unsigned char>(B[At + 1]) << 8));
}

inline double F64(const std::string& B, size_t At) {
  uint64_t U = 0;
  for (int I = 0; I < 8; ++I) U |= static_cast<uint64_t>(static_cast<unsigned char>(B[At + I])) << (8 * I);
  double D;
  std::memcpy(&D, &U, 8);
  return D;
}

inline std::string Name(const std::string& B, size_t At) {
  return B.substr(At + 1, static_cast<unsigned char>(B[At]));
}

// Overwrites a little-endian 32-bit field in place.
inline void Patch32(const std::string& Path, size_t At, int32_t V) {
  std::string B = ReadAll(Path);
  for (int I = 0; I < 4; ++I) B[At + I] = static_cast<char>(static_cast<uint32_t>(V) >> (8 * I));
  WriteAll(Path, B);
}

constexpr size_t IndexRec(int N) { return 34 + static_cast<size_t>(N - 1) * 282; }
constexpr size_t DataRec(int N) { return 30 + static_cast<size_t>(N - 1) * 263; }

}  // namespace dnstest
