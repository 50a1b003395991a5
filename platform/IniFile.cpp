#include "platform/IniFile.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {
bool IsBlank(unsigned char C) { return C <= ' '; }

}  // namespace

bool TryStrToInt(const std::string& S, int32_t& Value) {
  size_t P = 0;
  while (P < S.size() && S[P] == ' ') ++P;
  bool Neg = false;
  if (P < S.size() && (S[P] == '-' || S[P] == '+')) Neg = S[P++] == '-';
  int Base = 10;
  if (P < S.size() && S[P] == '$') {
    Base = 16;
    ++P;
  } else if (P + 1 < S.size() && S[P] == '0' && (S[P + 1] == 'x' || S[P + 1] == 'X')) {
    Base = 16;
    P += 2;
  }
  if (P >= S.size()) return false;
  uint64_t N = 0;
  for (; P < S.size(); ++P) {
    const char C = S[P];
    int D;
    if (C >= '0' && C <= '9') D = C - '0';
    else if (Base == 16 && C >= 'a' && C <= 'f') D = C - 'a' + 10;
    else if (Base == 16 && C >= 'A' && C <= 'F') D = C - 'A' + 10;
    else return false;
    N = N * static_cast<unsigned>(Base) + static_cast<unsigned>(D);
    if (N > 0xFFFFFFFFull) return false;
  }
  int64_t V;
  if (Base == 16) {
    V = static_cast<int32_t>(static_cast<uint32_t>(N));  // a 32-bit pattern
  } else {
    V = static_cast<int64_t>(N);
    if (V > (Neg ? 2147483648LL : 2147483647LL)) return false;
  }
  Value = static_cast<int32_t>(Neg ? -V : V);
  return true;
}

bool SameText(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    char X = A[I], Y = B[I];
    if (X >= 'A' && X <= 'Z') X = static_cast<char>(X + 32);
    if (Y >= 'A' && Y <= 'Z') Y = static_cast<char>(Y + 32);
    if (X != Y) return false;
  }
  return true;
}

std::string Trim(const std::string& S) {
  size_t B = 0, E = S.size();
  while (B < E && IsBlank(static_cast<unsigned char>(S[B]))) ++B;
  while (E > B && IsBlank(static_cast<unsigned char>(S[E - 1]))) --E;
  return S.substr(B, E - B);
}

std::string LowerCase(std::string S) {
  for (char& C : S)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C + 32);
  return S;
}

std::string UpperCase(std::string S) {
  for (char& C : S)
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 32);
  return S;
}

TIniFile::TIniFile(const std::string& FileName) : FFileName(FileName) {
  std::ifstream In(FileName, std::ios::binary);
  if (!In) return;
  Parse(std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()));
}

TIniFile TIniFile::FromText(const std::string& Text) {
  TIniFile F;
  F.Parse(Text);
  return F;
}

void TIniFile::Parse(const std::string& Text) {
  size_t Pos = 0;
  // A UTF-8 byte order mark before the first section is not part of its name.
  if (Text.compare(0, 3, "\xEF\xBB\xBF") == 0) Pos = 3;
  TSection* Current = nullptr;
  while (Pos < Text.size()) {
    size_t End = Text.find('\n', Pos);
    if (End == std::string::npos) End = Text.size();
    std::string Line = Trim(Text.substr(Pos, End - Pos));
    Pos = End + 1;
    if (Line.empty() || Line[0] == ';') continue;
    if (Line[0] == '[') {
      const size_t Close = Line.find(']');
      const std::string Name = Trim(Line.substr(1, Close == std::string::npos ? std::string::npos : Close - 1));
      Current = nullptr;
      for (auto& S : FSections)
        if (SameText(S.Name, Name)) Current = &S;
      if (!Current) {
        FSections.push_back({Name, {}});
        Current = &FSections.back();
      }
      continue;
    }
    if (!Current) continue;
    const size_t Eq = Line.find('=');
    if (Eq == std::string::npos) continue;
    TEntry E{Trim(Line.substr(0, Eq)), Trim(Line.substr(Eq + 1))};
    if (E.Value.size() >= 2 && (E.Value.front() == '"' || E.Value.front() == '\'') && E.Value.back() == E.Value.front())
      E.Value = E.Value.substr(1, E.Value.size() - 2);
    bool Seen = false;
    for (const auto& Old : Current->Entries)
      if (SameText(Old.Key, E.Key)) Seen = true;
    if (!Seen) Current->Entries.push_back(std::move(E));
  }
}

const TIniFile::TSection* TIniFile::Find(const std::string& Section) const {
  for (const auto& S : FSections)
    if (SameText(S.Name, Section)) return &S;
  return nullptr;
}

const TIniFile::TEntry* TIniFile::FindEntry(const std::string& Section, const std::string& Ident) const {
  const TSection* S = Find(Section);
  if (!S) return nullptr;
  for (const auto& E : S->Entries)
    if (SameText(E.Key, Ident)) return &E;
  return nullptr;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) const {
  const TEntry* E = FindEntry(Section, Ident);
  return E ? E->Value : Default;
}

int TIniFile::ReadInteger(const std::string& Section, const std::string& Ident, int Default) const {
  const TEntry* E = FindEntry(Section, Ident);
  if (!E) return Default;
  int32_t V;
  return TryStrToInt(E->Value, V) ? V : Default;
}

bool TIniFile::SectionExists(const std::string& Section) const { return Find(Section) != nullptr; }

bool TIniFile::ValueExists(const std::string& Section, const std::string& Ident) const {
  return FindEntry(Section, Ident) != nullptr;
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> R;
  for (const auto& S : FSections) R.push_back(S.Name);
  return R;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& Section) const {
  std::vector<std::string> R;
  if (const TSection* S = Find(Section))
    for (const auto& E : S->Entries) R.push_back(E.Key);
  return R;
}
