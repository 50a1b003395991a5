#include "engine/smtp/zqSMTPServer.h"

#include <algorithm>
#include <sys/socket.h>
#include <sys/time.h>

#include <ctime>
#include <string_view>
#include <thread>

#include "engine/net/Base64.h"
#include "engine/net/LocalHost.h"
#include "engine/net/SocketErrors.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailStore.h"
#include "engine/store/MailText.h"
#include "fmt/format.h"
#include "platform/IniFile.h"

namespace {
// The rest of Line from its N-th character (counting from 1).
std::string From(const std::string& Line, size_t N) { return Line.size() >= N ? Line.substr(N - 1) : std::string(); }

// The verbs in the order they are looked up.
enum TVerb { vNoop, vQuit, vRset, vMail, vHelo, vData, vRcpt, vEhlo, vAuth, vUnknown };
TVerb FindVerb(const std::string& Line) {
  static const char* const Verbs[] = {"NOOP", "QUIT", "RSET", "MAIL", "HELO", "DATA", "RCPT", "EHLO", "AUTH"};
  const std::string V = UpperCase(Line.substr(0, Line.find(' ')));
  for (int I = 0; I < vUnknown; ++I)
    if (V == Verbs[I]) return static_cast<TVerb>(I);
  return vUnknown;
}

// A command line as traced: an AUTH line without what follows its mechanism (credentials).
std::string TraceText(const std::string& Line) {
  if (FindVerb(Line) != vAuth) return Line;
  const size_t Mechanism = Line.find_first_not_of(' ', 5);
  return Line.substr(0, Mechanism == std::string::npos ? Mechanism : Line.find(' ', Mechanism));
}
}  // namespace

std::string LocalInternetDate() {
  static const char* const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t T = std::time(nullptr);
  std::tm L{};
  localtime_r(&T, &L);
  const long Off = L.tm_gmtoff / 60;
  const long A = Off < 0 ? -Off : Off;
  return fmt::format("{}, {} {} {} {:02}:{:02}:{:02} {}{:02}{:02}", Days[L.tm_wday], L.tm_mday, Months[L.tm_mon],
                     L.tm_year + 1900, L.tm_hour, L.tm_min, L.tm_sec, Off < 0 ? '-' : '+', A / 60, A % 60);
}

TzqSMTPServer::TzqSMTPServer() : AddReceivedHeader(::AddReceivedHeader.load()) {
  DefaultPort = 25;
  ReuseSocket = true;
}

TzqSMTPServer::~TzqSMTPServer() {
  // Threads run our overrides: stop them before this object is torn down.
  SetActive(false);
}

std::unique_ptr<TPeerThread> TzqSMTPServer::CreatePeerThread(TTcpConnection& Connection) {
  return std::make_unique<TzqSMTPServerThread>(Connection);
}

void TzqSMTPServer::DoLog(uint8_t Level, const std::string& Text) {
  if (OnLog) OnLog(Level, CutText(Text, 255));
}

void TzqSMTPServer::DoMailReceived(TzqSMTPServerThread& Thread) {
  if (OnMailReceived) OnMailReceived(Thread, Thread.MailFrom, Thread.Recipients, Thread.DataLines);
}

bool TzqSMTPServer::DoCheckRecipient(TzqSMTPServerThread& Thread, const std::string& Address, std::string& ErrorText) {
  return OnCheckRecipient ? OnCheckRecipient(Thread, Address, ErrorText) : true;
}

bool TzqSMTPServer::DoCheckFrom(const std::string& Address) { return OnCheckFrom ? OnCheckFrom(Address) : true; }

void TzqSMTPServer::Reply(TzqSMTPServerThread& T, const std::string& Text, bool Log) {
  if (Log) DoLog(0, Text);
  T.Connection.WriteLn(Text);
}

void TzqSMTPServer::DoConnect(TPeerThread& Thread) {
  // A client that stops reading its replies must not hold the connection for ever either.
  if (const int32_t Ms = IdleTimeout; Ms > 0) {
    const timeval Limit{Ms / 1000, (Ms % 1000) * 1000};
    setsockopt(Thread.Connection.Handle(), SOL_SOCKET, SO_SNDTIMEO, &Limit, sizeof Limit);
  }
  TTcpServer::DoConnect(Thread);
  // OnConnect may have refused the client and closed the connection.
  if (Thread.Connection.Connected()) Thread.Connection.WriteLn("220 Welcome to Quillon ESMTP Serivce.");
}

void TzqSMTPServer::DoExecute(TPeerThread& Thread) {
  auto& T = static_cast<TzqSMTPServerThread&>(Thread);
  TTcpConnection& C = T.Connection;
  while (C.Connected() && !T.Terminated) {
    if (T.State == ssCommand) {
      const std::string Line = ReadLine(T);
      std::this_thread::yield();
      DoLog(0, TraceText(Line));
      // A CR or NUL inside a command would reach the next hop inside an address.
      if (Line.find_first_of(std::string_view("\r\0", 2)) != std::string::npos)
        Reply(T, "500 Command contains illegal character!", true);
      else
        RunCommand(T, Line);
    }
    // A DATA just accepted goes on here in the same pass.
    while (T.State == ssData) ReadDataLine(T);
    if (T.State == ssComplete) HandOver(T);
  }
}

std::string TzqSMTPServer::ReadLine(TzqSMTPServerThread& T) {
  std::string Line = T.Connection.ReadLn(IdleTimeout);
  T.LastLineCRLF = T.Connection.LastLineEndedWithCRLF();
  return Line;
}

void TzqSMTPServer::ReadDataLine(TzqSMTPServerThread& T) {
  const bool AfterCRLF = T.LastLineCRLF;
  std::string Line = ReadLine(T);
  if (!Line.empty() && Line[0] == '.' && Line.find_first_not_of('\r', 1) == std::string::npos) {
    // Only CR LF "." CR LF ends the data: with a bare LF on either side some servers see an
    // end line and others text, which lets a sender hide a second message inside one.
    if (Line.size() == 1 && AfterCRLF && T.LastLineCRLF) {
      T.State = ssComplete;
      return;
    }
    // A line "." of the text, or one that is "." once its CRs go out as line ends: lines
    // travel dot-stuffed, so the next hop gets it as text.
    Line.insert(0, 1, '.');
  }
  T.DataSize += std::max<uint64_t>(Line.size() + 2, MinLineCost);
  if (T.DataSize <= MaxMessageSize) {
    T.DataLines.push_back(std::move(Line));
  } else if (!T.DataLines.empty()) {
    // Over the limit: refused at its end line, and from here on nothing of it is held.
    std::vector<std::string>().swap(T.DataLines);
  }
}

void TzqSMTPServer::HandOver(TzqSMTPServerThread& T) {
  std::string Answer = "250 OK";
  try {
    if (T.DataSize > MaxMessageSize)
      Answer = "500 Mail size exceeds the limit of " + std::to_string(MaxMessageSize) + " bytes!";
    else
      DoMailReceived(T);
  } catch (const EVexaAttachmentFilter&) {
    Answer = "500 Mail contains illegal attachment!";
  } catch (const EVexaTooCannotSaveMail&) {
    // The refusals below hold only for now: a 4xx lets the client send the message again
    // later, where a 5xx would make its server bounce it.
    Answer = "452 Can not save mail. Too many mails received!";
  } catch (const EVexaMailStoreFull&) {
    Answer = "452 Can not save mail. Insufficient storage!";
  } catch (...) {
    // The journal could not be read or written, an I/O error: nothing of the message was kept.
    Answer = "451 Can not save mail. Unknow Error!";
  }
  T.State = ssCommand;
  T.MailFrom.clear();
  T.Recipients.clear();
  std::vector<std::string>().swap(T.DataLines);
  T.DataSize = 0;
  Reply(T, Answer);
}

void TzqSMTPServer::RunCommand(TzqSMTPServerThread& T, const std::string& Line) {
  switch (FindVerb(Line)) {
    case vNoop:
      Reply(T, "250 OK");
      break;
    case vQuit:
      // The disconnect event runs before the reply: a client that reconnects as soon as it
      // reads "221 Bye" finds the connection slot of this one free again.
      FinishConnection(T);
      T.Terminated = true;
      Reply(T, "221 Bye");
      break;
    case vRset:
      T.MailFrom.clear();
      T.Recipients.clear();
      T.DataLines.clear();
      Reply(T, "250 OK");
      break;
    case vHelo:
      T.HeloName = From(Line, 6);
      Reply(T, "250 Hello " + T.HeloName);
      break;
    case vEhlo:
      T.HeloName = From(Line, 6);
      // One write: the client sees both lines at once.
      T.Connection.Write("250-Hello " + T.HeloName + "\r\n250 AUTH LOGIN\r\n");
      break;
    case vMail:
      CmdMail(T, Line);
      break;
    case vRcpt:
      CmdRcpt(T, Line);
      break;
    case vData:
      CmdData(T);
      break;
    case vAuth:
      CmdAuth(T, Line);
      break;
    case vUnknown:
      Reply(T, "500 unsupport command", true);
      break;
  }
}

void TzqSMTPServer::CmdMail(TzqSMTPServerThread& T, const std::string& Line) {
  if (RequireAuth && !T.Authenticated) return Reply(T, "500 Authentication required!");
  if (UpperCase(Line.substr(0, 10)) != "MAIL FROM:") return Reply(T, "500 Invalid command");
  const std::string Address = ExtractAddress(Trim(From(Line, 11)));
  if (!IsValidEmail(Address) || !DoCheckFrom(Address)) return Reply(T, "500 Invalid FROM address");
  T.MailFrom = Address;
  Reply(T, "250 Sender " + Address + " OK", true);
}

void TzqSMTPServer::CmdRcpt(TzqSMTPServerThread& T, const std::string& Line) {
  if (RequireAuth && !T.Authenticated) return Reply(T, "500 Authentication required!");
  if (UpperCase(Line.substr(0, 8)) != "RCPT TO:") return Reply(T, "500 Invalid command.");
  const std::string Address = ExtractAddress(Trim(From(Line, 9)));
  if (!IsValidEmail(Address)) return Reply(T, "500 Invalid email address.");
  std::string ErrorText;
  if (!DoCheckRecipient(T, Address, ErrorText)) return Reply(T, "500 " + ErrorText, true);
  if (static_cast<int64_t>(T.Recipients.size()) >= MaxRecipients)
    return Reply(T, "500 Recipient count reach to Max Recipient Count", true);
  T.Recipients.push_back(Address);
  Reply(T, "250 Message will be forwarded to " + Address, true);
}

void TzqSMTPServer::CmdData(TzqSMTPServerThread& T) {
  if (RequireAuth && !T.Authenticated) return Reply(T, "500 Authentication required!");
  if (!DoCheckFrom(T.MailFrom)) return Reply(T, "500 MAIL FROM command first!");
  if (T.Recipients.empty()) return Reply(T, "500 RCPT command first!");
  T.State = ssData;
  T.DataLines.clear();
  T.DataSize = 0;
  if (AddReceivedHeader) {
    T.DataLines.push_back("Received: from " + T.HeloName + "([" + T.Connection.PeerIP() + "])");
    T.DataLines.push_back("\tby " + GetLocalHostName() + " with ESMTP");
    T.DataLines.push_back("\tfor " + T.Recipients[0] + "; " + LocalInternetDate());
  }
  Reply(T, "354 Start mail input; end with <CRLF>.<CRLF>");
}

void TzqSMTPServer::CmdAuth(TzqSMTPServerThread& T, const std::string& Line) {
  const std::string Args = Trim(From(Line, 6));
  const size_t Blank = Args.find(' ');
  if (UpperCase(Args.substr(0, Blank)) != "LOGIN")
    return Reply(T, "503 AUTH mechanism " + UpperCase(Args) + " not available.");
  // The credentials are never traced. A line that is not base64 ends the connection.
  std::string User;
  if (Blank != std::string::npos) {
    // The user name given with the command (an initial response; "=" is an empty one).
    const std::string Initial = Trim(Args.substr(Blank + 1));
    if (Initial != "=") User = DecodeBase64(Initial);
  } else {
    Reply(T, "334 VXNlcm5hbWU6");
    User = DecodeBase64(ReadLine(T));
  }
  Reply(T, "334 UGFzc3dvcmQ6");
  const std::string Password = DecodeBase64(ReadLine(T));
  bool Ok = true;
  if (RequireAuth) Ok = OnAuth && OnAuth(User, Password);
  if (Ok) {
    T.Authenticated = true;
    return Reply(T, "235 Authentication successful.");
  }
  // A client that gives up waiting learns nothing: guessing on means waiting each time.
  if (const int32_t Ms = AuthFailureDelay; Ms > 0 && T.Connection.WaitForEnd(Ms)) throw EConnectionClosed();
  Reply(T, "500 Authentication failed.");
}
