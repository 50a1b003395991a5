#pragma once
// The built-in SMTP server: the whole dialogue with a mail client, one thread per
// connection. It knows nothing of settings, access rules or the store: every decision
// outside the dialogue is asked of its events, and a complete message goes to
// OnMailReceived. Commands: HELO, EHLO, AUTH (LOGIN only), MAIL, RCPT, DATA, RSET, NOOP, QUIT.
#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/net/TcpServer.h"
#include "engine/store/MailData.h"

// Raised by an OnMailReceived handler to refuse a message: a store holding too many mails
// is answered with a 452 line (the client may try again later), a blocked attachment with a
// 500 line.
class EVexaTooCannotSaveMail : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
class EVexaAttachmentFilter : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TClientData;  // the receiver's connection slot

// Dialogue states.
constexpr uint8_t ssCommand = 0;
constexpr uint8_t ssData = 1;
constexpr uint8_t ssComplete = 2;

// The dialogue state of one connection; lives on that connection's thread.
class TzqSMTPServerThread : public TPeerThread {
public:
  explicit TzqSMTPServerThread(TTcpConnection& Connection) : TPeerThread(Connection) {}

  std::string HeloName;                 // given with HELO or EHLO
  uint8_t State = ssCommand;
  std::string MailFrom;                 // accepted envelope sender, without angle brackets
  std::vector<std::string> Recipients;  // accepted recipients in arrival order, duplicates kept
  std::vector<std::string> DataLines;   // message lines of the data phase
  TClientData* Slot = nullptr;          // the receiver's; never touched by the server
  bool Authenticated = false;           // set by a successful AUTH, kept for the connection
  bool LastLineCRLF = false;            // the line read last ended in CR LF, not a bare LF
  uint64_t DataSize = 0;                // the data phase's lines as counted against MaxMessageSize
};

class TzqSMTPServer : public TTcpServer {
public:
  // Data is the connection's own list, emptied after the handler: it may take the lines.
  using TMailReceivedEvent = std::function<void(TzqSMTPServerThread& Thread, const std::string& MailFrom,
                                                const std::vector<std::string>& Recipients,
                                                std::vector<std::string>& Data)>;
  using TAuthEvent = std::function<bool(const std::string& User, const std::string& Password)>;
  using TCheckRecipientEvent =
      std::function<bool(TzqSMTPServerThread& Thread, const std::string& Address, std::string& ErrorText)>;
  using TCheckFromEvent = std::function<bool(const std::string& Address)>;

  TzqSMTPServer();
  ~TzqSMTPServer() override;

  // Events; assign them before the server is activated. Unassigned: no trace; the message
  // is answered "250 OK" and dropped; AUTH fails when RequireAuth is set; every sender and
  // every recipient is allowed.
  TLogEvent OnLog;
  TMailReceivedEvent OnMailReceived;
  TAuthEvent OnAuth;
  // Set before activation, read by the connection threads.
  std::atomic<bool> RequireAuth{false};
  std::atomic<int32_t> MaxRecipients{0x7FFFFFFF};
  std::atomic<bool> AddReceivedHeader;
  // A message whose lines count more bytes than this is refused once its end line has come;
  // each line counts its length with CR LF, and at least MinLineCost (what holding it costs).
  std::atomic<uint64_t> MaxMessageSize{100 * 1024 * 1024};
  static constexpr uint64_t MinLineCost = 32;
  // A client silent this long (milliseconds; 0 or less: no limit) is disconnected: a line
  // must arrive within it, and a reply must get out within it.
  std::atomic<int32_t> IdleTimeout{300 * 1000};
  // A failed AUTH LOGIN is answered this many milliseconds late (0 or less: at once), which
  // bounds password guessing by the connection slots. Only that session waits; the wait
  // ends early, without a reply, when the client hangs up or the server stops.
  std::atomic<int32_t> AuthFailureDelay{1000};
  TCheckRecipientEvent OnCheckRecipient;
  TCheckFromEvent OnCheckFrom;

  void DoLog(uint8_t Level, const std::string& Text);
  void DoMailReceived(TzqSMTPServerThread& Thread);
  bool DoCheckRecipient(TzqSMTPServerThread& Thread, const std::string& Address, std::string& ErrorText);
  bool DoCheckFrom(const std::string& Address);

protected:
  std::unique_ptr<TPeerThread> CreatePeerThread(TTcpConnection& Connection) override;
  void DoConnect(TPeerThread& Thread) override;
  void DoExecute(TPeerThread& Thread) override;

private:
  std::string ReadLine(TzqSMTPServerThread& T);
  void ReadDataLine(TzqSMTPServerThread& T);
  void RunCommand(TzqSMTPServerThread& T, const std::string& Line);
  void CmdMail(TzqSMTPServerThread& T, const std::string& Line);
  void CmdRcpt(TzqSMTPServerThread& T, const std::string& Line);
  void CmdData(TzqSMTPServerThread& T);
  void CmdAuth(TzqSMTPServerThread& T, const std::string& Line);
  void HandOver(TzqSMTPServerThread& T);
  void Reply(TzqSMTPServerThread& T, const std::string& Text, bool Log = false);
};

// The current local date and time as "Thu, 10 Dec 2026 09:05:01 +0100" (day without leading zero).
std::string LocalInternetDate();
