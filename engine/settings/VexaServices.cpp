// Start-up of the settings unit and the small services that engine and front end share.
#include <openssl/evp.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "engine/settings/ZQCipher.h"
#include "platform/AtomicFile.h"
#include "platform/AutoStart.h"
#include "platform/IniFile.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/ResolvConf.h"

constinit TSharedString DataDir;
constinit std::atomic<int> SystemCodePage{65001};
constinit TSharedString VersionString;
constinit std::atomic<bool> UseDNSDiskCache{true};
constinit std::atomic<int> DNSMemCacheSize{32};
constinit std::atomic<int> DNSDiskCacheMaxEntries{512};
constinit std::atomic<int> SenderThreadLimit{15};
constinit std::atomic<int> SMTPConnectionLimit{10};
constinit std::atomic<int> DefaultMaxRcptNumber{5000};
constinit std::atomic<int> MaxStoredMails{5000};
constinit std::atomic<bool> AddReceivedHeader{false};
constinit std::atomic<int> ResolverCount{1};
constinit std::atomic<int> FinisherCount{1};
constinit TSharedString CurrentDNSPrimary;
constinit TSharedString CurrentDNSSecondary;

namespace {
constinit std::mutex LanguageListLock;
constinit std::vector<std::string> LanguageListItems;

// AES-128 over whole 16-byte blocks, no chaining and no padding.
std::string AesEcb(const std::string& In, const std::string& Key, bool Encrypt) {
  unsigned char KeyBlock[16] = {};
  std::memcpy(KeyBlock, Key.data(), std::min<size_t>(16, Key.size()));
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> Ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!Ctx || EVP_CipherInit_ex(Ctx.get(), EVP_aes_128_ecb(), nullptr, KeyBlock, nullptr, Encrypt ? 1 : 0) != 1)
    throw std::runtime_error("Cipher initialisation failed");
  EVP_CIPHER_CTX_set_padding(Ctx.get(), 0);
  std::string Out(In.size() + 16, '\0');
  int Len = 0, Tail = 0;
  if (EVP_CipherUpdate(Ctx.get(), reinterpret_cast<unsigned char*>(Out.data()), &Len,
                       reinterpret_cast<const unsigned char*>(In.data()), static_cast<int>(In.size())) != 1 ||
      EVP_CipherFinal_ex(Ctx.get(), reinterpret_cast<unsigned char*>(Out.data()) + Len, &Tail) != 1)
    throw std::runtime_error("Cipher failed");
  Out.resize(static_cast<size_t>(Len + Tail));
  return Out;
}

TInstanceLock& InstanceLock() {
  static TInstanceLock L;
  return L;
}

TInstanceLock& DataFolderLock() {
  static TInstanceLock L;
  return L;
}
}  // namespace

std::vector<std::string> GetLanguageList() {
  std::lock_guard<std::mutex> G(LanguageListLock);
  return LanguageListItems;
}

void SetLanguageList(std::vector<std::string> List) {
  std::lock_guard<std::mutex> G(LanguageListLock);
  LanguageListItems = std::move(List);
}

void CheckSingleInstance() {
  if (!InstanceLock().Acquire("VexaRunInstance")) std::_Exit(0);
  // Our folders hold passwords, mail and logs: where an earlier run (or a wider umask) left
  // one open to others, closing it keeps every file in it out of their reach as well.
  ForceDirectories(ConfigDir());
  ForceDirectories(AppDataDir());
  // A copy started with another runtime folder (or none) takes another lock above; the
  // data folder's own lock keeps it off this copy's mail numbers and files.
  const std::string Data = DataFolder();
  RequireFolder(Data);
  if (!DataFolderLock().AcquireIn(Data, "VexaRunInstance")) {
    if (DataFolderLock().Error() == EWOULDBLOCK) std::_Exit(0);
    throw EFolderError(Data, std::string("cannot lock ") + TInstanceLock::LockFileName("VexaRunInstance") + ": " +
                                 std::strerror(DataFolderLock().Error()));
  }
  // No other copy writes here now: what is left of an atomic rewrite is a crash's.
  RemoveStaleTempFiles(Data);
}

void InitConstants() {
  UseDNSDiskCache = true;
  DNSMemCacheSize = 32;
  DNSDiskCacheMaxEntries = 512;
  SenderThreadLimit = 15;
  SMTPConnectionLimit = 10;
  DefaultMaxRcptNumber = 5000;
  MaxStoredMails = 5000;
  AddReceivedHeader = false;
  ResolverCount = 1;
  FinisherCount = 1;
}

void InitSettings() {
  DataDir = DataFolder();
  SystemCodePage = 65001;
  VersionString = GetVersionString();
  InitConstants();
  ReadSettings();
  LoadLanguageList();
}

void GetFileVersion(uint16_t& Major, uint16_t& Minor, uint16_t& Release, uint16_t& Build) {
  Major = QUILLON_VERSION_MAJOR;
  Minor = QUILLON_VERSION_MINOR;
  Release = QUILLON_VERSION_RELEASE;
  Build = QUILLON_VERSION_BUILD;
}

std::string GetVersionString() {
  uint16_t A, B, C, D;
  GetFileVersion(A, B, C, D);
  return std::to_string(A) + "." + std::to_string(B) + "." + std::to_string(C) + "." + std::to_string(D);
}

std::string EncryptString(const std::string& Plain, const std::string& Key) {
  const uint32_t L = static_cast<uint32_t>(Plain.size());
  std::string Out;
  for (int I = 0; I < 4; ++I) Out += static_cast<char>((L >> (8 * I)) & 0xFF);
  std::string Padded = Plain;
  Padded.resize((Plain.size() + 15) / 16 * 16, '\0');
  Out += AesEcb(Padded, Key, true);
  return StrToHex(Out);
}

std::string DecryptString(const std::string& Hex, const std::string& Key) {
  const std::string Head = HexToStr(Hex.substr(0, 8));
  if (Head.size() < 4) return std::string();
  uint32_t L = 0;
  for (int I = 3; I >= 0; --I) L = (L << 8) | static_cast<unsigned char>(Head[static_cast<size_t>(I)]);
  const std::string Rest = HexToStr(Hex).substr(4);
  if (Rest.size() % 16) throw std::runtime_error("Invalid buffer size for decryption");
  const std::string Plain = AesEcb(Rest, Key, false);
  return Plain.substr(0, std::min<size_t>(L, Plain.size()));
}

void ApplySocksSettings(TSocksInfo& Info) {
  if (!UseSocksProxy) {
    Info.Version = TSocksVersion::svNoSocks;
    return;
  }
  // A stored version outside the list (written by hand, or by an older dialog) counts as
  // the default, SOCKS 5: the proxy is on, so the mail must never go out directly.
  switch (SocksVersion) {
    case 1: Info.Version = TSocksVersion::svSocks4; break;
    case 2: Info.Version = TSocksVersion::svSocks4A; break;
    default: Info.Version = TSocksVersion::svSocks5; break;
  }
  Info.Host = SocksHost.get();
  Info.Port = SocksPort;
  if (SocksAuthentication) {
    Info.Authentication = TSocksAuthentication::saUsernamePassword;
    Info.Username = SocksUsername.get();
    Info.Password = SocksPassword.get();
  } else {
    Info.Authentication = TSocksAuthentication::saNoAuthentication;
  }
}

namespace {
// Runs the four dotted-quad steps; false when one fails.
bool ParseIP(const std::string& S, uint32_t& Value) {
  std::string Rest = S;
  Value = 0;
  for (int I = 0; I < 4; ++I) {
    const size_t Dot = Rest.find('.');
    std::string Part = Trim(Dot == std::string::npos ? Rest : Rest.substr(0, Dot));
    Rest = Dot == std::string::npos ? std::string() : Rest.substr(Dot + 1);
    if (Part.empty()) return false;
    // The whole part as an integer, as the class library converts text.
    int32_t N;
    if (!TryStrToInt(Part, N) || N < 0 || N > 255) return false;
    Value = Value * 256 + static_cast<uint32_t>(N);
  }
  return true;
}
}  // namespace

bool IsValidIP(const std::string& S) {
  uint32_t V;
  return ParseIP(S, V);
}

uint32_t IPToInt(const std::string& S) {
  uint32_t V;
  return ParseIP(S, V) ? V : 0;
}

void SetAutoRun() {
  if (AutoRun)
    WriteAutostartEntry(ProgramFile());
  else if (AutostartEntryExists())
    RemoveAutostartEntry();
}

TDateTime GetLastCheckVersionDate() {
  TRegistry Reg;
  if (!Reg.OpenKey(SettingsKey, true)) FatalRegistryError();
  try {
    const std::string B = Reg.ReadBinaryData("LastCheckVersionDate");
    if (B.size() != 8) return 0;
    uint64_t Bits = 0;
    for (int I = 7; I >= 0; --I) Bits = (Bits << 8) | static_cast<unsigned char>(B[static_cast<size_t>(I)]);
    double D;
    std::memcpy(&D, &Bits, 8);
    return std::isfinite(D) ? std::trunc(D) : 0;
  } catch (...) {
    return 0;
  }
}

void SetLastCheckVersionDate(TDateTime Value) {
  TRegistry Reg;
  if (!Reg.OpenKey(SettingsKey, true)) FatalRegistryError();
  uint64_t Bits;
  std::memcpy(&Bits, &Value, 8);
  std::string B;
  for (int I = 0; I < 8; ++I) B += static_cast<char>((Bits >> (8 * I)) & 0xFF);
  try {
    Reg.WriteBinaryData("LastCheckVersionDate", B);
  } catch (...) {
  }
}

void GetDNSServersFrom(const std::string& ResolvConf, std::vector<std::string>& List) {
  List = ReadResolvConfNameservers(ResolvConf);
}

void GetDNSServers(std::vector<std::string>& List) { GetDNSServersFrom("/etc/resolv.conf", List); }

void SelectDNSServers() { SelectDNSServers(GetDNSServers); }

void SelectDNSServers(const std::function<void(std::vector<std::string>&)>& GetSystemServers) {
  std::string Primary, Secondary;
  if (AutoDetectDNS) {
    std::vector<std::string> List;
    GetSystemServers(List);
    if (List.empty()) {
      Primary = DNSPrimary.get();
      Secondary = DNSSecondary.get();
    } else {
      Primary = List[0];
      if (List.size() > 1) Secondary = List[1];
    }
  } else {
    Primary = DNSPrimary.get();
    Secondary = DNSSecondary.get();
  }
  if (Trim(Primary).empty()) Primary = DefaultDNSPrimary;
  if (Trim(Secondary).empty()) Secondary = DefaultDNSSecondary;
  CurrentDNSPrimary = Primary;
  CurrentDNSSecondary = Secondary;
}

int CompareInt(int64_t A, int64_t B) { return A == B ? 0 : (A > B ? 1 : -1); }

int CompareDateTime(TDateTime A, TDateTime B) { return A == B ? 0 : (A > B ? 1 : -1); }
