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

class TScriptedSmtpPeer {
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
  };

  // Listens on IP:Port; Port 0 picks a free port.
  explicit TScriptedSmtpPeer(const std::string& IP = "127.0.0.1", int Port = 0);
  ~TScriptedSmtpPeer();
  TScriptedSmtpPeer(const TScriptedSmtpPeer&) = delete;
  TScriptedSmtpPeer& operator=(const TScriptedSmtpPeer&) = delete;

  const std::string& IP() const { return FIP; }
  int Port() const { return FPort; }

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

  // Stops listening and ends every session.
  void Stop();

private:
  void AcceptLoop();
  void Serve(int Fd, size_t Index);
  std::string ReplyFor(const std::string& Step) const;
  void Update(size_t Index, const std::function<void(TSession&)>& F);

  std::string FIP;
  int FPort = 0;
  int FListenFd = -1;
  std::atomic<bool> FStopping{false};
  std::atomic<int> FDataDelay{0};
  std::atomic<int> FOpen{0};
  std::atomic<int> FMaxConcurrent{0};
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::map<std::string, std::string> FReplies;
  std::vector<TSession> FSessions;
  std::vector<int> FFds;  // open session sockets, closed by Stop
  std::vector<std::thread> FThreads;
  std::thread FAcceptThread;
};
