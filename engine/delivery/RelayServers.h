#pragma once
// The relay SMTP servers and relay domains of the sender module, copied from the settings
// when the module starts, and the choice of a relay server by the mail's sender.
#include <mutex>
#include <string>
#include <vector>

#include "engine/settings/ListFormats.h"

// A lock-protected list of relay servers in the order of the setting.
class TRelayServerList {
public:
  // Refills the list from "RelaySMTPList" when "RelayToSMTP" is on; empty otherwise.
  void Load();
  void Clear();
  void Assign(std::vector<TRelaySMTPItem> Items);
  size_t Count() const;
  // A copy of relay Index; false when the list holds no such entry (any more).
  bool Get(size_t Index, TRelaySMTPItem& Item) const;
  // The first relay whose sender list names MailFrom, or else MailFrom's domain (letter
  // case ignored; an empty entry names nobody); false when none does.
  bool FindRelayServer(const std::string& MailFrom, TRelaySMTPItem& Item) const;

private:
  mutable std::mutex FLock;
  std::vector<TRelaySMTPItem> FItems;
};

// The relay domains of "RelayDomainList", trimmed, blanks dropped, when "RelayDomains" is on.
std::vector<std::string> LoadRelayDomainList();

// Entries of a delimited text in the manner of the class library's string lists: the
// delimiter and blanks (characters 1 to 32) end an entry, an entry in double quotes is
// taken whole (a doubled quote inside stands for one), and a delimiter at the very end
// adds an empty entry.
std::vector<std::string> SplitDelimitedText(const std::string& S, char Delimiter);
