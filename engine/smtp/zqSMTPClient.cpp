#include "engine/smtp/zqSMTPClient.h"

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <climits>

#include "engine/net/Base64.h"
#include "engine/net/LocalHost.h"
#include "engine/net/SocketErrors.h"
#include "engine/net/TcpConnection.h"
#include "engine/smtp/SmtpLineEnds.h"
#include "platform/IniFile.h"

namespace {
// A whole decimal number with an optional sign, like the library's integer conversion.
bool ParseInt(const std::string& S, int32_t& Value) {
  size_t P = 0;
  bool Neg = false;
  if (P < S.size() && (S[P] == '-' || S[P] == '+')) Neg = S[P++] == '-';
  if (P == S.size()) return false;
  long long V = 0;
  for (; P < S.size(); ++P) {
    if (!std::isdigit(static_cast<unsigned char>(S[P]))) return false;
    V = V * 10 + (S[P] - '0');
    if (V > static_cast<long long>(INT32_MAX) + 1) return false;
  }
  if (Neg) V = -V;
  if (V > INT32_MAX || V < INT32_MIN) return false;
  Value = static_cast<int32_t>(V);
  return true;
}

// "<" in front unless there, ">" at the end unless there.
std::string Wrap(const std::string& S) {
  std::string R = S;
  if (R.empty() || R.front() != '<') R.insert(R.begin(), '<');
  if (R.back() != '>') R += '>';
  return R;
}

// Writes of the message text are gathered into chunks of this size.
constexpr size_t DataChunk = 32 * 1024;
}  // namespace

TSMTPResponse ParseResponse(const std::string& Line) {
  TSMTPResponse R;
  R.Code = -1;
  const size_t Blank = Line.find(' ');
  int32_t V = 0;
  if (Blank != std::string::npos) {
    if (ParseInt(Line.substr(0, Blank), V)) R.Code = V;
    R.Text = Line.substr(Blank + 1);
  } else if (ParseInt(Line, V)) {
    R.Code = V;
  }
  return R;
}

std::string CleanHostName(const std::string& HostName) {
  std::string R;
  for (char C : HostName)
    if ((C >= '0' && C <= '9') || (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '-' || C == '.' || C == '_')
      R += C;
  return R.empty() ? std::string("vexa") : R;
}

TzqSMTPClient::TzqSMTPClient() { LastResponse.Code = 0; }

TzqSMTPClient::~TzqSMTPClient() { Disconnect(); }

void TzqSMTPClient::Log(const std::string& Msg) {
  if (OnLog) OnLog(*this, Msg);
}

std::shared_ptr<TTcpConnection> TzqSMTPClient::Connection() {
  std::lock_guard<std::mutex> G(FLock);
  return FConnection;
}

void TzqSMTPClient::Disconnect() {
  std::shared_ptr<TTcpConnection> C;
  {
    std::lock_guard<std::mutex> G(FLock);
    C.swap(FConnection);
  }
  if (C) C->Disconnect();
}

bool TzqSMTPClient::Connected() {
  const auto C = Connection();
  if (!C || !C->Connected()) return false;
  // A peer that has hung up counts as gone even before a read or write notices it.
  pollfd P{C->Handle(), POLLRDHUP, 0};
  if (poll(&P, 1, 0) > 0 && (P.revents & (POLLRDHUP | POLLHUP | POLLERR))) return false;
  return true;
}

void TzqSMTPClient::Stop() {
  Stopped = true;
  FConnector.Cancel();
  std::lock_guard<std::mutex> G(FLock);
  // Shut down only: the dialogue's thread still holds the object and fails its next read or write.
  if (FConnection) FConnection->Disconnect();
}

std::string TzqSMTPClient::ReadReply() {
  const auto C = Connection();
  if (!C) return std::string();
  const int Wait = Timeout > 0 ? Timeout : TTcpConnection::InfiniteTimeout;
  std::string Line;
  try {
    Line = C->ReadLn(Wait);
  } catch (const std::exception&) {
    return std::string();
  }
  Log(">" + Line);
  FReplyLines.push_back(Line);
  while (Line.size() >= 4 && Line[3] == '-') {
    try {
      Line = C->ReadLn(Wait);
    } catch (const std::exception&) {
      return std::string();
    }
    FReplyLines.push_back(Line);
    Log(">" + Line);
  }
  return Line;
}

bool TzqSMTPClient::WriteLine(const std::string& Line) {
  const auto C = Connection();
  if (!C) return false;
  try {
    C->WriteLn(WithoutLineBreaks(Line));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TzqSMTPClient::SendCmd(const std::string& Cmd, int32_t& Result) {
  if (Stopped) return false;
  if (!WriteLine(Cmd)) {
    Result = scOtherFailure;
    return false;
  }
  const std::string Reply = ReadReply();
  if (Reply.empty()) {
    Disconnect();
    Result = scNoReply;
    return false;
  }
  LastResponse = ParseResponse(Reply);
  return true;
}

void TzqSMTPClient::ParseAuthMechanisms() {
  for (size_t I = 1; I < FReplyLines.size(); ++I) {
    const std::string L = UpperCase(FReplyLines[I]);
    if (L.size() < 9 || L.compare(4, 4, "AUTH") != 0 || (L[8] != ' ' && L[8] != '=')) continue;
    std::string Rest = L.substr(9);
    std::replace(Rest.begin(), Rest.end(), '=', ' ');
    size_t P = 0;
    while (P < Rest.size()) {
      const size_t B = Rest.find(' ', P);
      const std::string Word = Rest.substr(P, B == std::string::npos ? std::string::npos : B - P);
      P = B == std::string::npos ? Rest.size() : B + 1;
      if (Word.empty()) continue;
      const bool Known = std::any_of(AuthMechanisms.begin(), AuthMechanisms.end(),
                                     [&](const std::string& M) { return SameText(M, Word); });
      if (!Known) AuthMechanisms.push_back(Word);
    }
  }
}

bool TzqSMTPClient::SupportsAuth() const {
  return std::any_of(AuthMechanisms.begin(), AuthMechanisms.end(),
                     [](const std::string& M) { return SameText(M, "LOGIN"); });
}

int32_t TzqSMTPClient::SendMail(const std::string& Host, int32_t Port, const std::string& MailFrom,
                                const std::string& RcptTo, const std::vector<std::string>& Data) {
  // 1.
  Stopped = false;
  Disconnect();
  const int32_t Result = Dialogue(Host, Port, MailFrom, RcptTo, Data);
  // Whatever way the dialogue ended, the socket is closed now, not at the next mail.
  Disconnect();
  return Result;
}

int32_t TzqSMTPClient::Dialogue(const std::string& Host, int32_t Port, const std::string& MailFrom,
                                const std::string& RcptTo, const std::vector<std::string>& Data) {
  int32_t Result = scOtherFailure;
  // 2., 3. A line break inside an address would end the command early at the next hop.
  std::string From = Trim(WithoutLineBreaks(MailFrom));
  if (From.empty()) {
    Log("Error FROM address. FROM address can not be blank.");
    return Result;
  }
  From = Wrap(From);
  std::string Rcpt = Trim(WithoutLineBreaks(RcptTo));
  if (Rcpt.empty()) {
    Log("Error RcptTo address. Recipient can not be blank.");
    return Result;
  }
  Rcpt = Wrap(Rcpt);
  // 4.
  Log("Sending mail from " + From + " to " + Rcpt + "[" + Host + "] ...");
  AuthMechanisms.clear();
  FReplyLines.clear();

  // 5. The connect step.
  try {
    if (Stopped) return Result;
    const int Fd = FConnector.Connect(Host, Port, SocksInfo, Timeout, Stopped);
    {
      std::lock_guard<std::mutex> G(FLock);
      FConnection = std::make_shared<TTcpConnection>(Fd);
      // A Stop that came while the socket was being handed over still cuts it.
      if (Stopped) FConnection->Disconnect();
    }
    const std::string Greeting = ReadReply();
    if (Greeting.empty()) {
      Disconnect();
      return scNoReply;
    }
    LastResponse = ParseResponse(Greeting);
    const auto C = Connection();
    if (!C) return Result;
    const std::string PeerIP = C->PeerIP();
    if ((PeerIP == C->LocalIP() || PeerIP == "127.0.0.1") && C->PeerPort() == LocalServerPort) {
      Log("Local host connected. Stopped sending to avoid loop. [" + PeerIP + ":" + std::to_string(C->PeerPort()) + "]");
      Disconnect();
      return Result;
    }
    Log(Host + "[" + PeerIP + "] connected");
  } catch (const std::exception& E) {
    if (Stopped) return Result;
    Log("Connect " + Host + " failed");
    Log(std::string("Error: ") + E.what());
    return scConnectFailed;
  }

  // 6.
  if (Stopped) return Result;
  if (LastResponse.Code != 220) {
    Disconnect();
    return Result;
  }
  if (!Connected() || Stopped) return Result;

  // 7.
  const std::string Name = Trim(HeloName).empty() ? CleanHostName(GetLocalHostName()) : HeloName;

  if (UseAuthLogin) {
    // 8.
    Log("CMD: EHLO " + Name);
    if (!SendCmd("EHLO " + Name, Result)) return Result;
    if (LastResponse.Code != 250) {
      Log("Target server do not support AUTH LOGIN.");
    } else {
      ParseAuthMechanisms();
      if (!SupportsAuth()) {
        Log("Target server do not support AUTH LOGIN.");
      } else {
        Log("CMD: AUTH LOGIN");
        if (!SendCmd("AUTH LOGIN", Result)) return Result;
        if (LastResponse.Code != 334) {
          Disconnect();
          return Result;
        }
        Log("CMD: Send Username");
        if (!SendCmd(EncodeBase64(Username), Result)) return Result;
        if (LastResponse.Code != 334) {
          Disconnect();
          return Result;
        }
        Log("CMD: Send Password");
        if (!SendCmd(EncodeBase64(Password), Result)) return Result;
        if (LastResponse.Code != 235) {
          Log("Auth login failed!");
          Disconnect();
          return Result;
        }
      }
    }
  } else {
    // 9.
    Log("CMD: HELO " + Name);
    if (!SendCmd("HELO " + Name, Result)) return Result;
    if (LastResponse.Code != 250) {
      Disconnect();
      return Result;
    }
  }

  // 10.
  if (!Connected() || Stopped) return Result;

  // 11. The null sender "<>" is sent like any other: without MAIL no server takes the RCPT.
  Log("CMD: MAIL FROM: " + From);
  if (!SendCmd("MAIL FROM: " + From, Result)) return Result;
  if (LastResponse.Code != 250) {
    Disconnect();
    return scSenderRejected;
  }
  if (!Connected() || Stopped) return Result;

  // 12.
  Log("CMD: RCPT TO: " + Rcpt);
  if (!SendCmd("RCPT TO: " + Rcpt, Result)) return Result;
  if (LastResponse.Code != 250 && LastResponse.Code != 251) {
    Disconnect();
    return scRecipientRejected;
  }
  if (!Connected() || Stopped) return Result;

  // 13.
  Log("CMD: DATA");
  if (!SendCmd("DATA", Result)) return Result;
  if (LastResponse.Code != 354) {
    Disconnect();
    return scDataRejected;
  }
  if (!Connected() || Stopped) return Result;

  // 14. Each stored line goes out in its wire form: dot-stuffed from its text, CR LF only.
  Log("CMD: Sending Data...");
  if (OnProgress) OnProgress(*this, 0);
  {
    const auto C = Connection();
    if (!C) return Result;
    const size_t N = Data.size();
    int32_t Last = 0;
    std::string Chunk;
    Chunk.reserve(DataChunk + 1024);
    auto Flush = [&] {
      try {
        C->Write(Chunk);
      } catch (const std::exception&) {
        return false;
      }
      Chunk.clear();
      return true;
    };
    for (size_t I = 0; I < N; ++I) {
      if (!C->Connected()) return Result;
      AppendWireLine(Chunk, Data[I]);
      if (Chunk.size() >= DataChunk && !Flush()) return Result;
      const int32_t Percent = static_cast<int32_t>((I + 1) * 100 / N);
      if (Percent != Last) {
        Last = Percent;
        if (OnProgress) OnProgress(*this, Percent);
      }
    }
    if (!Chunk.empty() && !Flush()) return Result;
  }

  // 15.
  if (!Connected() || Stopped) return Result;
  Log("CMD: .");
  if (!SendCmd(".", Result)) return Result;
  if (LastResponse.Code != 250) {
    Disconnect();
    return scDataRejected;
  }

  // 16. The message is the server's now: nothing that happens from here on (a hang-up, a
  // stop, a failed QUIT) may turn it into a failure that would send it again.
  if (!Connected() || Stopped) return scAccepted;
  Log("CMD: QUIT");
  if (!WriteLine("QUIT")) return scAccepted;
  ReadReply();
  return scAccepted;
}
