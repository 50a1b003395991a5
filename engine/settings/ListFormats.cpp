#include "engine/settings/ListFormats.h"

#include <cctype>

#include "platform/IniFile.h"

namespace {
// Digits only, leading zeros allowed; false also when the number does not fit an int.
bool ParseDecimal(const std::string& S, int& Value) {
  if (S.empty()) return false;
  long long N = 0;
  for (char C : S) {
    if (!std::isdigit(static_cast<unsigned char>(C))) return false;
    N = N * 10 + (C - '0');
    if (N > 0x7FFFFFFF) return false;
  }
  Value = static_cast<int>(N);
  return true;
}

std::string Cut(const std::string& S, size_t Max) { return S.size() > Max ? S.substr(0, Max) : S; }
}  // namespace

std::vector<std::string> SplitList(const std::string& S) {
  std::vector<std::string> R;
  if (S.empty()) return R;
  size_t Pos = 0;
  for (;;) {
    const size_t Sep = S.find(';', Pos);
    R.push_back(S.substr(Pos, Sep == std::string::npos ? std::string::npos : Sep - Pos));
    if (Sep == std::string::npos) break;
    Pos = Sep + 1;
  }
  return R;
}

std::string JoinList(const std::vector<std::string>& Entries) {
  std::string R;
  for (size_t I = 0; I < Entries.size(); ++I) {
    if (I) R += ';';
    R += Entries[I];
  }
  return R;
}

std::vector<std::string> CutListSetting(const std::string& S) {
  std::vector<std::string> R = SplitList(S);
  if (!R.empty() && Trim(R.back()).empty()) R.pop_back();
  return R;
}

std::vector<std::string> SplitFields(const std::string& Entry, size_t MaxFields) {
  std::vector<std::string> R;
  size_t Pos = 0;
  for (;;) {
    const size_t Sep = (MaxFields && R.size() + 1 == MaxFields) ? std::string::npos : Entry.find(':', Pos);
    R.push_back(Entry.substr(Pos, Sep == std::string::npos ? std::string::npos : Sep - Pos));
    if (Sep == std::string::npos) break;
    Pos = Sep + 1;
  }
  return R;
}

std::vector<TRelaySMTPItem> ParseRelaySMTPList(const std::string& S) {
  std::vector<TRelaySMTPItem> R;
  for (const auto& Entry : SplitList(S)) {
    const auto F = SplitFields(Entry, 7);
    if (F.size() < 7 || Trim(F[0]).empty()) continue;
    TRelaySMTPItem I;
    I.Host = Cut(F[0], 255);
    if (!ParseDecimal(F[1], I.Port)) I.Port = 25;
    I.Email = Cut(F[2], 100);
    I.Auth = F[3] == "1";
    I.Username = Cut(F[4], 255);
    I.Password = Cut(F[5], 255);
    I.FromEmail = Cut(F[6], 255);
    R.push_back(std::move(I));
  }
  return R;
}

std::string FormatRelaySMTPItem(const TRelaySMTPItem& I) {
  return I.Host + ":" + std::to_string(I.Port) + ":" + I.Email + ":" + (I.Auth ? "1" : "0") + ":" + I.Username + ":" +
         I.Password + ":" + I.FromEmail;
}

std::string FormatRelaySMTPList(const std::vector<TRelaySMTPItem>& Items) {
  std::vector<std::string> E;
  for (const auto& I : Items) E.push_back(FormatRelaySMTPItem(I));
  return JoinList(E);
}

std::vector<TIPBinding> ParseIPBindings(const std::string& S) {
  std::vector<TIPBinding> R;
  for (const auto& Entry : SplitList(S)) {
    const auto F = SplitFields(Entry, 2);
    R.push_back({F[0], F.size() > 1 ? F[1] : std::string()});
  }
  return R;
}

std::string FormatIPBindings(const std::vector<TIPBinding>& Rows) {
  std::vector<std::string> E;
  for (const auto& B : Rows) E.push_back(B.IP + ":" + (B.Port.empty() ? std::string("25") : B.Port));
  return JoinList(E);
}

std::vector<TIPRule> ParseIPRules(const std::string& S) {
  std::vector<TIPRule> R;
  for (const auto& Entry : SplitList(S)) {
    const auto F = SplitFields(Entry, 2);
    R.push_back({F[0], F.size() > 1 ? F[1] : std::string()});
  }
  return R;
}

std::string FormatIPRules(const std::vector<TIPRule>& Rules) {
  std::vector<std::string> E;
  for (const auto& R : Rules) E.push_back(R.Mask.empty() ? R.IP : R.IP + ":" + R.Mask);
  return JoinList(E);
}

std::vector<TAttachmentFilterItem> ParseAttachmentFilters(const std::string& S) {
  std::vector<TAttachmentFilterItem> R;
  for (const auto& Entry : SplitList(S)) {
    const auto F = SplitFields(Entry, 2);
    if (F.size() < 2) continue;
    R.push_back({F[0] == "1", F[1]});
  }
  return R;
}

std::string FormatAttachmentFilters(const std::vector<TAttachmentFilterItem>& Items) {
  std::vector<std::string> E;
  for (const auto& I : Items) E.push_back(std::string(I.Blocked ? "1" : "0") + ":" + I.Ext);
  return JoinList(E);
}

std::vector<std::string> ParsePlainList(const std::string& S) { return SplitList(S); }

std::string FormatPlainList(const std::vector<std::string>& Items) { return JoinList(Items); }
