#include "ui/update/UpdateBase.h"

#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "engine/settings/VexaBase.h"
#include "platform/HexDigit.h"
#include "platform/IniFile.h"
#include "ui/common/WindowMessages.h"

namespace {
std::mutex ReleaseLock;
TAvailableRelease Release;

// One check at a time: the automatic one and a manual one would otherwise write the
// release found by one beside the version found by the other.
std::mutex CheckLock;
std::condition_variable CheckDone;
bool CheckRunning = false;

const char* const DefaultCheckURL = "https://update.nimbrel.example/onlineupdate/GetVersionVexaPro.php";

int32_t VersionPart(const std::string& S) {
  int32_t V = 0;
  const char* End = S.data() + S.size();
  const auto R = std::from_chars(S.data(), End, V);
  return R.ec == std::errc() && R.ptr == End ? V : 0;
}

std::string PercentDecoded(const std::string& S) {
  std::string Out;
  for (size_t I = 0; I < S.size(); ++I) {
    if (S[I] == '%' && I + 2 < S.size() && HexDigitValue(S[I + 1]) >= 0 && HexDigitValue(S[I + 2]) >= 0) {
      Out += static_cast<char>(HexDigitValue(S[I + 1]) * 16 + HexDigitValue(S[I + 2]));
      I += 2;
    } else {
      Out += S[I];
    }
  }
  return Out;
}
}  // namespace

TAvailableRelease AvailableRelease() {
  std::lock_guard<std::mutex> G(ReleaseLock);
  return Release;
}

void SetAvailableRelease(const TAvailableRelease& R) {
  std::lock_guard<std::mutex> G(ReleaseLock);
  Release = R;
}

std::string VersionCheckURL() {
  const char* Env = std::getenv("QUILLON_UPDATE_URL");
  return Env && *Env ? std::string(Env) : std::string(DefaultCheckURL);
}

std::string UpdateFolder() {
  const char* Cache = std::getenv("XDG_CACHE_HOME");
  std::string Base;
  if (Cache && Cache[0] == '/') {
    Base = Cache;
  } else {
    const char* Home = std::getenv("HOME");
    Base = std::string(Home ? Home : "") + "/.cache";
  }
  if (Base.empty() || Base.back() != '/') Base += '/';
  return Base + "quillon/onlineupdate/";
}

TVersion ParseVersion(const std::string& S) {
  TVersion V;
  size_t Dot = S.find('.');
  if (Dot == std::string::npos) return V;
  V.Major = VersionPart(S.substr(0, Dot));
  std::string Rest = S.substr(Dot + 1);
  if ((Dot = Rest.find('.')) == std::string::npos) return V;
  V.Minor = VersionPart(Rest.substr(0, Dot));
  Rest = Rest.substr(Dot + 1);
  if ((Dot = Rest.find('.')) == std::string::npos) return V;
  V.Release = VersionPart(Rest.substr(0, Dot));
  V.Build = VersionPart(Rest.substr(Dot + 1));
  return V;
}

TVersion FileVersion() {
  uint16_t A, B, C, D;
  GetFileVersion(A, B, C, D);
  return TVersion{A, B, C, D};
}

bool IsNewerVersion(const TVersion& S, const TVersion& F) {
  if (S.Major != F.Major) return S.Major > F.Major;
  if (S.Minor != F.Minor) return S.Minor > F.Minor;
  if (S.Release != F.Release) return S.Release > F.Release;
  return S.Build > F.Build;
}

void ParseURL(const std::string& URL, std::string& Protocol, std::string& Host, std::string& Path,
              std::string& Document, std::string& Port, std::string& Bookmark) {
  Protocol.clear(), Host.clear(), Path.clear(), Document.clear(), Port.clear(), Bookmark.clear();
  std::string S = URL;
  if (const size_t Hash = S.find('#'); Hash != std::string::npos) {
    Bookmark = S.substr(Hash + 1);
    S.erase(Hash);
  }
  if (const size_t Query = S.find('?'); Query != std::string::npos) S.erase(Query);
  if (const size_t Scheme = S.find("://"); Scheme != std::string::npos) {
    Protocol = S.substr(0, Scheme);
    S.erase(0, Scheme + 3);
    const size_t Slash = S.find('/');
    std::string Authority = S.substr(0, Slash);
    S = Slash == std::string::npos ? std::string() : S.substr(Slash);
    if (const size_t At = Authority.rfind('@'); At != std::string::npos) Authority.erase(0, At + 1);
    const size_t Bracket = Authority.rfind(']');
    const size_t Colon = Authority.rfind(':');
    if (Colon != std::string::npos && (Bracket == std::string::npos || Colon > Bracket)) {
      Port = Authority.substr(Colon + 1);
      Authority.erase(Colon);
    }
    Host = Authority;
  }
  const size_t Last = S.rfind('/');
  Path = Last == std::string::npos ? std::string() : S.substr(0, Last + 1);
  Document = Last == std::string::npos ? S : S.substr(Last + 1);
}

std::string UpdateFileName(const std::string& URL) {
  std::string Protocol, Host, Path, Document, Port, Bookmark;
  ParseURL(URL, Protocol, Host, Path, Document, Port, Bookmark);
  const std::string Name = PercentDecoded(Document);
  if (Name.empty() || Name[0] == '.' || Name.find("..") != std::string::npos) return std::string();
  for (unsigned char C : Name)
    if (C == '/' || C == '\\' || C < 32 || C == 127) return std::string();
  return Name;
}

bool FetchableURL(const std::string& URL) {
  std::string Protocol, Host, Path, Document, Port, Bookmark;
  ParseURL(URL, Protocol, Host, Path, Document, Port, Bookmark);
  Protocol = LowerCase(Protocol);
  return (Protocol == "http" || Protocol == "https") && !Trim(Host).empty();
}

bool AcceptVersionReply(const std::string& Reply, std::string& Version, std::string& Address) {
  Version.clear();
  Address.clear();
  std::string Text = Reply;
  if (const size_t CR = Text.find('\r'); CR != std::string::npos) Text = Trim(Text.substr(0, CR));
  const size_t Blank = Text.find(' ');
  if (Blank == std::string::npos) return false;
  const std::string V = Trim(Text.substr(0, Blank)), A = Trim(Text.substr(Blank + 1));
  if (V.empty() || A.empty()) return false;
  if (!IsNewerVersion(ParseVersion(V), FileVersion())) return false;
  if (!FetchableURL(A)) return false;
  const std::string Name = UpdateFileName(A);
  const size_t Dot = Name.rfind('.');
  if (Dot == std::string::npos || LowerCase(Name.substr(Dot)) != ".deb") return false;
  Version = V;
  Address = A;
  return true;
}

TCheckVersionThread::TCheckVersionThread(const std::string& CheckURL) : URL(CheckURL) {
  if (!FetchableURL(URL)) throw EVersionCheckError("Error Version Check URL!");
}

TCheckVersionThread::~TCheckVersionThread() {
  Stop();
  WaitFor();
}

void TCheckVersionThread::Resume() {
  if (!FThread.joinable()) FThread = std::thread([this] { CheckVersion(); });
}

void TCheckVersionThread::Stop() {
  Stopped = true;
  {
    // Under the lock, so a check waiting for its turn cannot miss the wake-up.
    std::lock_guard<std::mutex> G(CheckLock);
  }
  CheckDone.notify_all();
  HTTP.Disconnect();
}

void TCheckVersionThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TCheckVersionThread::CheckVersion() {
  {
    std::unique_lock<std::mutex> G(CheckLock);
    CheckDone.wait(G, [this] { return !CheckRunning || Stopped; });
    if (Stopped) return;
    CheckRunning = true;
  }
  struct TTurn {
    ~TTurn() {
      {
        std::lock_guard<std::mutex> G(CheckLock);
        CheckRunning = false;
      }
      CheckDone.notify_all();
    }
  } Turn;

  SetAvailableRelease(TAvailableRelease());
  uintptr_t Result = 0;
  std::string Body;
  HTTP.OnData = [&Body](const char* Data, size_t Size) {
    Body.append(Data, Size);
    return true;
  };
  HTTP.Get(URL);
  if (Stopped) return;
  std::string Version, Address;
  if (HTTP.ResponseCode() == 200 && AcceptVersionReply(Body, Version, Address)) {
    Result = 1;
    FFound = {Version, Address};
    SetAvailableRelease(FFound);
  }
  if (Stopped) return;
  if (NotifyWindow) PostWindowMessage(NotifyWindow, WM_CHECKVERSIONRESULT, Result);
}
