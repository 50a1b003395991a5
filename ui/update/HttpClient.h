#pragma once
// One HTTP GET at a time over libcurl, with the work events of a download and a wait that
// hands control back every IdleMs, so a caller on the GUI thread keeps its windows alive
// during the transfer. Every transfer has a connect and a stall time-out, and the program's
// end cuts them all short. No proxy is used (none is configured anywhere in the program).
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Time-outs of every transfer: for the connection (name lookup included), and for a
// transfer that receives nothing at all (since it began or since its last byte).
struct THttpTimeouts {
  long ConnectMs = 30000;
  long StallMs = 30000;
};
// The program's one set, read as each transfer begins; tests shorten them while no
// transfer runs.
THttpTimeouts& HttpTimeouts();

class THttpClient {
public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // Body bytes of the response, as they arrive; false stops the transfer (a write error).
  std::function<bool(const char* Data, size_t Size)> OnData;
  // The body begins (Total: the announced size, -1 when none), has grown, has ended.
  // Called between waits, never from inside the library.
  std::function<void(int64_t Total)> OnWorkBegin;
  std::function<void(int64_t Received)> OnWork;
  std::function<void()> OnWorkEnd;
  // Called after every wait of at most IdleMs while the transfer runs.
  std::function<void()> OnIdle;
  int IdleMs = 1000;

  // GETs URL ("http" or "https"); true when the transfer ran to its end, whatever the
  // status. Disconnect (any thread) ends it at once with false.
  bool Get(const std::string& URL);
  void Disconnect();
  // Disconnects every client there is (any thread): the program ends.
  static void DisconnectAll();

  // The last response's status code (0 without one) and its status line.
  int ResponseCode() const { return FResponseCode; }
  const std::string& ResponseText() const { return FResponseText; }
  // Why the last transfer failed, empty when it did not.
  const std::string& ErrorText() const { return FErrorText; }

private:
  static size_t WriteBody(char* Data, size_t Size, size_t Count, void* Self);
  static size_t ReadHeader(char* Data, size_t Size, size_t Count, void* Self);
  static int Progress(void* Self, int64_t, int64_t, int64_t, int64_t);

  void* FMulti = nullptr;
  std::atomic<bool> FAbort{false};
  std::atomic<bool> FRunning{false};
  int FResponseCode = 0;
  std::string FResponseText;
  std::string FErrorText;
  // State of the running transfer.
  bool FBodyStarted = false;
  int64_t FAnnounced = -1;
  int64_t FReceived = 0;
  bool FWriteFailed = false;
  std::chrono::steady_clock::time_point FLastByte;
};
