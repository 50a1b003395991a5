#include "engine/delivery/RelayServers.h"

#include <algorithm>

#include "engine/dns/DNSBase.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailText.h"
#include "platform/IniFile.h"

namespace {
bool IsBlank(char C) { return C >= 1 && C <= ' '; }
}  // namespace

std::vector<std::string> SplitDelimitedText(const std::string& S, char Delimiter) {
  std::vector<std::string> R;
  size_t P = 0;
  const size_t N = S.size();
  auto SkipBlanks = [&] {
    while (P < N && IsBlank(S[P])) ++P;
  };
  SkipBlanks();
  while (P < N && S[P] != '\0') {
    std::string Entry;
    if (S[P] == '"') {
      ++P;
      while (P < N) {
        if (S[P] == '"') {
          if (P + 1 < N && S[P + 1] == '"') {
            Entry += '"';
            P += 2;
            continue;
          }
          ++P;
          break;
        }
        Entry += S[P++];
      }
    } else {
      const size_t Start = P;
      while (P < N && static_cast<unsigned char>(S[P]) > ' ' && S[P] != Delimiter) ++P;
      Entry = S.substr(Start, P - Start);
    }
    R.push_back(std::move(Entry));
    SkipBlanks();
    if (P < N && S[P] == Delimiter) {
      if (P + 1 >= N) R.emplace_back();
      do
        ++P;
      while (P < N && IsBlank(S[P]));
    }
  }
  return R;
}

void TRelayServerList::Load() {
  std::vector<TRelaySMTPItem> Items;
  if (RelayToSMTP) Items = ParseRelaySMTPList(RelaySMTPList.get());
  Assign(std::move(Items));
}

void TRelayServerList::Clear() { Assign({}); }

void TRelayServerList::Assign(std::vector<TRelaySMTPItem> Items) {
  std::lock_guard<std::mutex> G(FLock);
  FItems = std::move(Items);
}

size_t TRelayServerList::Count() const {
  std::lock_guard<std::mutex> G(FLock);
  return FItems.size();
}

bool TRelayServerList::Get(size_t Index, TRelaySMTPItem& Item) const {
  std::lock_guard<std::mutex> G(FLock);
  if (Index >= FItems.size()) return false;
  Item = FItems[Index];
  return true;
}

bool TRelayServerList::FindRelayServer(const std::string& MailFrom, TRelaySMTPItem& Item) const {
  const std::string From = LowerCase(MailFrom);
  const std::string SenderDomain = LowerCase(ExtractDomain(MailFrom));
  std::lock_guard<std::mutex> G(FLock);
  for (const auto& Relay : FItems) {
    std::string Senders = Relay.FromEmail;
    std::replace(Senders.begin(), Senders.end(), '|', ';');
    const auto List = SplitDelimitedText(LowerCase(Senders), ';');
    // An empty entry (from "a.test|" or "a.test||b.test") names no sender: it must not
    // take the mails of a sender without a domain, such as the null sender of a bounce.
    auto Has = [&](const std::string& S) {
      return std::any_of(List.begin(), List.end(),
                         [&](const std::string& E) { return !E.empty() && SameText(E, S); });
    };
    if (Has(From) || Has(SenderDomain)) {
      Item = Relay;
      return true;
    }
  }
  return false;
}

std::vector<std::string> LoadRelayDomainList() {
  std::vector<std::string> R;
  if (!RelayDomains) return R;
  for (const auto& E : ParsePlainList(RelayDomainList.get())) {
    const std::string D = Trim(E);
    if (!D.empty()) R.push_back(D);
  }
  return R;
}
