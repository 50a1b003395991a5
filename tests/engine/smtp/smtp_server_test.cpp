#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <sys/socket.h>

#include "engine/net/Base64.h"
#include "engine/smtp/zqSMTPServer.h"
#include "engine/store/MailStore.h"
#include "support/LineClient.h"

namespace {
const char* const Greeting = "220 Welcome to Quillon ESMTP Serivce.";

struct TReceived {
  std::string From;
  std::vector<std::string> Rcpt, Data;
};

class SmtpServer : public testing::Test {
protected:
  TzqSMTPServer S;
  std::mutex M;
  std::vector<TReceived> Mails;
  std::vector<std::string> Log;
  std::atomic<int> Disconnects{0};
  std::function<void()> Refuse;  // raised from the message handler when set
  int Port = 0;

  void SetUp() override {
    S.Bindings = {{"127.0.0.1", 0}};
    S.AuthFailureDelay = 0;  // the delay has tests of its own
    S.OnMailReceived = [this](TzqSMTPServerThread&, const std::string& From, const std::vector<std::string>& Rcpt,
                              std::vector<std::string>& Data) {
      if (Refuse) {
        auto R = Refuse;
        Refuse = nullptr;
        R();
      }
      std::lock_guard<std::mutex> L(M);
      Mails.push_back({From, Rcpt, Data});
    };
    S.OnLog = [this](uint8_t, const std::string& T) {
      std::lock_guard<std::mutex> L(M);
      Log.push_back(T);
    };
    S.OnDisconnect = [this](TPeerThread&) { ++Disconnects; };
  }
  void Start() {
    S.SetActive(true);
    Port = S.BoundPorts().at(0);
  }
  TLineClient Client() {
    TLineClient C(Port);
    EXPECT_EQ(Greeting, C.Read());
    return C;
  }
  // MAIL, RCPT, DATA, the lines and ".": the reply to the end line.
  std::string Send(TLineClient& C, const std::vector<std::string>& Lines, const std::string& From = "a@b.c") {
    EXPECT_EQ("250 Sender " + From + " OK", C.Cmd("MAIL FROM:<" + From + ">"));
    EXPECT_EQ("250 Message will be forwarded to r@x.y", C.Cmd("RCPT TO:<r@x.y>"));
    EXPECT_EQ("354 Start mail input; end with <CRLF>.<CRLF>", C.Cmd("DATA"));
    for (const auto& L : Lines) C.Send(L);
    return C.Cmd(".");
  }
  size_t MailCount() {
    std::lock_guard<std::mutex> L(M);
    return Mails.size();
  }
};
}  // namespace

TEST_F(SmtpServer, CommandTable) {
  Start();
  auto C = Client();
  const std::vector<std::pair<std::string, std::string>> Table = {
      {"noop", "250 OK"},
      {"NoOp with text", "250 OK"},
      {"helo host.example", "250 Hello host.example"},
      {"HELO", "250 Hello "},
      {"HELO  two  blanks ", "250 Hello  two  blanks "},
      {"rset", "250 OK"},
      {"VRFY someone", "500 unsupport command"},
      {"", "500 unsupport command"},
      {"HELOx", "500 unsupport command"},
      {" HELO x", "500 unsupport command"},
      {"STARTTLS", "500 unsupport command"},
      {"mail from: <a@b.c>", "250 Sender a@b.c OK"},
      {"MAIL FROM <a@b.c>", "500 Invalid command"},
      {"MAIL FROM:", "500 Invalid FROM address"},
      {"MAIL FROM:<>", "500 Invalid FROM address"},
      {"MAIL FROM:<a@b@c>", "500 Invalid FROM address"},
      {"MAIL FROM:  plain@addr ", "250 Sender plain@addr OK"},
      {"rcpt to: <x@y.z>", "250 Message will be forwarded to x@y.z"},
      {"RCPT TO x@y.z", "500 Invalid command."},
      {"RCPT TO:<@y.z>", "500 Invalid email address."},
      {"RCPT TO:<x", "500 Invalid email address."},
      // No closing bracket: kept as written, and the check drops its last character ("x@y.").
      {"RCPT TO:<x@y.z", "250 Message will be forwarded to <x@y.z"},
  };
  for (const auto& [Line, Want] : Table) EXPECT_EQ(Want, C.Cmd(Line)) << Line;
  EXPECT_EQ("250-Hello client", C.Cmd("ehlo client"));
  EXPECT_EQ("250 AUTH LOGIN", C.Read());
  EXPECT_EQ("221 Bye", C.Cmd("quit"));
  EXPECT_EQ("<closed>", C.Read());
}

TEST_F(SmtpServer, TransactionRules) {
  S.MaxRecipients = 2;
  Start();
  auto C = Client();
  EXPECT_EQ("500 RCPT command first!", C.Cmd("DATA"));
  EXPECT_EQ("250 OK", C.Cmd("NOOP"));  // still in the command phase
  EXPECT_EQ("250 Message will be forwarded to r@x.y", C.Cmd("RCPT TO:<r@x.y>"));
  EXPECT_EQ("250 Message will be forwarded to r@x.y", C.Cmd("RCPT TO:<r@x.y>"));
  EXPECT_EQ("500 Recipient count reach to Max Recipient Count", C.Cmd("RCPT TO:<s@x.y>"));
  // DATA without MAIL: the unassigned sender check allows the empty sender.
  EXPECT_EQ("354 Start mail input; end with <CRLF>.<CRLF>", C.Cmd("DATA"));
  EXPECT_EQ("250 OK", C.Cmd("."));
  // A second MAIL replaces the sender and keeps the recipients.
  EXPECT_EQ("250 Sender one@x.y OK", C.Cmd("MAIL FROM:<one@x.y>"));
  EXPECT_EQ("250 Message will be forwarded to r@x.y", C.Cmd("RCPT TO:<r@x.y>"));
  EXPECT_EQ("250 Sender two@x.y OK", C.Cmd("MAIL FROM:<two@x.y>"));
  EXPECT_EQ("354 Start mail input; end with <CRLF>.<CRLF>", C.Cmd("DATA"));
  EXPECT_EQ("250 OK", C.Cmd("."));
  // RSET clears sender and recipients.
  C.Cmd("MAIL FROM:<x@x.y>");
  C.Cmd("RCPT TO:<r@x.y>");
  EXPECT_EQ("250 OK", C.Cmd("RSET"));
  EXPECT_EQ("500 RCPT command first!", C.Cmd("DATA"));
  std::lock_guard<std::mutex> L(M);
  ASSERT_EQ(2u, Mails.size());
  EXPECT_EQ("", Mails[0].From);
  EXPECT_EQ((std::vector<std::string>{"r@x.y", "r@x.y"}), Mails[0].Rcpt);
  EXPECT_TRUE(Mails[0].Data.empty());
  EXPECT_EQ("two@x.y", Mails[1].From);
  EXPECT_EQ(std::vector<std::string>{"r@x.y"}, Mails[1].Rcpt);
}

TEST_F(SmtpServer, DataLinesAreKeptAsReceived) {
  Start();
  auto C = Client();
  const std::vector<std::string> Lines = {"Subject: t", "", "QUIT", "RSET", "..", "...", ". ", " .", ".x", "",
                                          std::string("nul\0inside", 11), "\x80\xff binary", "\tTAB"};
  EXPECT_EQ("250 OK", Send(C, Lines));
  C.Conn().Write(std::string("MAIL FROM:<a@b.c>\r\nRCPT TO:<r@x.y>\r\nDATA\r\nbare LF\nCR only\rstays\r\n.\r\n"));
  EXPECT_EQ("250 Sender a@b.c OK", C.Read());
  C.Read();
  C.Read();
  EXPECT_EQ("250 OK", C.Read());
  std::lock_guard<std::mutex> L(M);
  ASSERT_EQ(2u, Mails.size());
  EXPECT_EQ(Lines, Mails[0].Data);
  EXPECT_EQ((std::vector<std::string>{"bare LF", "CR only\rstays"}), Mails[1].Data);
}

TEST_F(SmtpServer, OnlyCrLfDotCrLfEndsTheData) {
  Start();
  // A client that hides a second transaction behind an end line that other hops do not see,
  // or that a next hop would see once the CR inside a line goes out as a line end.
  const struct {
    std::string End, Stored;
  } Cases[] = {{"\n.\n", ".."}, {"\n.\r\n", ".."}, {"\r\n.\n", ".."}, {"\r\n.\r\r\n", "..\r"}};
  for (const auto& K : Cases) {
    auto C = Client();
    C.Conn().Write("MAIL FROM:<a@b.c>\r\nRCPT TO:<r@x.y>\r\nDATA\r\nSubject: one\r\n\r\nfirst" + K.End +
                   "MAIL FROM:<evil@b.c>\r\nRCPT TO:<victim@x.y>\r\nDATA\r\nsecond\r\n.\r\nNOOP\r\n");
    for (const char* Want : {"250 Sender a@b.c OK", "250 Message will be forwarded to r@x.y",
                             "354 Start mail input; end with <CRLF>.<CRLF>", "250 OK", "250 OK"})
      EXPECT_EQ(Want, C.Read()) << testing::PrintToString(K.End);
    std::lock_guard<std::mutex> L(M);
    ASSERT_EQ(1u, Mails.size()) << testing::PrintToString(K.End);
    EXPECT_EQ(std::vector<std::string>{"r@x.y"}, Mails[0].Rcpt);
    // The "." line is text, and goes on dot-stuffed as lines travel.
    EXPECT_EQ((std::vector<std::string>{"Subject: one", "", "first", K.Stored, "MAIL FROM:<evil@b.c>",
                                        "RCPT TO:<victim@x.y>", "DATA", "second"}),
              Mails[0].Data);
    Mails.clear();
  }
}

TEST_F(SmtpServer, CommandLinesWithCrOrNulAreRefused) {
  Start();
  auto C = Client();
  for (const std::string& Line : {std::string("MAIL FROM:<a@b.c\rNOOP>"), std::string("RCPT TO:<r@x.y>\r"),
                                 std::string("NOOP\0", 5), std::string("HELO a\0b", 8), std::string("\r")})
    EXPECT_EQ("500 Command contains illegal character!", C.Cmd(Line)) << testing::PrintToString(Line);
  // Bare LF ends a command as CR LF does; nothing of the refused lines was taken.
  C.Conn().Write("RCPT TO:<r@x.y>\n");
  EXPECT_EQ("250 Message will be forwarded to r@x.y", C.Read());
  EXPECT_EQ("354 Start mail input; end with <CRLF>.<CRLF>", C.Cmd("DATA"));
  EXPECT_EQ("250 OK", C.Cmd("."));
  std::lock_guard<std::mutex> L(M);
  ASSERT_EQ(1u, Mails.size());
  EXPECT_EQ("", Mails[0].From);
  EXPECT_EQ(std::vector<std::string>{"r@x.y"}, Mails[0].Rcpt);
}

TEST_F(SmtpServer, MessageSizeLimit) {
  EXPECT_EQ(100u * 1024 * 1024, S.MaxMessageSize.load());
  S.MaxMessageSize = 64 * 1024;
  Start();
  auto C = Client();
  const std::string Refused = "500 Mail size exceeds the limit of 65536 bytes!";
  // Every line counts its CR LF, and at least 32 bytes: 2048 lines of 30 or fewer fill it.
  const struct {
    size_t Count, Length;
    bool Fits;
  } Cases[] = {{2048, 30, true}, {2049, 30, false}, {2048, 0, true}, {2049, 0, false}, {5, 16000, false}};
  for (const auto& K : Cases) {
    std::string Lines;
    for (size_t I = 0; I < K.Count; ++I) Lines += std::string(K.Length, 'x') + "\r\n";
    C.Cmd("RCPT TO:<r@x.y>");
    EXPECT_EQ("354 Start mail input; end with <CRLF>.<CRLF>", C.Cmd("DATA"));
    C.Conn().Write(Lines);
    EXPECT_EQ(K.Fits ? "250 OK" : Refused, C.Cmd(".")) << K.Count << " x " << K.Length;
    EXPECT_EQ("500 RCPT command first!", C.Cmd("DATA"));  // back in the command phase
  }
  EXPECT_EQ("250 OK", Send(C, {"small"}));
  std::lock_guard<std::mutex> L(M);
  ASSERT_EQ(3u, Mails.size());
  EXPECT_EQ(2048u, Mails[0].Data.size());
  EXPECT_EQ(std::vector<std::string>{"small"}, Mails[2].Data);
}

// A line holds at most 16384 characters as the client sends them, a data line's leading dot
// counted; one more ends the connection without a reply, and its message is not taken.
TEST_F(SmtpServer, OverLongLinesEndTheConnectionUnanswered) {
  const size_t Max = TTcpConnection::MaxLineLength;
  ASSERT_EQ(16384u, Max);
  Start();
  auto C = Client();
  EXPECT_EQ("250 OK", C.Cmd("NOOP " + std::string(Max - 5, 'n')));
  const std::string AtLimit = "." + std::string(Max - 1, 'x');
  EXPECT_EQ("250 OK", Send(C, {"Subject: at the limit", AtLimit}));
  const struct {
    const char* Phase;
    std::string Line;
  } Cases[] = {{"command", "NOOP " + std::string(Max - 4, 'n')},
               // Max characters once its dot is gone.
               {"data", "." + std::string(Max, 'x')}};
  for (const auto& K : Cases) {
    auto D = Client();
    if (K.Line[0] == '.') {
      D.Cmd("RCPT TO:<r@x.y>");
      EXPECT_EQ("354 Start mail input; end with <CRLF>.<CRLF>", D.Cmd("DATA"));
    }
    D.Conn().Write(K.Line + "\r\n.\r\nNOOP\r\n");
    EXPECT_EQ("<closed>", D.Read()) << K.Phase;
  }
  EXPECT_EQ("250 OK", C.Cmd("NOOP"));  // other sessions go on
  std::lock_guard<std::mutex> L(M);
  ASSERT_EQ(1u, Mails.size());
  EXPECT_EQ(AtLimit, Mails[0].Data.at(1));  // kept as sent
}

TEST_F(SmtpServer, SilentClientsAreDisconnected) {
  EXPECT_EQ(300 * 1000, S.IdleTimeout.load());
  S.IdleTimeout = 200;
  // Small send buffers: the replies to a client that never reads stall soon, not after
  // megabytes of them.
  S.OnConnect = [](TPeerThread& T) {
    const int Small = 4096;
    setsockopt(T.Connection.Handle(), SOL_SOCKET, SO_SNDBUF, &Small, sizeof Small);
  };
  Start();
  auto WaitForDisconnects = [&](int N) {
    // Up to 20 s: a guard against a hang on a loaded machine, not a figure to meet.
    for (int I = 0; I < 2000 && Disconnects < N; ++I) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Disconnects.load();
  };
  {
    auto C = Client();
    EXPECT_EQ("<closed>", C.Read());
  }
  {
    // Silent in the middle of the data phase: nothing is handed over.
    auto C = Client();
    C.Cmd("RCPT TO:<r@x.y>");
    C.Cmd("DATA");
    C.Send("Subject: half");
    EXPECT_EQ("<closed>", C.Read());
  }
  {
    // Between the lines of AUTH LOGIN.
    auto C = Client();
    EXPECT_EQ("334 VXNlcm5hbWU6", C.Cmd("AUTH LOGIN"));
    EXPECT_EQ("<closed>", C.Read());
  }
  EXPECT_EQ(3, WaitForDisconnects(3));
  {
    // Commands without end from a client that never reads a reply: the server's writes stall.
    auto C = Client();
    const int Small = 4096;
    setsockopt(C.Conn().Handle(), SOL_SOCKET, SO_RCVBUF, &Small, sizeof Small);
    std::thread Writer([&] {
      std::string Noops;
      for (int I = 0; I < 10000; ++I) Noops += "NOOP\r\n";
      try {
        for (;;) C.Conn().Write(Noops);
      } catch (const std::exception&) {
        // the server hung up, or we did
      }
    });
    EXPECT_EQ(4, WaitForDisconnects(4));
    C.Conn().Disconnect();  // wakes our own writer, stalled as well once the server stops reading
    Writer.join();
  }
  EXPECT_EQ(0u, MailCount());
}

TEST_F(SmtpServer, AuthLogin) {
  S.RequireAuth = true;
  std::atomic<int> Asked{0};
  S.OnAuth = [&](const std::string& U, const std::string& P) {
    ++Asked;
    return U == "user" && P == "pass word";
  };
  Start();
  auto C = Client();
  for (const char* Cmd : {"MAIL FROM:<a@b.c>", "RCPT TO:<r@x.y>", "DATA"})
    EXPECT_EQ("500 Authentication required!", C.Cmd(Cmd)) << Cmd;
  EXPECT_EQ("250 Hello h", C.Cmd("HELO h"));
  EXPECT_EQ("250 OK", C.Cmd("RSET"));
  EXPECT_EQ("503 AUTH mechanism PLAIN not available.", C.Cmd("AUTH plain"));
  EXPECT_EQ("503 AUTH mechanism PLAIN ZM9V not available.", C.Cmd("auth plain Zm9v"));
  EXPECT_EQ("503 AUTH mechanism  not available.", C.Cmd("AUTH"));
  auto Auth = [&](const std::string& U, const std::string& P) {
    EXPECT_EQ("334 VXNlcm5hbWU6", C.Cmd("AUTH LOGIN"));
    EXPECT_EQ("334 UGFzc3dvcmQ6", C.Cmd(EncodeBase64(U)));
    return C.Cmd(EncodeBase64(P));
  };
  EXPECT_EQ("500 Authentication failed.", Auth("user", "wrong"));
  EXPECT_EQ("500 Authentication required!", C.Cmd("MAIL FROM:<a@b.c>"));
  // The user name as an initial response on the AUTH line; "=" is an empty one.
  const struct {
    std::string Line, Password, Want;
  } Initial[] = {{"auth login " + EncodeBase64("user"), "wrong", "500 Authentication failed."},
                 {"AUTH LOGIN =", "pass word", "500 Authentication failed."},
                 {"AUTH LOGIN  " + EncodeBase64("user") + " ", "pass word", "235 Authentication successful."}};
  for (const auto& I : Initial) {
    EXPECT_EQ("334 UGFzc3dvcmQ6", C.Cmd(I.Line)) << I.Line;
    EXPECT_EQ(I.Want, C.Cmd(EncodeBase64(I.Password))) << I.Line;
  }
  // A later failure does not take the login back.
  EXPECT_EQ("500 Authentication failed.", Auth("user", ""));
  EXPECT_EQ(5, Asked.load());
  // A refused message leaves the login in place for the next transaction.
  Refuse = [] { throw EVexaAttachmentFilter("Illegal attachment"); };
  EXPECT_EQ("500 Mail contains illegal attachment!", Send(C, {"x"}));
  EXPECT_EQ("250 OK", Send(C, {"y"}));
  {
    std::lock_guard<std::mutex> L(M);
    for (const auto& T : Log) {
      EXPECT_EQ(std::string::npos, T.find(EncodeBase64("pass word"))) << T;
      EXPECT_EQ(std::string::npos, T.find(EncodeBase64("user"))) << T;
    }
  }
  // Without an OnAuth handler a required login always fails.
  S.OnAuth = nullptr;
  auto D = Client();
  EXPECT_EQ("334 VXNlcm5hbWU6", D.Cmd("AUTH LOGIN"));
  EXPECT_EQ("334 UGFzc3dvcmQ6", D.Cmd(EncodeBase64("user")));
  EXPECT_EQ("500 Authentication failed.", D.Cmd(EncodeBase64("pass word")));
}

TEST_F(SmtpServer, AuthWithoutRequireAuthSucceedsUnasked) {
  bool Asked = false;
  S.OnAuth = [&](const std::string&, const std::string&) { return Asked = true, false; };
  Start();
  auto C = Client();
  C.Cmd("AUTH LOGIN");
  C.Cmd("");  // empty user name
  EXPECT_EQ("235 Authentication successful.", C.Cmd(EncodeBase64("x")));
  EXPECT_FALSE(Asked);
}

TEST_F(SmtpServer, RefusalsByTheMessageHandler) {
  Start();
  auto C = Client();
  const std::vector<std::pair<std::function<void()>, std::string>> Table = {
      // The sender may try these again later: 4xx.
      {[] { throw EVexaTooCannotSaveMail("Too many mails received!"); }, "452 Can not save mail. Too many mails received!"},
      {[] { throw EVexaMailStoreFull(); }, "452 Can not save mail. Insufficient storage!"},
      {[] { throw EVexaMailJournalWriteError(); }, "451 Can not save mail. Unknow Error!"},
      {[] { throw std::runtime_error("I/O error"); }, "451 Can not save mail. Unknow Error!"},
      {[] { throw 42; }, "451 Can not save mail. Unknow Error!"},
      // This message will never be taken.
      {[] { throw EVexaAttachmentFilter("Illegal attachment"); }, "500 Mail contains illegal attachment!"},
  };
  for (const auto& [Raise, Want] : Table) {
    Refuse = Raise;
    EXPECT_EQ(Want, Send(C, {"Subject: x"}));
    // The dialogue is back in the command phase with nothing kept.
    EXPECT_EQ("500 RCPT command first!", C.Cmd("DATA"));
  }
  EXPECT_EQ("250 OK", Send(C, {"kept"}));
  EXPECT_EQ(1u, MailCount());
}

TEST_F(SmtpServer, EventsAndTrace) {
  S.OnCheckRecipient = [](TzqSMTPServerThread&, const std::string& A, std::string& Err) {
    if (A != "bad@x.y") return true;
    Err = "No such user here";
    return false;
  };
  S.OnCheckFrom = [](const std::string& A) { return A != "spam@x.y"; };
  S.AddReceivedHeader = true;
  Start();
  auto C = Client();
  EXPECT_EQ("500 No such user here", C.Cmd("RCPT TO:<bad@x.y>"));
  EXPECT_EQ("500 Invalid FROM address", C.Cmd("MAIL FROM:<spam@x.y>"));
  // DATA asks the sender check again, with the empty sender here.
  S.OnCheckFrom = [](const std::string& A) { return !A.empty(); };
  C.Cmd("RCPT TO:<r@x.y>");
  EXPECT_EQ("500 MAIL FROM command first!", C.Cmd("DATA"));
  C.Cmd("HELO myhost");
  EXPECT_EQ("250 OK", Send(C, {"body"}));
  C.Cmd(std::string(300, 'v'));
  std::lock_guard<std::mutex> L(M);
  ASSERT_EQ(1u, Mails.size());
  const auto& D = Mails[0].Data;
  ASSERT_EQ(4u, D.size());
  EXPECT_EQ("Received: from myhost([127.0.0.1])", D[0]);
  EXPECT_EQ(0u, D[1].find("\tby "));
  EXPECT_NE(std::string::npos, D[1].find(" with ESMTP"));
  EXPECT_EQ(0u, D[2].find("\tfor r@x.y; "));
  EXPECT_EQ("body", D[3]);
  // Command lines and the MAIL, RCPT and unknown-command replies are traced, cut to 255.
  auto Has = [&](const std::string& T) { return std::find(Log.begin(), Log.end(), T) != Log.end(); };
  EXPECT_TRUE(Has("RCPT TO:<bad@x.y>"));
  EXPECT_TRUE(Has("500 No such user here"));
  EXPECT_TRUE(Has("250 Sender a@b.c OK"));
  EXPECT_TRUE(Has("250 Message will be forwarded to r@x.y"));
  EXPECT_TRUE(Has(std::string(255, 'v')));
  EXPECT_TRUE(Has("500 unsupport command"));
  EXPECT_FALSE(Has("500 Invalid FROM address"));
}

TEST_F(SmtpServer, ConnectHandlerMayRefuseBeforeTheGreeting) {
  S.OnConnect = [](TPeerThread& T) {
    T.Connection.WriteLn("500 go away");
    T.Connection.Disconnect();
  };
  Start();
  TLineClient C(Port);
  EXPECT_EQ("500 go away", C.Read());
  EXPECT_EQ("<closed>", C.Read());
}

TEST_F(SmtpServer, BrokenClientsEndOnlyTheirOwnConnection) {
  Start();
  auto Good = Client();
  {
    // Disconnect in the middle of the data phase: nothing is handed over.
    auto C = Client();
    C.Cmd("RCPT TO:<r@x.y>");
    C.Cmd("DATA");
    C.Send("Subject: half");
  }
  {
    // An AUTH answer that is not base64 ends that connection without a reply.
    auto C = Client();
    C.Cmd("AUTH LOGIN");
    EXPECT_EQ("<closed>", C.Cmd("!!not base64!!"));
  }
  {
    // Half an AUTH exchange, then gone.
    auto C = Client();
    C.Cmd("AUTH LOGIN");
  }
  {
    // Binary junk with NUL bytes, then a 20 MB line.
    auto C = Client();
    std::string Junk;
    for (int I = 0; I < 4096; ++I) Junk += static_cast<char>(I * 37 % 256);
    C.Conn().Write(Junk + "\r\n");
    try {
      const std::string Big(1 << 20, 'A');
      for (int I = 0; I < 20; ++I) C.Conn().Write(Big);
    } catch (const std::exception&) {
      // the server gave up on the line and closed
    }
  }
  {
    // Thousands of recipients.
    auto C = Client();
    std::string Many;
    for (int I = 0; I < 5000; ++I) Many += "RCPT TO:<r" + std::to_string(I) + "@x.y>\r\n";
    C.Conn().Write(Many);
    for (int I = 0; I < 5000; ++I) ASSERT_EQ(0u, C.Read().find("250 Message will be forwarded to r"));
    EXPECT_EQ("354 Start mail input; end with <CRLF>.<CRLF>", C.Cmd("DATA"));
    EXPECT_EQ("250 OK", C.Cmd("."));
  }
  EXPECT_EQ("250 OK", Good.Cmd("NOOP"));
  EXPECT_EQ("250 OK", Send(Good, {"still fine"}));
  std::lock_guard<std::mutex> L(M);
  ASSERT_EQ(2u, Mails.size());
  EXPECT_EQ(5000u, Mails[0].Rcpt.size());
  EXPECT_EQ(std::vector<std::string>{"still fine"}, Mails[1].Data);
}
