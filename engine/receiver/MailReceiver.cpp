#include "engine/receiver/MailReceiver.h"

#include <algorithm>

#include "engine/net/LocalHost.h"
#include "engine/net/SocketErrors.h"
#include "engine/receiver/MailFilter.h"
#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/ListFormats.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailStore.h"
#include "engine/store/MailText.h"
#include "platform/IniFile.h"

namespace {
// Refusals before the greeting; program texts, not language entries.
const char* const SLocalUserOnly = "Local user only.";
const char* const SIPBlocked = "Your IP address is blocked by this server.";
const char* const STooManyConnections = "Too many connection. Try again later.";
const char* const SNoLoginUser = "SMTP login is required, but no user name is set: no mail client can log in.";

// A listening port as the settings may give it; 0 is only for the bindings, where it lets
// the system choose.
bool UsablePort(int Port, bool AllowAny) { return Port <= 65535 && (Port >= 1 || (AllowAny && Port == 0)); }

// Code 500 for a client that is never let in, 421 for one that may try again later.
void Refuse(TzqSMTPServerThread& Thread, int Code, const char* Text) {
  try {
    Thread.Connection.WriteLn(std::to_string(Code) + " " + Text);
  } catch (const ESocketError&) {
    // The client is gone already.
  }
  Thread.Connection.Disconnect();
}

std::vector<TMailReceiver::TIPRule> BuildIPRules(const std::string& S) {
  std::vector<TMailReceiver::TIPRule> R;
  for (const auto& Entry : CutListSetting(S)) {
    const auto F = SplitFields(Entry, 2);
    const std::string Addr = F.size() > 1 ? Trim(F[0]) : F[0];
    const std::string Mask = F.size() > 1 ? Trim(F[1]) : std::string("255.255.255.255");
    if (IsValidIP(Addr) && IsValidIP(Mask)) R.push_back({IPToInt(Addr), IPToInt(Mask)});
  }
  return R;
}

// A whole decimal number with an optional sign, as the settings write ports.
bool ReadInt(const std::string& S, int& V) {
  size_t P = 0;
  bool Neg = false;
  if (P < S.size() && (S[P] == '-' || S[P] == '+')) Neg = S[P++] == '-';
  if (P >= S.size() || S.size() - P > 9) return false;
  long N = 0;
  for (; P < S.size(); ++P) {
    if (S[P] < '0' || S[P] > '9') return false;
    N = N * 10 + (S[P] - '0');
  }
  V = static_cast<int>(Neg ? -N : N);
  return true;
}

bool InList(const std::string& Text, const std::vector<std::string>& List) {
  return std::any_of(List.begin(), List.end(), [&](const std::string& E) { return SameText(E, Text); });
}
}  // namespace

TMailReceiver::TMailReceiver(TMailStore* Store) : Store(Store) {
  Server.OnConnect = [this](TPeerThread& T) { ClientConnect(static_cast<TzqSMTPServerThread&>(T)); };
  Server.OnDisconnect = [this](TPeerThread& T) { ClientDisconnect(static_cast<TzqSMTPServerThread&>(T)); };
  Server.OnMailReceived = [this](TzqSMTPServerThread& T, const std::string& From, const std::vector<std::string>& Rcpt,
                                 std::vector<std::string>& Data) { MailReceived(T, From, Rcpt, Data); };
  Server.OnAuth = [this](const std::string& U, const std::string& P) { return CheckLogin(U, P); };
  Server.OnCheckFrom = [this](const std::string& A) { return CheckFrom(A); };
}

TMailReceiver::~TMailReceiver() { Server.SetActive(false); }

void TMailReceiver::DoLog(uint8_t Level, const std::string& Text) {
  if (OnLog) OnLog(Level, CutText(Text, 255));
}

void TMailReceiver::Start() {
  if (Server.Active()) return;
  {
    std::lock_guard<std::mutex> Lock(SlotsLock);
    Slots.clear();
    const int N = SMTPMaxConnections;
    for (int I = 1; I <= N; ++I) {
      auto S = std::make_unique<TClientData>();
      S->Number = I;
      Slots.push_back(std::move(S));
    }
  }

  IPUseGranted = SMTPIPUseGranted;
  IPGrantRules.clear();
  IPDenyRules.clear();
  if (IPUseGranted)
    IPGrantRules = BuildIPRules(SMTPIPGrantList.get());
  else
    IPDenyRules = BuildIPRules(SMTPIPDenyList.get());

  BlockedExts.clear();
  UseAttachmentFilter = ::UseAttachmentFilter;
  if (UseAttachmentFilter)
    for (const auto& Entry : CutListSetting(AttachmentFilters.get())) {
      const size_t Colon = Entry.find(':');
      if (Colon != std::string::npos && Entry[0] == '1') BlockedExts.push_back(Entry.substr(Colon + 1));
    }

  FromCheck = AuthByFromAddr;
  FromUseGranted = AuthFromUseGranted;
  FromGrantList.clear();
  FromDenyList.clear();
  if (FromUseGranted)
    FromGrantList = CutListSetting(AuthFromGrantList.get());
  else
    FromDenyList = CutListSetting(AuthFromDenyList.get());

  Server.RequireAuth = SMTPAUthLogin.load();
  Server.MaxRecipients = SMTPRcptLimit ? SMTPMaxRcptNumber.load() : DefaultMaxRcptNumber.load();

  Server.Bindings.clear();
  if (SMTPMultiIPBind) {
    const std::vector<std::string> Local = GetLocalIPv4Addresses();
    for (const auto& Entry : CutListSetting(SMTPMultiIPBinds.get())) {
      const size_t Colon = Entry.find(':');
      if (Colon == std::string::npos) continue;
      const std::string Addr = Entry.substr(0, Colon);
      int Port;
      if (!ReadInt(Entry.substr(Colon + 1), Port) || !UsablePort(Port, true)) continue;
      if (Addr != "127.0.0.1" && std::find(Local.begin(), Local.end(), Addr) == Local.end()) continue;
      Server.Bindings.push_back({Addr, Port});
    }
  } else {
    if (!UsablePort(SMTPPort, false))
      throw ECouldNotBindSocket("Could not bind socket. Port " + std::to_string(SMTPPort.load()) +
                                " is outside 1 to 65535.");
    Server.DefaultPort = SMTPPort;
  }

  // Active before the first client can connect, so that no early MAIL finds the sender
  // check still closed; a failed activation clears it again.
  Active = true;
  try {
    Server.SetActive(true);
  } catch (const ESocketBindError& E) {
    Active = false;
    throw ECouldNotBindSocket(E.what());
  } catch (...) {
    Active = false;
    throw std::runtime_error("Unknown Error");
  }
  DoLog(0, LangFmt(27, SMTPPort.load()));
  DoLog(0, LangStrings[28] + GetLocalHostName());
  if (Server.RequireAuth && SMTPLoginUsername.get().empty()) DoLog(3, SNoLoginUser);
}

void TMailReceiver::Stop() {
  // Every connection thread has ended (and given back its slot) when this returns.
  Server.SetActive(false);
  IPGrantRules.clear();
  IPDenyRules.clear();
  BlockedExts.clear();
  FromGrantList.clear();
  FromDenyList.clear();
  {
    std::lock_guard<std::mutex> Lock(SlotsLock);
    Slots.clear();
  }
  DoLog(0, LangStrings[30]);
  Active = false;
}

bool TMailReceiver::IPAllowed(const std::string& Address) const {
  const uint32_t A = IPToInt(Address);
  auto Matches = [A](const TIPRule& R) { return (R.Addr & R.Mask) == (A & R.Mask); };
  if (IPUseGranted) return std::any_of(IPGrantRules.begin(), IPGrantRules.end(), Matches);
  return std::none_of(IPDenyRules.begin(), IPDenyRules.end(), Matches);
}

void TMailReceiver::ClientConnect(TzqSMTPServerThread& Thread) {
  const std::string Peer = Thread.Connection.PeerIP();
  // A client on this machine connects from the address it connects to, whichever that is.
  const bool Local = Peer == Thread.Connection.LocalIP();
  if (LocalUserOnly && !Local) return Refuse(Thread, 500, SLocalUserOnly);
  if (!LocalUserOnly && !Local && !IPAllowed(Peer)) return Refuse(Thread, 500, SIPBlocked);
  {
    std::lock_guard<std::mutex> Lock(SlotsLock);
    auto It = std::find_if(Slots.begin(), Slots.end(), [](const auto& S) { return S->Free; });
    if (It != Slots.end()) {
      TClientData& S = **It;
      S.Free = false;
      S.PeerIP = Peer;
      S.Thread = &Thread;
      Thread.Slot = &S;
    }
  }
  if (!Thread.Slot) return Refuse(Thread, 421, STooManyConnections);
  DoLog(1, LangFmt(25, Peer));
}

void TMailReceiver::ClientDisconnect(TzqSMTPServerThread& Thread) {
  if (!Thread.Slot) return;
  std::string Peer;
  {
    std::lock_guard<std::mutex> Lock(SlotsLock);
    TClientData& S = *Thread.Slot;
    Peer = S.PeerIP;
    S.PeerIP.clear();
    S.Thread = nullptr;
    S.Free = true;
  }
  Thread.Slot = nullptr;
  DoLog(1, LangFmt(26, Peer));
}

bool TMailReceiver::CheckFrom(const std::string& Address) {
  if (!Active) return false;
  const size_t At = Address.find('@');
  const std::string Domain = At == std::string::npos ? std::string() : Address.substr(At + 1);
  if (!FromCheck) return true;
  const std::string A = LowerCase(Trim(Address)), D = LowerCase(Trim(Domain));
  if (FromUseGranted) return InList(A, FromGrantList) || InList(D, FromGrantList);
  return !(InList(A, FromDenyList) || InList(D, FromDenyList));
}

bool TMailReceiver::CheckLogin(const std::string& User, const std::string& Password) {
  if (!SMTPAUthLogin) return true;
  // No user name (never set, or stored unscrambled and so unreadable) lets nobody in.
  const std::string Name = SMTPLoginUsername.get();
  return !Name.empty() && User == Name && Password == SMTPLoginPassword.get();
}

void TMailReceiver::MailReceived(TzqSMTPServerThread&, const std::string& MailFrom,
                                 const std::vector<std::string>& Recipients, std::vector<std::string>& Data) {
  if (Store->GetMailCount(TMailKindSet{0, 1, 2, 3}, TMailStateSet{msWaiting}) > MaxStoredMails)
    throw EVexaTooCannotSaveMail("Too many mails received!");
  if (UseAttachmentFilter && !CheckAttachments(Data, BlockedExts)) throw EVexaAttachmentFilter("Illegal attachment");

  auto Mail = std::make_unique<TMailData>();
  Mail->MailFrom = Trim(MailFrom).empty() ? GetFromAddress(Data) : MailFrom;
  Mail->Recipients = Recipients;
  Mail->Data = std::move(Data);  // one copy of a message in memory, not two
  const std::string Subject = GetSubjectHeader(Mail->Data);
  try {
    Mail->Subject = CutText(DecodeHeader(Subject), 80);
  } catch (...) {
    Mail->Subject = CutText(Subject, 80);
  }
  int64_t Size = 0;
  for (const auto& L : Mail->Data) Size += static_cast<int64_t>(L.size()) + 2;
  Mail->Size = static_cast<int32_t>(std::min<int64_t>(Size, INT32_MAX));
  Mail->ReceiveTime = Now();
  Mail->SentTime = 0;
  Mail->Kind = mkReceived;
  Mail->State = msWaiting;
  Mail->FailedAttempts = 0;
  Store->AddMail(*Mail);
}
