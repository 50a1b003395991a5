// The settings variables and their storage in the registry.
#include <cstdio>
#include <variant>

#include "engine/settings/VexaBase.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

const char* const SettingsKey = "\\Software\\Nimbrel\\Quillon Pro";
constexpr const char* DefaultDNSPrimary = "8.8.8.8";
constexpr const char* DefaultDNSSecondary = "1.1.1.1";
const char* const StoredPasswordKey = "3817204956120738";

constinit std::atomic<bool> AutoRun{false};
constinit std::atomic<bool> AutoStartServer{true};
constinit std::atomic<bool> DelMessageAfterSent{false};
constinit std::atomic<int> DelMessageDelay{0};
constinit std::atomic<bool> RetrySend{false};
constinit std::atomic<int> RetryInterval{10};
constinit std::atomic<int> MaxRetries{3};
constinit std::atomic<bool> MinToTray{false};
constinit std::atomic<bool> AutoDetectDNS{true};
constinit TSharedString DNSPrimary{DefaultDNSPrimary};
constinit TSharedString DNSSecondary{DefaultDNSSecondary};
constinit std::atomic<int> DNSQueryTimeout{10000};
constinit std::atomic<bool> UseSocksProxy{false};
constinit std::atomic<int> SocksVersion{0};
constinit TSharedString SocksHost;
constinit std::atomic<int> SocksPort{0};
constinit std::atomic<bool> SocksAuthentication{false};
constinit TSharedString SocksUsername;
constinit TSharedString SocksPassword;
constinit std::atomic<int> SMTPPort{25};
constinit std::atomic<int> SMTPMaxConnections{3};
constinit std::atomic<bool> LocalUserOnly{true};
constinit std::atomic<bool> SMTPAUthLogin{false};
constinit TSharedString SMTPLoginUsername;
constinit TSharedString SMTPLoginPassword;
constinit std::atomic<bool> SMTPMultiIPBind{false};
constinit TSharedString SMTPMultiIPBinds;
constinit std::atomic<bool> SMTPIPUseGranted{false};
constinit TSharedString SMTPIPGrantList;
constinit TSharedString SMTPIPDenyList;
constinit std::atomic<bool> SMTPRcptLimit{false};
constinit std::atomic<int> SMTPMaxRcptNumber{100};
constinit std::atomic<bool> UseAttachmentFilter{false};
constinit TSharedString AttachmentFilters{"1:bat;1:com;1:exe;1:js;1:pif;1:scr;1:vbs"};
constinit std::atomic<bool> ForbiddenMultiConn{false};
constinit std::atomic<bool> AuthByFromAddr{false};
constinit std::atomic<bool> AuthFromUseGranted{true};
constinit TSharedString AuthFromGrantList;
constinit TSharedString AuthFromDenyList;
constinit std::atomic<int> SenderMaxThreadCount{3};
constinit std::atomic<int> SenderConntecTimeout{100};
constinit TSharedString SenderHostname;
constinit std::atomic<bool> SenderPauseAfterSent{false};
constinit std::atomic<int> SenderPauseMailCount{10};
constinit std::atomic<int> SenderPauseTime{10};
constinit std::atomic<bool> RelayToSMTP{false};
constinit TSharedString RelaySMTPList;
constinit std::atomic<bool> DisableDirectDelivery{false};
constinit std::atomic<bool> RelayDomains{false};
constinit TSharedString RelayDomainList;
constinit std::atomic<bool> SendNotifyMail{false};
constinit std::atomic<bool> NotifyMailSender{true};
constinit TSharedString SpecialNotifyMail;
constinit std::atomic<bool> DelNotifiedMail{true};
constinit std::atomic<bool> PlayEventSound{true};
constinit TSharedString SndMailSent;
constinit TSharedString SndMailSentFailed;
constinit std::atomic<bool> AutoSwitchAccount{false};
constinit TSharedString AccountSelection;
constinit TSharedString LanguageName{"English.ini"};

namespace {
struct TScrambled {
  TSharedString* Var;
};
struct TSetting {
  const char* Name;
  std::variant<std::atomic<bool>*, std::atomic<int>*, TSharedString*, TScrambled> Var;
  int Default = 0;                   // Booleans and integers
  const char* DefaultText = "";      // strings
  bool InProgramDir = false;         // DefaultText is relative to the program folder
};

// Settings in read order; LanguageName (last) is read here but written by the language menu.
const TSetting Settings[] = {
    {"AutoRun", &AutoRun, 0},
    {"AutoStartServer", &AutoStartServer, 1},
    {"DelMessageAfterSent", &DelMessageAfterSent, 0},
    {"DelMessageDelay", &DelMessageDelay, 0},
    {"RetrySend", &RetrySend, 0},
    {"RetryInterval", &RetryInterval, 10},
    {"MaxRetries", &MaxRetries, 3},
    {"MinToTray", &MinToTray, 0},
    {"AutoDetectDNS", &AutoDetectDNS, 1},
    {"DNSPrimary", &DNSPrimary, 0, DefaultDNSPrimary},
    {"DNSSecondary", &DNSSecondary, 0, DefaultDNSSecondary},
    {"DNSQueryTimeout", &DNSQueryTimeout, 10000},
    {"UseSocksProxy", &UseSocksProxy, 0},
    {"SocksVersion", &SocksVersion, 0},
    {"SocksHost", &SocksHost, 0},
    {"SocksPort", &SocksPort, 0},
    {"SocksAuthentication", &SocksAuthentication, 0},
    {"SocksUsername", &SocksUsername, 0},
    {"SocksPassword", TScrambled{&SocksPassword}, 0},
    {"SMTPPort", &SMTPPort, 25},
    {"SMTPMaxConnections", &SMTPMaxConnections, 3},
    {"LocalUserOnly", &LocalUserOnly, 1},
    {"SMTPAUthLogin", &SMTPAUthLogin, 0},
    {"SMTPLoginUsername", TScrambled{&SMTPLoginUsername}, 0},
    {"SMTPLoginPassword", TScrambled{&SMTPLoginPassword}, 0},
    {"SMTPMultiIPBind", &SMTPMultiIPBind, 0},
    {"SMTPMultiIPBinds", &SMTPMultiIPBinds, 0},
    {"SMTPIPUseGranted", &SMTPIPUseGranted, 0},
    {"SMTPIPGrantList", &SMTPIPGrantList, 0},
    {"SMTPIPDenyList", &SMTPIPDenyList, 0},
    {"SMTPRcptLimit", &SMTPRcptLimit, 0},
    {"SMTPMaxRcptNumber", &SMTPMaxRcptNumber, 100},
    {"UseAttachmentFilter", &UseAttachmentFilter, 0},
    {"AttachmentFilters", &AttachmentFilters, 0, "1:bat;1:com;1:exe;1:js;1:pif;1:scr;1:vbs"},
    {"ForbiddenMultiConn", &ForbiddenMultiConn, 0},
    {"AuthByFromAddr", &AuthByFromAddr, 0},
    {"AuthFromUseGranted", &AuthFromUseGranted, 1},
    {"AuthFromGrantList", &AuthFromGrantList, 0},
    {"AuthFromDenyList", &AuthFromDenyList, 0},
    {"SenderMaxThreadCount", &SenderMaxThreadCount, 3},
    {"SenderConntecTimeout", &SenderConntecTimeout, 100},
    {"SenderHostname", &SenderHostname, 0},
    {"SenderPauseAfterSent", &SenderPauseAfterSent, 0},
    {"SenderPauseMailCount", &SenderPauseMailCount, 10},
    {"SenderPauseTime", &SenderPauseTime, 10},
    {"RelayToSMTP", &RelayToSMTP, 0},
    {"RelaySMTPList", &RelaySMTPList, 0},
    {"DisableDirectDelivery", &DisableDirectDelivery, 0},
    {"RelayDomains", &RelayDomains, 0},
    {"RelayDomainList", &RelayDomainList, 0},
    {"SendNotifyMail", &SendNotifyMail, 0},
    {"NotifyMailSender", &NotifyMailSender, 1},
    {"SpecialNotifyMail", &SpecialNotifyMail, 0},
    {"DelNotifiedMail", &DelNotifiedMail, 1},
    {"PlayEventSound", &PlayEventSound, 1},
    {"SndMailSent", &SndMailSent, 0, "Sound/MailSent.wav", true},
    {"SndMailSentFailed", &SndMailSentFailed, 0, "Sound/MailSentFailed.wav", true},
    {"AutoSwitchAccount", &AutoSwitchAccount, 0},
    {"AccountSelection", &AccountSelection, 0},
    {"LanguageName", &LanguageName, 0, "English.ini"},
};
constexpr size_t SettingCount = sizeof Settings / sizeof Settings[0];
static_assert(SettingCount == 60);

template <class... F>
struct TOverload : F... {
  using F::operator()...;
};
template <class... F>
TOverload(F...) -> TOverload<F...>;

void Clamp(std::atomic<int>& V, int Limit) {
  if (V > Limit) V = Limit;
  if (V <= 0) V = 1;
}

std::string DefaultOf(const TSetting& S) {
  return S.InProgramDir ? ProgramDir() + S.DefaultText : std::string(S.DefaultText);
}

void ReadOne(const TRegistry& Reg, const TSetting& S) {
  std::visit(TOverload{
                 [&](std::atomic<bool>* P) {
                   try {
                     *P = Reg.ReadInteger(S.Name) != 0;
                   } catch (...) {
                     *P = S.Default != 0;
                   }
                 },
                 [&](std::atomic<int>* P) {
                   try {
                     *P = Reg.ReadInteger(S.Name);
                   } catch (...) {
                     *P = S.Default;
                   }
                 },
                 [&](TSharedString* P) {
                   try {
                     *P = Reg.ValueExists(S.Name) ? Reg.ReadString(S.Name) : DefaultOf(S);
                   } catch (...) {
                     *P = DefaultOf(S);
                   }
                 },
                 [&](TScrambled P) {
                   try {
                     *P.Var = DecryptString(Reg.ReadString(S.Name), StoredPasswordKey);
                   } catch (...) {
                     *P.Var = std::string();
                   }
                 },
             },
             S.Var);
}

void WriteOne(TRegistry& Reg, const TSetting& S) {
  try {
    std::visit(TOverload{
                   [&](std::atomic<bool>* P) { Reg.WriteBool(S.Name, P->load()); },
                   [&](std::atomic<int>* P) { Reg.WriteInteger(S.Name, P->load()); },
                   [&](TSharedString* P) { Reg.WriteString(S.Name, P->get()); },
                   [&](TScrambled P) { Reg.WriteString(S.Name, EncryptString(P.Var->get(), StoredPasswordKey)); },
               },
               S.Var);
  } catch (...) {
    // each write stands alone
  }
}

TErrorBoxHandler& ErrorBoxHandler() {
  static TErrorBoxHandler H;
  return H;
}
}  // namespace

void SetErrorBoxHandler(TErrorBoxHandler Handler) { ErrorBoxHandler() = std::move(Handler); }

void ShowRegistryError() {
  // Which file and which line, for whoever has to mend it; the box keeps its own text.
  if (const std::string Why = TRegistry::ReadError(); !Why.empty()) std::fprintf(stderr, "%s\n", Why.c_str());
  if (ErrorBoxHandler())
    ErrorBoxHandler()("Error reading registry!", "Error");
  else
    std::fprintf(stderr, "Error: Error reading registry!\n");
}

void FatalRegistryError() {
  ShowRegistryError();
  std::exit(1);
}

void ReadSettings() {
  TRegistry Reg;
  if (!Reg.OpenKey(SettingsKey, true)) FatalRegistryError();
  for (size_t I = 0; I < SettingCount; ++I) {
    ReadOne(Reg, Settings[I]);
    if (std::string(Settings[I].Name) == "SenderPauseTime") {
      Clamp(SenderMaxThreadCount, SenderThreadLimit);
      Clamp(SMTPMaxConnections, SMTPConnectionLimit);
    }
  }
  // DNS detection reads the machine's resolver configuration, which every Linux has:
  // AutoDetectDNS keeps its stored value.
}

bool WriteSettings() {
  if (SenderMaxThreadCount > SenderThreadLimit) SenderMaxThreadCount = SenderThreadLimit.load();
  if (SMTPMaxConnections > SMTPConnectionLimit) SMTPMaxConnections = SMTPConnectionLimit.load();
  TRegistry Reg;
  if (!Reg.OpenKey(SettingsKey, true)) {
    ShowRegistryError();
    return false;
  }
  const TSetting* Forbidden = nullptr;
  for (const TSetting& S : Settings) {
    const std::string Name = S.Name;
    if (Name == "LanguageName") continue;
    if (Name == "ForbiddenMultiConn") {
      Forbidden = &S;
      continue;
    }
    WriteOne(Reg, S);
    if (Name == "SenderHostname" && Forbidden) WriteOne(Reg, *Forbidden);
  }
  // The values reach the file only when the key is closed; a file that cannot be written
  // gets the same box as one that cannot be opened.
  if (!Reg.CloseKey()) {
    std::fprintf(stderr, "Cannot write the registry file \"%s\"\n", TRegistry::FileName().c_str());
    ShowRegistryError();
    return false;
  }
  return true;
}
