#include "support/ScriptedSmtpPeer.h"
#include "platform/IniFile.h"


#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <stdexcept>

const char* const TScriptedSmtpPeer::CloseReply = "<close>";

namespace {
bool SendAll(int Fd, const std::string& S) {
  size_t Done = 0;
  while (Done < S.size()) {
    const ssize_t N = send(Fd, S.data() + Done, S.size() - Done, MSG_NOSIGNAL);
    if (N <= 0) return false;
    Done += static_cast<size_t>(N);
  }
  return true;
}

}  // namespace

TScriptedSmtpPeer::TScriptedSmtpPeer(const std::string& IP, int Port) : TLoopbackServer(IP, Port) {
  FReplies = {{"GREETING", "220 peer.test ESMTP ready"},
              {"EHLO", "250-peer.test\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME"},
              {"HELO", "250 peer.test"},
              {"AUTH", "334 VXNlcm5hbWU6"},
              {"USER", "334 UGFzc3dvcmQ6"},
              {"PASS", "235 Authentication successful"},
              {"MAIL", "250 Sender OK"},
              {"RCPT", "250 Recipient OK"},
              {"DATA", "354 Go ahead"},
              {".", "250 Queued"},
              {"QUIT", "221 Bye"},
              {"RSET", "250 OK"},
              {"NOOP", "250 OK"}};
  StartAccepting();
}

TScriptedSmtpPeer::~TScriptedSmtpPeer() { Stop(); }

void TScriptedSmtpPeer::SetReply(const std::string& Step, const std::string& Reply) {
  std::lock_guard<std::mutex> G(FLock);
  FReplies[Step] = Reply;
}

std::string TScriptedSmtpPeer::ReplyFor(const std::string& Step) const {
  std::lock_guard<std::mutex> G(FLock);
  const auto It = FReplies.find(Step);
  return It == FReplies.end() ? std::string("500 Unknown command") : It->second;
}

std::vector<TScriptedSmtpPeer::TSession> TScriptedSmtpPeer::Sessions() const {
  std::lock_guard<std::mutex> G(FLock);
  return FSessions;
}

size_t TScriptedSmtpPeer::SessionCount() const {
  std::lock_guard<std::mutex> G(FLock);
  return FSessions.size();
}

bool TScriptedSmtpPeer::WaitClosedSessions(size_t Count, int TimeoutMs) const {
  std::unique_lock<std::mutex> G(FLock);
  return FChanged.wait_for(G, std::chrono::milliseconds(TimeoutMs), [&] {
    return std::count_if(FSessions.begin(), FSessions.end(), [](const TSession& S) { return S.Closed; }) >=
           static_cast<long>(Count);
  });
}

void TScriptedSmtpPeer::Update(size_t Index, const std::function<void(TSession&)>& F) {
  std::lock_guard<std::mutex> G(FLock);
  F(FSessions[Index]);
  FChanged.notify_all();
}

void TScriptedSmtpPeer::Serve(int Fd) {
  size_t Index;
  {
    std::lock_guard<std::mutex> G(FLock);
    FSessions.emplace_back();
    Index = FSessions.size() - 1;
  }
  const int Now = ++FOpen;
  bool Counted = true;
  int Max = FMaxConcurrent;
  while (Now > Max && !FMaxConcurrent.compare_exchange_weak(Max, Now)) {
  }
  // Answers one step; false when the session must end.
  auto Answer = [&](const std::string& Step) {
    std::string R = ReplyFor(Step);
    if (R == CloseReply) return false;
    // "lines\r\n<close>": answer, then hang up at once.
    const std::string Tail = std::string("\r\n") + CloseReply;
    if (R.size() > Tail.size() && R.compare(R.size() - Tail.size(), Tail.size(), Tail) == 0) {
      // Held back with MSG_MORE, the reply leaves in one segment with the FIN: the client
      // sees the hang-up as soon as it has the reply.
      const std::string Lines = R.substr(0, R.size() - Tail.size()) + "\r\n";
      send(Fd, Lines.data(), Lines.size(), MSG_MORE | MSG_NOSIGNAL);
      shutdown(Fd, SHUT_WR);
      return false;
    }
    if (R.empty()) {
      // Silence: wait until the client goes away or the peer stops.
      char C;
      while (!Stopping()) {
        pollfd P{Fd, POLLIN, 0};
        if (poll(&P, 1, 50) > 0 && recv(Fd, &C, 1, MSG_PEEK) <= 0) break;
      }
      return false;
    }
    return SendAll(Fd, R + "\r\n");
  };

  std::string Buffer;
  enum { Commands, AuthUser, AuthPass, InData } Mode = Commands;
  bool Alive = Answer("GREETING");
  while (Alive && !Stopping()) {
    const size_t Eol = Buffer.find('\n');
    if (Eol == std::string::npos) {
      char Chunk[4096];
      const ssize_t N = recv(Fd, Chunk, sizeof Chunk, 0);
      if (N <= 0) break;
      Buffer.append(Chunk, static_cast<size_t>(N));
      Update(Index, [&](TSession& S) { S.Raw.append(Chunk, static_cast<size_t>(N)); });
      continue;
    }
    std::string Line = Buffer.substr(0, Eol);
    Buffer.erase(0, Eol + 1);
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (Mode == InData) {
      if (Line == ".") {
        Update(Index, [](TSession& S) { S.DataComplete = true; });
        Mode = Commands;
        if (FDataDelay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(FDataDelay));
        Alive = Answer(".");
      } else {
        Update(Index, [&](TSession& S) { S.Data.push_back(Line); });
      }
      continue;
    }
    Update(Index, [&](TSession& S) { S.Commands.push_back(Line); });
    std::string Step;
    if (Mode == AuthUser) {
      Step = "USER";
      Mode = AuthPass;
    } else if (Mode == AuthPass) {
      Step = "PASS";
      Mode = Commands;
    } else {
      Step = UpperCase(Line.substr(0, Line.find(' ')));
    }
    const std::string Reply = ReplyFor(Step);
    if (Step == "AUTH" && Reply.rfind("334", 0) == 0) Mode = AuthUser;
    if (Step == "DATA" && Reply.rfind("354", 0) == 0) Mode = InData;
    if (Step == "QUIT") {
      Update(Index, [](TSession& S) { S.Quit = true; });
      // The client is done with the session once it has the reply, and may open the next
      // one before this thread gets round to closing: stop counting it before answering.
      --FOpen;
      Counted = false;
    }
    Alive = Answer(Step);
    if (Step == "QUIT") break;
  }
  {
    std::lock_guard<std::mutex> G(FLock);
    shutdown(Fd, SHUT_RDWR);
    FSessions[Index].Closed = true;
    FChanged.notify_all();
  }
  if (Counted) --FOpen;
}
