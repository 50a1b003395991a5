#include "platform/IniFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {
bool IsBlank(unsigned char C) { return C <= ' '; }

int ParseInt(const std::string& S, bool& Ok) {
  Ok = false;
  if (S.empty()) return 0;
  char* End = nullptr;
  int Base = 10;
  const char* Begin = S.c_str();
  if (S.size() > 2 && S[0] == '0' && (S[1] == 'x' || S[1] == 'X')) {
    Base = 16;
    Begin += 2;
  } else if (S[0] == '$') {
    Base = 16;
    Begin += 1;
  }
  errno = 0;
  const long V = std::strtol(Begin, &End, Base);
  if (End == Begin || *End != '\0' || errno != 0 || V < INT32_MIN || V > INT32_MAX) return 0;
  Ok = true;
  return static_cast<int>(V);
}
}  // namespace

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
  bool Ok;
  const int V = ParseInt(E->Value, Ok);
  return Ok ? V : Default;
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
