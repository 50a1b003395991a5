#pragma once
// A loopback SMTP peer that answers each command the way a test tells it and records what
// it received. One thread per connection; every session is kept for the test to inspect.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackServer.h"

class TScriptedSmtpPeer : public TLoopbackServer {
public:
  // Replies: "" sends nothing and keeps waiting (until the client goes away or the peer
  // stops); CloseReply closes the connection instead of answering. Several lines are
  // joined with "\r\n" (the peer adds the last one); a reply ending in "\r\n" CloseReply
  // sends its lines and then closes.
  static const char* const CloseReply;

  struct TSession {
    std::vector<std::string> Commands;  // lines outside the message data, as received
    std::vector<std::string> Data;      // message lines between DATA and ".", as received
    bool DataComplete = false;          // the "." line arrived
    bool Quit = false;
    bool Closed = false;                // the session has ended
    std::string Raw;                    // every byte received, as it came
  };

  // Listens on IP:Port; Port 0 picks a free port, an empty IP a free random loopback
  // address (the way to get port 25, which exchangers are reached on).
  explicit TScriptedSmtpPeer(const std::string& IP = "127.0.0.1", int Port = 0);
  ~TScriptedSmtpPeer();
  TScriptedSmtpPeer(const TScriptedSmtpPeer&) = delete;
  TScriptedSmtpPeer& operator=(const TScriptedSmtpPeer&) = delete;

  // The reply to a step: "GREETING", a command verb in upper case ("EHLO", "HELO", "MAIL",
  // "RCPT", "DATA", "QUIT", "RSET", "NOOP", "AUTH"), "USER" and "PASS" (the two lines after
  // AUTH LOGIN) and "." (end of the data). Unknown verbs get "500 Unknown command".
  void SetReply(const std::string& Step, const std::string& Reply);
  // Milliseconds to wait before answering the end of the data (to keep attempts overlapping).
  void SetDataDelay(int Ms) { FDataDelay = Ms; }

  std::vector<TSession> Sessions() const;
  size_t SessionCount() const;
  // Waits until Count sessions have ended; false on time-out.
  bool WaitClosedSessions(size_t Count, int TimeoutMs) const;
  // The most sessions that were open at the same time.
  int MaxConcurrent() const { return FMaxConcurrent; }

private:
  void Serve(int Fd) override;
  std::string ReplyFor(const std::string& Step) const;
  void Update(size_t Index, const std::function<void(TSession&)>& F);

  std::atomic<int> FDataDelay{0};
  std::atomic<int> FOpen{0};
  std::atomic<int> FMaxConcurrent{0};
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::map<std::string, std::string> FReplies;
  std::vector<TSession> FSessions;
};
