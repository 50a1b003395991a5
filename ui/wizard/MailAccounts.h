#pragma once
// The user's Outlook Express mail accounts as the registry keeps them, and pointing their
// outgoing server at our own SMTP server.
#include <cstdint>
#include <string>
#include <vector>

// One detected mail account.
struct TMailAccountInfo {
  uint8_t Kind = 0;         // 0 Outlook Express, 1 Outlook
  std::string KeyName;      // name of the account's subkey, whole
  std::string AccountName;  // "Account Name", at most 100
  std::string SMTPServer;   // "SMTP Server", at most 100
  int32_t SMTPPort = -1;    // "SMTP Port"; -1 when missing or no number
  int32_t SMTPSecureConnection = -1;
  int32_t SMTPUseSicily = -1;
};

extern const char* const AccountManagerKey;  // "\Software\Microsoft\Internet Account Manager"
extern const char* const AccountsKey;        // its "Accounts" subkey
// Prefix of the value names under which an account keeps the values we replaced.
extern const char* const OldValuePrefix;

// The accounts with an outgoing server, in the order the registry lists their keys. None
// without a "Default Mail Account". Never creates a key, never raises.
std::vector<TMailAccountInfo> ReadOEAccounts();

// Points every Outlook Express account of Accounts at localhost on SMTPPort. The values it
// replaces are kept once per account under OldValuePrefix names, so the user's own server
// can be found again; a later run leaves that copy alone.
void SetOEAccountsToLocalhost(const std::vector<const TMailAccountInfo*>& Accounts);

// Outlook Express has no Linux build, so no window of its can be open.
bool IsOutlookExpressRunning();

// The program column's text for an account kind.
const char* AccountProgramName(uint8_t Kind);
