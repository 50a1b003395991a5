#include <gtest/gtest.h>

#include <algorithm>

#include "engine/net/Base64.h"
#include "engine/net/LocalHost.h"
#include "engine/net/TcpServer.h"
#include "engine/settings/VexaBase.h"
#include "support/ReceiverFixture.h"

namespace {
class MailReceiver : public TReceiverFixture {};

}  // namespace

TEST(MailReceiverLists, CutListSetting) {
  using V = std::vector<std::string>;
  EXPECT_EQ(V{}, CutListSetting(""));
  EXPECT_EQ(V{}, CutListSetting("  "));
  EXPECT_EQ(V{"a"}, CutListSetting("a;"));
  EXPECT_EQ(V{"a"}, CutListSetting("a; "));
  EXPECT_EQ((V{"a", ""}), CutListSetting("a;;"));
  EXPECT_EQ((V{"", "a", " b "}), CutListSetting(";a; b "));
}

TEST_F(MailReceiver, StartStopAndLog) {
  Receiver->Start();
  EXPECT_TRUE(Receiver->Active);
  auto C = Client();
  EXPECT_TRUE(WaitForLog("Mail client from 127.0.0.1 connected"));
  EXPECT_EQ("221 Bye", C.Cmd("QUIT"));
  EXPECT_TRUE(WaitForLog("Mail client from 127.0.0.1 disconnected"));
  Receiver->Stop();
  EXPECT_FALSE(Receiver->Active);
  EXPECT_FALSE(Receiver->CheckFrom("a@b.c"));  // inactive: every sender refused
  const auto L = LogLines();
  ASSERT_GE(L.size(), 5u);
  EXPECT_EQ("Built-in SMTP server started. Listening on port " + std::to_string(SMTPPort.load()), L[0]);
  EXPECT_EQ("Local Host: " + GetLocalHostName(), L[1]);
  EXPECT_EQ("Built-in SMTP server stoped", L.back());
  EXPECT_TRUE(Receiver->Slots.empty());
  // And again.
  Receiver->Start();
  auto D = Client();
  EXPECT_EQ("250 OK", D.Cmd("NOOP"));
}

TEST_F(MailReceiver, PortTakenRaisesCouldNotBindSocket) {
  TTcpServer Other;
  Other.Bindings = {{"127.0.0.1", 0}};
  Other.SetActive(true);
  SMTPPort = Other.BoundPorts().at(0);
  try {
    Receiver->Start();
    FAIL() << "started";
  } catch (const ECouldNotBindSocket& E) {
    EXPECT_STREQ("Could not bind socket. Address and port are already in use.", E.what());
  }
  EXPECT_FALSE(Receiver->Active);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(MailReceiver, Bindings) {
  const int P1 = FreeLoopbackPort();
  SMTPMultiIPBind = true;
  SMTPMultiIPBinds = "192.0.2.200:" + std::to_string(FreeLoopbackPort()) + ";127.0.0.1:" + std::to_string(P1) +
                     ";127.0.0.1;127.0.0.1:x25;127.0.0.2:" + std::to_string(FreeLoopbackPort());
  Receiver->Start();
  ASSERT_EQ(1u, Receiver->Server.Bindings.size());
  EXPECT_EQ("127.0.0.1", Receiver->Server.Bindings[0].IP);
  EXPECT_EQ(P1, Receiver->Server.Bindings[0].Port);
  TLineClient C(P1);
  EXPECT_EQ(SmtpGreeting, C.Read());
  // The start line names SMTPPort, not the bound port.
  EXPECT_EQ("Built-in SMTP server started. Listening on port " + std::to_string(SMTPPort.load()), LogLines().at(0));
  Receiver->Stop();

  // No usable entry: every local address at the default port, which is SMTPPort of an earlier
  // single-port start (25 on a fresh receiver).
  SMTPMultiIPBind = false;
  Receiver->Start();
  Receiver->Stop();
  SMTPMultiIPBind = true;
  SMTPMultiIPBinds = "10.1.2.3:" + std::to_string(P1);
  Receiver->Start();
  EXPECT_TRUE(Receiver->Server.Bindings.empty());
  TLineClient D(SMTPPort, "127.0.0.2");
  EXPECT_EQ(SmtpGreeting, D.Read());
}

TEST_F(MailReceiver, LocalUserOnly) {
  LocalUserOnly = true;
  Receiver->Start();
  EXPECT_EQ("500 Local user only.", FirstLine("127.0.0.2", "127.0.0.1"));
  // A client on this machine, whichever of its addresses it connects to.
  EXPECT_EQ(SmtpGreeting, FirstLine("", "127.0.0.1"));
  EXPECT_EQ(SmtpGreeting, FirstLine("127.0.0.2", "127.0.0.2"));
  // The refusal took no slot and was not logged: one connect line for 127.0.0.2, the local one.
  const auto L = LogLines();
  EXPECT_EQ(1, std::count(L.begin(), L.end(), "Mail client from 127.0.0.2 connected"));
}

TEST_F(MailReceiver, ClientAddressRules) {
  SMTPIPUseGranted = true;
  SMTPIPGrantList = "";
  Receiver->Start();
  EXPECT_EQ("500 Your IP address is blocked by this server.", FirstLine("127.0.0.2"));
  EXPECT_EQ(SmtpGreeting, FirstLine(""));  // local clients are not subject to the rules
  Receiver->Stop();

  SMTPIPGrantList = "192.168.1.0:255.255.255.0; 10.0.0.1 ;bad;1.2.3.4:nomask;127.0.0.2";
  Receiver->Start();
  EXPECT_EQ(3u, Receiver->IPGrantRules.size());
  EXPECT_TRUE(Receiver->IPDenyRules.empty());
  const std::vector<std::pair<std::string, bool>> Grant = {
      {"192.168.1.0", true}, {"192.168.1.255", true}, {"192.168.2.1", false}, {"10.0.0.1", true},
      {"10.0.0.2", false},   {"1.2.3.4", false},      {"127.0.0.2", true}};
  for (const auto& [Ip, Want] : Grant) EXPECT_EQ(Want, Receiver->IPAllowed(Ip)) << Ip;
  EXPECT_EQ(SmtpGreeting, FirstLine("127.0.0.2"));
  Receiver->Stop();

  SMTPIPUseGranted = false;
  SMTPIPDenyList = "127.0.0.0:255.255.255.0";
  Receiver->Start();
  EXPECT_FALSE(Receiver->IPAllowed("127.0.0.2"));
  EXPECT_TRUE(Receiver->IPAllowed("127.0.1.2"));
  EXPECT_EQ("500 Your IP address is blocked by this server.", FirstLine("127.0.0.2"));
}

TEST_F(MailReceiver, SenderRules) {
  AuthByFromAddr = true;
  AuthFromUseGranted = true;
  AuthFromGrantList = "Example.COM; other.org;boss@corp.net";
  Receiver->Start();
  const std::vector<std::pair<std::string, bool>> Grant = {
      {"anyone@example.com", true}, {"ANYONE@EXAMPLE.com", true}, {"x@sub.example.com", false},
      {"x@other.org", false},       {"boss@corp.net", true},      {"clerk@corp.net", false},
      {"", false}};
  for (const auto& [A, Want] : Grant) EXPECT_EQ(Want, Receiver->CheckFrom(A)) << A;
  {
    auto C = Client();
    EXPECT_EQ("500 Invalid FROM address", C.Cmd("MAIL FROM:<x@other.org>"));
    C.Cmd("RCPT TO:<r@x.y>");
    EXPECT_EQ("500 MAIL FROM command first!", C.Cmd("DATA"));
  }
  Receiver->Stop();

  AuthFromGrantList = "a.b;;";  // the empty entry lets the empty sender pass
  Receiver->Start();
  EXPECT_TRUE(Receiver->CheckFrom(""));
  Receiver->Stop();

  AuthFromUseGranted = false;
  AuthFromDenyList = "spam.com;bad@ok.com";
  Receiver->Start();
  const std::vector<std::pair<std::string, bool>> Deny = {
      {"x@SPAM.com", false}, {"bad@ok.com", false}, {"good@ok.com", true}, {"", true}};
  for (const auto& [A, Want] : Deny) EXPECT_EQ(Want, Receiver->CheckFrom(A)) << A;
  auto C = Client();
  EXPECT_EQ("250 OK", SendMail(C, "", {"From: Someone <someone@corp.net>", "Subject: hi", "", "body"}));
  Receiver->Stop();

  AuthByFromAddr = false;  // rules loaded but not applied
  Receiver->Start();
  EXPECT_TRUE(Receiver->CheckFrom("x@spam.com"));
  ASSERT_EQ(1u, Store.Mails().size());
  EXPECT_EQ("someone@corp.net", Store.Mails()[0].MailFrom);
}

TEST_F(MailReceiver, Login) {
  SMTPAUthLogin = true;
  SMTPLoginUsername = "Me";
  SMTPLoginPassword = "Secret";
  Receiver->Start();
  EXPECT_TRUE(Receiver->CheckLogin("Me", "Secret"));
  EXPECT_FALSE(Receiver->CheckLogin("me", "Secret"));
  EXPECT_FALSE(Receiver->CheckLogin("Me", "secret"));
  auto C = Client();
  EXPECT_EQ("500 Authentication required!", C.Cmd("MAIL FROM:<a@b.c>"));
  C.Cmd("AUTH LOGIN");
  C.Cmd(EncodeBase64("Me"));
  EXPECT_EQ("235 Authentication successful.", C.Cmd(EncodeBase64("Secret")));
  EXPECT_EQ("250 OK", SendMail(C, "a@b.c", {"x"}));
  SMTPAUthLogin = false;  // read at use
  EXPECT_TRUE(Receiver->CheckLogin("", ""));
}

TEST_F(MailReceiver, LoginWithoutAUserNameLetsNobodyIn) {
  const std::string Red = "SMTP login is required, but no user name is set: no mail client can log in.";
  SMTPAUthLogin = true;
  // Stored as plain text instead of scrambled: unreadable, so no user name and no password.
  Env.WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n\"SMTPAUthLogin\"=dword:00000001\r\n"
                    "\"SMTPLoginUsername\"=\"me\"\r\n\"SMTPLoginPassword\"=\"\"\r\n\"LocalUserOnly\"=dword:00000000\r\n");
  const int Port = SMTPPort;
  ReadSettings();
  SMTPPort = Port;
  ASSERT_TRUE(SMTPAUthLogin);
  ASSERT_EQ("", SMTPLoginUsername.get());
  Receiver->Start();
  EXPECT_EQ(3, LogLevel(Red));
  EXPECT_FALSE(Receiver->CheckLogin("", ""));
  EXPECT_FALSE(Receiver->CheckLogin("me", ""));
  auto C = Client();
  EXPECT_EQ("334 VXNlcm5hbWU6", C.Cmd("AUTH LOGIN"));
  EXPECT_EQ("334 UGFzc3dvcmQ6", C.Cmd(""));
  EXPECT_EQ("500 Authentication failed.", C.Cmd(""));
  EXPECT_EQ("500 Authentication required!", C.Cmd("MAIL FROM:<a@b.c>"));
  Receiver->Stop();
  // With a user name there is no such line.
  SMTPLoginUsername = "me";
  Receiver->Start();
  const auto L = LogLines();
  EXPECT_EQ(1, std::count(L.begin(), L.end(), Red));
}

TEST_F(MailReceiver, SilentClientsGiveBackTheirSlot) {
  SMTPMaxConnections = 1;
  Receiver->Start();
  Receiver->Server.IdleTimeout = 200;
  auto Silent = Client();
  EXPECT_TRUE(WaitForLog("Mail client from 127.0.0.1 connected"));
  EXPECT_EQ("<closed>", Silent.Read());
  EXPECT_TRUE(WaitForLog("Mail client from 127.0.0.1 disconnected"));
  auto Next = Client();
  EXPECT_EQ("250 OK", Next.Cmd("NOOP"));
}

TEST_F(MailReceiver, PortOutsideTheRangeIsNamed) {
  for (const int Port : {0, -1, 65536, 70000}) {
    SMTPPort = Port;
    try {
      Receiver->Start();
      ADD_FAILURE() << "started on " << Port;
      Receiver->Stop();
    } catch (const ECouldNotBindSocket& E) {
      EXPECT_EQ("Could not bind socket. Port " + std::to_string(Port) + " is outside 1 to 65535.", E.what());
    }
    EXPECT_FALSE(Receiver->Active);
  }
  // Such an entry of the bindings is skipped, like any unusable one.
  SMTPMultiIPBind = true;
  const int P = FreeLoopbackPort();
  SMTPMultiIPBinds = "127.0.0.1:70000;127.0.0.1:-1;127.0.0.1:" + std::to_string(P);
  Receiver->Start();
  ASSERT_EQ(1u, Receiver->Server.Bindings.size());
  EXPECT_EQ(P, Receiver->Server.Bindings[0].Port);
}

TEST_F(MailReceiver, RecipientLimit) {
  SMTPRcptLimit = true;
  SMTPMaxRcptNumber = 2;
  Receiver->Start();
  EXPECT_EQ(2, Receiver->Server.MaxRecipients.load());
  Receiver->Stop();
  SMTPRcptLimit = false;
  Receiver->Start();
  EXPECT_EQ(5000, Receiver->Server.MaxRecipients.load());
}

TEST_F(MailReceiver, StoredMail) {
  Receiver->Start();
  auto C = Client();
  const std::string Long(100, 's');
  EXPECT_EQ("250 OK", SendMail(C, "env@x.y", {"From: hdr@x.y", "Subject: " + Long, "", "..dots", "end"}));
  EXPECT_EQ("250 OK", SendMail(C, "", {"From: broken", "", "b"}));
  EXPECT_EQ("250 OK", SendMail(C, "", {"Subject: =?utf-8?B?w6k=?= and =?iso-8859-1?Q?caf=E9_?=", "", "b"}));
  EXPECT_EQ("250 OK", SendMail(C, "", {"Subject: =?x-y?Q?bad=ZZ1234?=", "", "b"}));
  const auto M = Store.Mails();
  ASSERT_EQ(4u, M.size());
  EXPECT_EQ("env@x.y", M[0].MailFrom);
  EXPECT_EQ(std::vector<std::string>{"r@x.y"}, M[0].Recipients);
  EXPECT_EQ(std::string(80 - 9, 's'), M[0].Subject.substr(9));
  EXPECT_EQ(80u, M[0].Subject.size());
  EXPECT_EQ((std::vector<std::string>{"From: hdr@x.y", "Subject: " + Long, "", "..dots", "end"}), M[0].Data);
  EXPECT_EQ(int32_t(13 + 109 + 0 + 6 + 3 + 5 * 2), M[0].Size);
  EXPECT_EQ(mkReceived, M[0].Kind);
  EXPECT_EQ(msWaiting, M[0].State);
  EXPECT_EQ(0, M[0].FailedAttempts);
  EXPECT_EQ(0, M[0].SentTime);
  EXPECT_GT(M[0].ReceiveTime, Now() - 1.0 / 24);
  EXPECT_TRUE(M[0].ID.empty());
  EXPECT_EQ("", M[1].MailFrom);  // no valid From header
  EXPECT_EQ("", M[1].Subject);
  EXPECT_EQ(0u, M[2].Subject.find("\xC3\xA9 and caf"));
  EXPECT_EQ("=?x-y?Q?bad=ZZ1234?=", M[3].Subject);  // undecodable: kept as written
  EXPECT_EQ(TMailKindSet({0, 1, 2, 3}).Bits, Store.LastKinds.load());
  EXPECT_EQ(TMailStateSet({msWaiting}).Bits, Store.LastStates.load());
}

TEST_F(MailReceiver, RefusedMailsKeepTheConnection) {
  UseAttachmentFilter = true;
  AttachmentFilters = "1:exe;0:zip;1:Scr;bad;1:";
  Receiver->Start();
  EXPECT_EQ((std::vector<std::string>{"exe", "Scr", ""}), Receiver->BlockedExts);
  auto C = Client();
  const std::vector<std::string> Zip = {"Content-Type: multipart/mixed; boundary=b", "", "--b",
                                        "Content-Type: application/zip; name=a.zip", "", "x", "--b--", ""};
  std::vector<std::string> Scr = Zip;
  Scr[3] = "Content-Type: application/x; name=\"Screen.SCR\"";
  EXPECT_EQ("500 Mail contains illegal attachment!", SendMail(C, "a@b.c", Scr));
  EXPECT_EQ("250 OK", SendMail(C, "a@b.c", Zip));
  Store.WaitingCount = 5000;
  EXPECT_EQ("250 OK", SendMail(C, "a@b.c", {"x"}));
  Store.WaitingCount = 5001;
  EXPECT_EQ("452 Can not save mail. Too many mails received!", SendMail(C, "a@b.c", {"x"}));
  Store.WaitingCount = 0;
  Store.FailAdd = true;
  EXPECT_EQ("451 Can not save mail. Unknow Error!", SendMail(C, "a@b.c", {"x"}));
  Store.FailAdd = false;
  EXPECT_EQ("250 OK", SendMail(C, "a@b.c", {"x"}));
  EXPECT_EQ(3u, Store.Mails().size());
}
