#pragma once
// The version check: a worker thread asks the update server for the latest release and
// posts the answer to a window. Also the parts of the answer's check that the download
// window shares: the address parser and the safe local file name.
#include <QObject>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

#include "ui/update/HttpClient.h"

// The release a check found: both empty unless the last check found a usable newer one.
// The two are always read and written together.
struct TAvailableRelease {
  std::string NewVersion;   // four numbers joined by "."
  std::string DownloadURL;  // address of the release's package
};
TAvailableRelease AvailableRelease();
void SetAvailableRelease(const TAvailableRelease& Release);

// The version-check address: QUILLON_UPDATE_URL when set, else our update service's.
std::string VersionCheckURL();
// $XDG_CACHE_HOME/quillon/onlineupdate/ (default ~/.cache/quillon/onlineupdate/).
std::string UpdateFolder();

struct TVersion {
  int32_t Major = 0, Minor = 0, Release = 0, Build = 0;
};
// "2.1.3.7" -> 2, 1, 3, 7. Only a fourth part may end the text without a "." after it; a
// part that is not a decimal number counts as 0.
TVersion ParseVersion(const std::string& S);
// The program's own version.
TVersion FileVersion();
// True when Server is strictly newer than File.
bool IsNewerVersion(const TVersion& Server, const TVersion& File);

// protocol://host:port/path/document?query#bookmark
void ParseURL(const std::string& URL, std::string& Protocol, std::string& Host, std::string& Path,
              std::string& Document, std::string& Port, std::string& Bookmark);
// The local file name of a release address: its document with percent escapes decoded.
// Empty when that is not a plain file name (a "/" or "\", "..", a leading ".", a control
// character), which refuses the release.
std::string UpdateFileName(const std::string& URL);
// An address the program can fetch: "http" or "https" (any case) with a host.
bool FetchableURL(const std::string& URL);
// A reply of the update server: True with Version and Address when its first line names a
// newer release whose package can be fetched ("http" or "https", a host, a ".deb" file).
bool AcceptVersionReply(const std::string& Reply, std::string& Version, std::string& Address);

class EVersionCheckError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TCheckVersionThread {
public:
  // Raises EVersionCheckError "Error Version Check URL!" when URL is blank or not fetchable
  // (FetchableURL). The thread starts with Resume.
  explicit TCheckVersionThread(const std::string& URL);
  // Stops the check when it still runs and waits for the thread.
  ~TCheckVersionThread();
  TCheckVersionThread(const TCheckVersionThread&) = delete;
  TCheckVersionThread& operator=(const TCheckVersionThread&) = delete;

  // Receives WM_CHECKVERSIONRESULT (WParam 1 when a newer release was found). Its owner
  // frees this thread before the window goes.
  QObject* NotifyWindow = nullptr;

  void Resume();
  // Any thread: the check ends without posting anything.
  void Stop();
  void WaitFor();

  // The check itself, on the worker thread. One check runs at a time in the program: a
  // second one waits until the first has posted its answer.
  void CheckVersion();

  // The release this check found (empty when none); read once the thread has ended. A
  // later check may already have replaced the program-wide one.
  const TAvailableRelease& Found() const { return FFound; }

private:
  TAvailableRelease FFound;
  THttpClient HTTP;
  const std::string URL;
  std::atomic<bool> Stopped{false};
  std::thread FThread;
};
