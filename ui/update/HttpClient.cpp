#include "ui/update/HttpClient.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <type_traits>

#include "platform/IniFile.h"

namespace {
CURLM* Multi(void* P) { return static_cast<CURLM*>(P); }
static_assert(std::is_same_v<curl_off_t, int64_t>, "Progress is declared with int64_t for curl_off_t");

std::mutex ClientsLock;
std::set<THttpClient*> Clients;
}  // namespace

THttpTimeouts& HttpTimeouts() {
  static THttpTimeouts Timeouts;
  return Timeouts;
}

THttpClient::THttpClient() {
  FMulti = curl_multi_init();
  std::lock_guard<std::mutex> G(ClientsLock);
  Clients.insert(this);
}

THttpClient::~THttpClient() {
  {
    std::lock_guard<std::mutex> G(ClientsLock);
    Clients.erase(this);
  }
  if (FMulti) curl_multi_cleanup(Multi(FMulti));
}

void THttpClient::Disconnect() {
  FAbort = true;
  if (FMulti) curl_multi_wakeup(Multi(FMulti));
}

void THttpClient::DisconnectAll() {
  std::lock_guard<std::mutex> G(ClientsLock);
  for (THttpClient* C : Clients) C->Disconnect();
}

// The library asks now and then, also while nothing arrives: a disconnected transfer ends
// inside the library too, not only between its steps.
int THttpClient::Progress(void* Self, int64_t, int64_t, int64_t, int64_t) {
  return static_cast<THttpClient*>(Self)->FAbort ? 1 : 0;
}

size_t THttpClient::WriteBody(char* Data, size_t Size, size_t Count, void* Self) {
  auto* C = static_cast<THttpClient*>(Self);
  const size_t N = Size * Count;
  if (C->FAbort) return 0;
  C->FLastByte = std::chrono::steady_clock::now();
  C->FBodyStarted = true;
  if (C->OnData && !C->OnData(Data, N)) {
    C->FWriteFailed = true;
    return 0;
  }
  C->FReceived += static_cast<int64_t>(N);
  return N;
}

// Keeps the status line of the response and its announced size; a new status line (after
// an interim "100 Continue") starts over.
size_t THttpClient::ReadHeader(char* Data, size_t Size, size_t Count, void* Self) {
  auto* C = static_cast<THttpClient*>(Self);
  const size_t N = Size * Count;
  C->FLastByte = std::chrono::steady_clock::now();
  const std::string Line = Trim(std::string(Data, N));
  if (Line.compare(0, 5, "HTTP/") == 0) {
    C->FResponseText = Line;
    C->FAnnounced = -1;
  } else if (Line.empty()) {
    // The end of a final response's headers opens its body.
    const size_t Blank = C->FResponseText.find(' ');
    if (Blank != std::string::npos && Blank + 1 < C->FResponseText.size() && C->FResponseText[Blank + 1] != '1')
      C->FBodyStarted = true;
  } else if (Line.size() > 15 && SameText(Line.substr(0, 15), "content-length:")) {
    char* End = nullptr;
    const long long V = std::strtoll(Line.c_str() + 15, &End, 10);
    if (End && *End == '\0' && V >= 0) C->FAnnounced = V;
  }
  return N;
}

bool THttpClient::Get(const std::string& URL) {
  FResponseCode = 0;
  FResponseText.clear();
  FErrorText.clear();
  FBodyStarted = false;
  FAnnounced = -1;
  FReceived = 0;
  FWriteFailed = false;
  if (!FMulti) {
    FErrorText = "Out of memory";
    return false;
  }
  CURL* Easy = curl_easy_init();
  if (!Easy) {
    FErrorText = "Out of memory";
    return false;
  }
  char Error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(Easy, CURLOPT_URL, URL.c_str());
  curl_easy_setopt(Easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(Easy, CURLOPT_PROXY, "");
  // The quit signals are the program's own, and a name lookup still under way when the
  // transfer ends is left to finish by itself: nothing here may hold up the program's end.
  curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(Easy, CURLOPT_QUICK_EXIT, 1L);
  const THttpTimeouts Timeouts = HttpTimeouts();
  curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT_MS, Timeouts.ConnectMs);
  curl_easy_setopt(Easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(Easy, CURLOPT_XFERINFOFUNCTION, &THttpClient::Progress);
  curl_easy_setopt(Easy, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(Easy, CURLOPT_ERRORBUFFER, Error);
  curl_easy_setopt(Easy, CURLOPT_WRITEFUNCTION, &THttpClient::WriteBody);
  curl_easy_setopt(Easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(Easy, CURLOPT_HEADERFUNCTION, &THttpClient::ReadHeader);
  curl_easy_setopt(Easy, CURLOPT_HEADERDATA, this);
  curl_multi_add_handle(Multi(FMulti), Easy);

  bool Began = false;
  int64_t Reported = 0;
  CURLcode Result = CURLE_OK;
  bool Done = false;
  bool Stalled = false;
  FLastByte = std::chrono::steady_clock::now();
  while (!FAbort) {
    int Running = 0;
    if (curl_multi_perform(Multi(FMulti), &Running) != CURLM_OK) break;
    if (FBodyStarted && !Began) {
      Began = true;
      if (OnWorkBegin) OnWorkBegin(FAnnounced);
    }
    if (Began && FReceived != Reported) {
      Reported = FReceived;
      if (OnWork) OnWork(FReceived);
    }
    if (Running == 0) {
      int Left = 0;
      while (CURLMsg* M = curl_multi_info_read(Multi(FMulti), &Left))
        if (M->msg == CURLMSG_DONE && M->easy_handle == Easy) Result = M->data.result;
      Done = true;
      break;
    }
    if (std::chrono::steady_clock::now() - FLastByte > std::chrono::milliseconds(Timeouts.StallMs)) {
      Stalled = true;
      break;
    }
    curl_multi_poll(Multi(FMulti), nullptr, 0, IdleMs, nullptr);
    if (OnIdle) OnIdle();
  }
  long Code = 0;
  curl_easy_getinfo(Easy, CURLINFO_RESPONSE_CODE, &Code);
  FResponseCode = static_cast<int>(Code);
  curl_multi_remove_handle(Multi(FMulti), Easy);
  curl_easy_cleanup(Easy);
  if (Began && OnWorkEnd) OnWorkEnd();

  if (FAbort)
    FErrorText = "Disconnected.";
  else if (FWriteFailed)
    FErrorText = "Write error";
  else if (Stalled)
    FErrorText = "Operation timed out after " + std::to_string(Timeouts.StallMs) + " milliseconds with nothing received";
  else if (!Done)
    FErrorText = "Transfer error";
  else if (Result != CURLE_OK)
    FErrorText = Error[0] ? Error : curl_easy_strerror(Result);
  return FErrorText.empty();
}
