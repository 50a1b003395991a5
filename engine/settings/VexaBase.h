#pragma once
// The settings unit: every user setting as a program-wide variable named after its registry
// value, the program-wide constants, and the small system services that engine and front
// end share. Booleans and integers are atomics and strings are TSharedString, so engine
// threads may read them while the GUI thread changes them.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/SharedString.h"

// Registry key of the settings, under HKEY_CURRENT_USER.
extern const char* const SettingsKey;

// --- Settings (registry value names) ---
extern std::atomic<bool> AutoRun;
extern std::atomic<bool> AutoStartServer;
extern std::atomic<bool> DelMessageAfterSent;
extern std::atomic<int> DelMessageDelay;
extern std::atomic<bool> RetrySend;
extern std::atomic<int> RetryInterval;
extern std::atomic<int> MaxRetries;
extern std::atomic<bool> MinToTray;
extern std::atomic<bool> AutoDetectDNS;
extern TSharedString DNSPrimary;
extern TSharedString DNSSecondary;
extern std::atomic<int> DNSQueryTimeout;
extern std::atomic<bool> UseSocksProxy;
extern std::atomic<int> SocksVersion;
extern TSharedString SocksHost;
extern std::atomic<int> SocksPort;
extern std::atomic<bool> SocksAuthentication;
extern TSharedString SocksUsername;
extern TSharedString SocksPassword;
extern std::atomic<int> SMTPPort;
extern std::atomic<int> SMTPMaxConnections;
extern std::atomic<bool> LocalUserOnly;
extern std::atomic<bool> SMTPAUthLogin;
extern TSharedString SMTPLoginUsername;
extern TSharedString SMTPLoginPassword;
extern std::atomic<bool> SMTPMultiIPBind;
extern TSharedString SMTPMultiIPBinds;
extern std::atomic<bool> SMTPIPUseGranted;
extern TSharedString SMTPIPGrantList;
extern TSharedString SMTPIPDenyList;
extern std::atomic<bool> SMTPRcptLimit;
extern std::atomic<int> SMTPMaxRcptNumber;
extern std::atomic<bool> UseAttachmentFilter;
extern TSharedString AttachmentFilters;
extern std::atomic<bool> ForbiddenMultiConn;
extern std::atomic<bool> AuthByFromAddr;
extern std::atomic<bool> AuthFromUseGranted;
extern TSharedString AuthFromGrantList;
extern TSharedString AuthFromDenyList;
extern std::atomic<int> SenderMaxThreadCount;
extern std::atomic<int> SenderConntecTimeout;
extern TSharedString SenderHostname;
extern std::atomic<bool> SenderPauseAfterSent;
extern std::atomic<int> SenderPauseMailCount;
extern std::atomic<int> SenderPauseTime;
extern std::atomic<bool> RelayToSMTP;
extern TSharedString RelaySMTPList;
extern std::atomic<bool> DisableDirectDelivery;
extern std::atomic<bool> RelayDomains;
extern TSharedString RelayDomainList;
extern std::atomic<bool> SendNotifyMail;
extern std::atomic<bool> NotifyMailSender;
extern TSharedString SpecialNotifyMail;
extern std::atomic<bool> DelNotifiedMail;
extern std::atomic<bool> PlayEventSound;
extern TSharedString SndMailSent;
extern TSharedString SndMailSentFailed;
extern std::atomic<bool> AutoSwitchAccount;
extern TSharedString AccountSelection;
extern TSharedString LanguageName;

// Defaults of the two configured DNS servers.
extern const char* const DefaultDNSPrimary;
extern const char* const DefaultDNSSecondary;

// --- Program-wide values set by InitSettings ---
extern TSharedString DataDir;  // data folder, with trailing "/"
extern std::atomic<int> SystemCodePage;  // 65001: the engine's byte strings are UTF-8
extern TSharedString VersionString;
extern std::atomic<bool> UseDNSDiskCache;
extern std::atomic<int> DNSMemCacheSize;
extern std::atomic<int> DNSDiskCacheMaxEntries;
extern std::atomic<int> SenderThreadLimit;
extern std::atomic<int> SMTPConnectionLimit;
extern std::atomic<int> DefaultMaxRcptNumber;
extern std::atomic<int> MaxStoredMails;
extern std::atomic<bool> AddReceivedHeader;
extern std::atomic<int> ResolverCount;
extern std::atomic<int> FinisherCount;

// The DNS servers in use, chosen by the main window when the server starts.
extern TSharedString CurrentDNSPrimary;
extern TSharedString CurrentDNSSecondary;

// Display name "=" file name of every usable language file, sorted without case.
std::vector<std::string> GetLanguageList();
void SetLanguageList(std::vector<std::string> List);

// The 16-digit key of the scrambled settings.
extern const char* const StoredPasswordKey;

// --- Settings storage ---
void ReadSettings();
// False, after the registry error box, when the settings could not be saved.
bool WriteSettings();

// --- Start-up ---
// Ends the process at once, without a message, when another copy holds "VexaRunInstance",
// in the runtime folder or in the data folder (a copy with another runtime folder must not
// share the mails). Raises EFolderError when the data folder cannot be written. Removes
// what crashed atomic writes left in the data folder.
void CheckSingleInstance();
// DataDir, code page, version, the constants, ReadSettings, LoadLanguageList.
void InitSettings();
// Sets the constants of the start-up table (also used by tests).
void InitConstants();

// "Error reading registry!" with the caption "Error": shown through the handler the
// front end installs (standard error when none is installed), after a line on standard
// error that names the file and the line that could not be read. Fatal ends the program.
using TErrorBoxHandler = std::function<void(const std::string& Text, const std::string& Caption)>;
void SetErrorBoxHandler(TErrorBoxHandler Handler);
void ShowRegistryError();
[[noreturn]] void FatalRegistryError();

// --- Services ---
void GetFileVersion(uint16_t& Major, uint16_t& Minor, uint16_t& Release, uint16_t& Build);
std::string GetVersionString();

std::string EncryptString(const std::string& Plain, const std::string& Key);
// Raises EConvertError (bad hexadecimal) or std::runtime_error (not whole blocks).
std::string DecryptString(const std::string& Hex, const std::string& Key);

// SOCKS settings of one outgoing connection.
enum class TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum class TSocksAuthentication { saNoAuthentication, saUsernamePassword };
struct TSocksInfo {
  TSocksVersion Version = TSocksVersion::svNoSocks;
  std::string Host;
  int Port = 0;
  TSocksAuthentication Authentication = TSocksAuthentication::saNoAuthentication;
  std::string Username;
  std::string Password;
};
void ApplySocksSettings(TSocksInfo& Info);

bool IsValidIP(const std::string& S);
uint32_t IPToInt(const std::string& S);

// Writes or removes the desktop autostart entry according to AutoRun; raises on a write failure.
void SetAutoRun();

TDateTime GetLastCheckVersionDate();
void SetLastCheckVersionDate(TDateTime Value);

// The DNS servers configured on the machine.
void GetDNSServers(std::vector<std::string>& List);
// The same, from a resolv.conf of the caller's choice (tests).
void GetDNSServersFrom(const std::string& ResolvConf, std::vector<std::string>& List);
// Chooses CurrentDNSPrimary and CurrentDNSSecondary when the server starts: the machine's
// servers with AutoDetectDNS (the configured ones when it has none), else the configured
// ones; a blank choice falls back to the default pair.
void SelectDNSServers();
// The same with the machine's servers from GetSystemServers (tests, the main window).
void SelectDNSServers(const std::function<void(std::vector<std::string>&)>& GetSystemServers);

int CompareInt(int64_t A, int64_t B);
int CompareDateTime(TDateTime A, TDateTime B);
inline int Min(int A, int B) { return A < B ? A : B; }
