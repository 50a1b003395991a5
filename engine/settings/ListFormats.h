#pragma once
// The text formats of the list-valued settings: entries joined by ";", fields inside an
// entry joined by ":", no quoting. Each format has one reader and one writer here.
#include <string>
#include <vector>

// Entries of a list setting; the empty string is the empty list. Empty entries between
// separators are kept: each reader decides what to do with them.
std::vector<std::string> SplitList(const std::string& S);
std::string JoinList(const std::vector<std::string>& Entries);
// Entries as the receiver and the list dialogs cut them: at every ";", kept as written, an
// empty entry between two ";" kept, a blank remainder after the last ";" dropped.
std::vector<std::string> CutListSetting(const std::string& S);
// Fields of one entry split at every ":" (at most MaxFields; the last takes the rest).
std::vector<std::string> SplitFields(const std::string& Entry, size_t MaxFields = 0);

// One relay SMTP server.
struct TRelaySMTPItem {
  std::string Host;      // at most 255
  int Port = 25;
  bool Auth = false;
  std::string Username;  // at most 255
  std::string Password;  // at most 255, plain text in the list
  std::string Email;     // at most 100; replaces the envelope sender when not blank
  std::string FromEmail; // at most 255; senders or domains that select this server, "|" between
  friend bool operator==(const TRelaySMTPItem&, const TRelaySMTPItem&) = default;
};
// Entries with fewer than seven fields or a blank host are dropped.
std::vector<TRelaySMTPItem> ParseRelaySMTPList(const std::string& S);
std::string FormatRelaySMTPItem(const TRelaySMTPItem& Item);
std::string FormatRelaySMTPList(const std::vector<TRelaySMTPItem>& Items);

// One listening binding "IP:port".
struct TIPBinding {
  std::string IP;
  std::string Port;  // as written; the writer puts "25" where a row has none
};
std::vector<TIPBinding> ParseIPBindings(const std::string& S);
std::string FormatIPBindings(const std::vector<TIPBinding>& Rows);

// One client address rule: an address, or an address with a subnet mask.
struct TIPRule {
  std::string IP;
  std::string Mask;  // empty for a single address
};
std::vector<TIPRule> ParseIPRules(const std::string& S);
std::string FormatIPRules(const std::vector<TIPRule>& Rules);

// One attachment filter row: flag "1" blocked, "0" listed but allowed; extension without dot.
struct TAttachmentFilterItem {
  bool Blocked = true;
  std::string Ext;
};
std::vector<TAttachmentFilterItem> ParseAttachmentFilters(const std::string& S);
std::string FormatAttachmentFilters(const std::vector<TAttachmentFilterItem>& Items);

// Sender grant and deny lists and the relay domain list: one address or domain per entry.
std::vector<std::string> ParsePlainList(const std::string& S);
std::string FormatPlainList(const std::vector<std::string>& Items);
