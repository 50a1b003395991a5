#pragma once
// The SMTP client with which the delivery engine hands one stored message to one remote
// server: a complete dialogue for one sender, one recipient and one message, ending in a
// small result code. Each delivery thread owns one client and reuses it; another thread
// may abort a running dialogue with Stop.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/net/OutgoingConnector.h"
#include "engine/settings/VexaBase.h"

class TTcpConnection;

// One parsed reply line.
struct TSMTPResponse {
  int32_t Code = 0;  // -1 when the line has no numeric code
  std::string Text;  // the text after the first blank
};

TSMTPResponse ParseResponse(const std::string& Line);
// The characters 0-9, A-Z, a-z, "-", "." and "_" of HostName in order; "vexa" when none is left.
std::string CleanHostName(const std::string& HostName);

// Results of SendMail.
constexpr int32_t scAccepted = 1;
constexpr int32_t scNoReply = 3;
constexpr int32_t scConnectFailed = 4;
constexpr int32_t scSenderRejected = 5;
constexpr int32_t scRecipientRejected = 6;
constexpr int32_t scDataRejected = 7;
constexpr int32_t scOtherFailure = 8;

class TzqSMTPClient {
public:
  using TLogNotify = std::function<void(TzqSMTPClient& Sender, const std::string& Msg)>;
  using TProgressNotify = std::function<void(TzqSMTPClient& Sender, int32_t Percent)>;
  static constexpr int32_t InfiniteTimeout = -2;

  TzqSMTPClient();
  ~TzqSMTPClient();
  TzqSMTPClient(const TzqSMTPClient&) = delete;
  TzqSMTPClient& operator=(const TzqSMTPClient&) = delete;

  // Read time-out in milliseconds for every reply line; 0 or less waits without limit.
  int32_t Timeout = InfiniteTimeout;
  TLogNotify OnLog;
  TProgressNotify OnProgress;
  std::string Password;
  std::string Username;
  bool UseAuthLogin = false;  // true: EHLO and AUTH LOGIN; false: HELO
  std::vector<std::string> AuthMechanisms;  // offered in the EHLO reply, upper case
  std::atomic<bool> Stopped{false};
  TSMTPResponse LastResponse;
  std::string HeloName;  // blank: the local host name
  int32_t LocalServerPort = 0;  // our own SMTP server's port, for the loop guard
  TSocksInfo SocksInfo;  // proxy of the outgoing connection, set by the caller

  // One dialogue; returns one of the sc* codes. Raises nothing of its own. Once the end of
  // the data was answered 250 the result is scAccepted, whatever happens after. The
  // connection is closed when it returns.
  int32_t SendMail(const std::string& Host, int32_t Port, const std::string& MailFrom, const std::string& RcptTo,
                   const std::vector<std::string>& Data);
  // From another thread: sets Stopped and cuts the connection (or the connection attempt).
  void Stop();

  // The reply lines of the current dialogue, in arrival order.
  const std::vector<std::string>& ReplyLines() const { return FReplyLines; }
  // Collects the mechanisms of the AUTH lines of the current dialogue into AuthMechanisms.
  void ParseAuthMechanisms();
  bool SupportsAuth() const;

private:
  void Log(const std::string& Msg);
  // SendMail's steps 2 to 16; SendMail closes the connection after it.
  int32_t Dialogue(const std::string& Host, int32_t Port, const std::string& MailFrom, const std::string& RcptTo,
                   const std::vector<std::string>& Data);
  // The last line of a reply (multi-line replies are read whole); empty on any failure.
  std::string ReadReply();
  bool SendCmd(const std::string& Cmd, int32_t& Result);
  bool WriteLine(const std::string& Line);
  // False once the connection is closed, failed, or the peer has hung up.
  bool Connected();
  void Disconnect();
  std::shared_ptr<TTcpConnection> Connection();

  std::mutex FLock;  // guards FConnection against Stop
  std::shared_ptr<TTcpConnection> FConnection;
  TOutgoingConnector FConnector;
  std::vector<std::string> FReplyLines;
};
