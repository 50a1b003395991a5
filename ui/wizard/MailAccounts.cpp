#include "ui/wizard/MailAccounts.h"

#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"
#include "ui/options/DialogControls.h"

const char* const AccountManagerKey = "\\Software\\Microsoft\\Internet Account Manager";
const char* const AccountsKey = "\\Software\\Microsoft\\Internet Account Manager\\Accounts";
const char* const OldValuePrefix = "Quillon Old ";

namespace {
const char* const RewrittenValues[] = {"SMTP Server", "SMTP Port", "SMTP Secure Connection", "SMTP Use Sicily"};

std::string ReadText(const TRegistry& Reg, const std::string& Name) {
  try {
    return CutToCapacity(Reg.ReadString(Name), 100);
  } catch (const std::exception&) {
    return std::string();
  }
}

int32_t ReadNumber(const TRegistry& Reg, const std::string& Name) {
  try {
    return Reg.ReadInteger(Name);
  } catch (const std::exception&) {
    return -1;
  }
}

// Copies value From to To with its type; nothing when From is missing.
void CopyValue(TRegistry& Reg, const std::string& From, const std::string& To) {
  switch (Reg.GetDataType(From)) {
    case TRegDataType::rdString:
      Reg.WriteString(To, Reg.ReadString(From));
      break;
    case TRegDataType::rdInteger:
      Reg.WriteInteger(To, Reg.ReadInteger(From));
      break;
    case TRegDataType::rdBinary:
      Reg.WriteBinaryData(To, Reg.ReadBinaryData(From));
      break;
    case TRegDataType::rdUnknown:
      break;
  }
}

// The first rewrite of an account keeps what it replaces; "SMTP Server" is in every account
// we list, so its copy marks the account as kept.
void KeepEarlierValues(TRegistry& Reg) {
  if (Reg.ValueExists(std::string(OldValuePrefix) + "SMTP Server")) return;
  for (const char* Name : RewrittenValues) CopyValue(Reg, Name, OldValuePrefix + std::string(Name));
}
}  // namespace

std::vector<TMailAccountInfo> ReadOEAccounts() {
  std::vector<TMailAccountInfo> Accounts;
  TRegistry Reg;
  if (!Reg.KeyExists(AccountManagerKey) || !Reg.OpenKey(AccountManagerKey, false)) return Accounts;
  const std::string Default = ReadText(Reg, "Default Mail Account");
  Reg.CloseKey();
  if (Default.empty()) return Accounts;
  if (!Reg.OpenKey(AccountsKey, false)) return Accounts;
  const std::vector<std::string> Names = Reg.GetKeyNames();
  Reg.CloseKey();
  for (const std::string& Name : Names) {
    if (Trim(Name).empty()) continue;
    if (!Reg.OpenKey(std::string(AccountsKey) + "\\" + Name, false)) continue;
    if (Reg.ValueExists("SMTP Server")) {
      TMailAccountInfo A;
      A.Kind = 0;
      A.KeyName = Name;  // whole, or the key could not be opened again
      A.AccountName = ReadText(Reg, "Account Name");
      A.SMTPServer = ReadText(Reg, "SMTP Server");
      A.SMTPPort = ReadNumber(Reg, "SMTP Port");
      A.SMTPSecureConnection = ReadNumber(Reg, "SMTP Secure Connection");
      A.SMTPUseSicily = ReadNumber(Reg, "SMTP Use Sicily");
      if (!A.SMTPServer.empty()) Accounts.push_back(std::move(A));
    }
    Reg.CloseKey();
  }
  return Accounts;
}

void SetOEAccountsToLocalhost(const std::vector<const TMailAccountInfo*>& Accounts) {
  TRegistry Reg;
  for (const TMailAccountInfo* A : Accounts) {
    if (A->Kind != 0) continue;
    if (!Reg.OpenKey(std::string(AccountsKey) + "\\" + A->KeyName, false)) continue;
    KeepEarlierValues(Reg);
    Reg.WriteString("SMTP Server", "localhost");
    Reg.WriteInteger("SMTP Port", SMTPPort);
    if (Reg.ValueExists("SMTP Secure Connection")) Reg.WriteInteger("SMTP Secure Connection", 0);
    if (Reg.ValueExists("SMTP Use Sicily")) Reg.WriteInteger("SMTP Use Sicily", 0);
    Reg.CloseKey();
  }
}

bool IsOutlookExpressRunning() { return false; }

const char* AccountProgramName(uint8_t Kind) { return Kind == 1 ? "Outlook" : "Outlook Express"; }
