// Real mail clients against the receiver and the real store: Python's smtplib and swaks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "support/ChildProcess.h"
#include "support/ReceiverFixture.h"

namespace {
class ReceiverClients : public TReceiverFixture {
protected:
  std::unique_ptr<TMemoryMailStore> Real;
  TMailStore& ReceiverStore() override {
    if (!Real) {
      TMemoryMailStoreOptions O;
      O.RunTicker = false;
      Real = std::make_unique<TMemoryMailStore>(std::move(O));
    }
    return *Real;
  }
  void TearDown() override {
    TReceiverFixture::TearDown();
    Real.reset();
  }
  // Runs a shell command line with its output in a file of the test's folder; its exit code.
  int Run(const std::string& Cmd, std::string& Output) {
    const std::string Out = Env.Root() + "client.out";
    const int Rc = std::system((Cmd + " >" + Out + " 2>&1").c_str());
    Output = Env.ReadFile(Out);
    return WIFEXITED(Rc) ? WEXITSTATUS(Rc) : -1;
  }
  std::vector<TMailRecord> Waiting() {
    std::vector<TMailRecord> R;
    TMailRecord Rec;
    for (bool Ok = Real->FindFirst({1, 2, 3}, {msWaiting}, Rec); Ok; Ok = Real->FindNext(Rec)) R.push_back(Rec);
    return R;
  }
};
}  // namespace

TEST_F(ReceiverClients, PythonSmtplib) {
  if (!ProgramAvailable("python3")) GTEST_SKIP() << "python3 not installed";
  SMTPAUthLogin = true;
  SMTPLoginUsername = "me";
  SMTPLoginPassword = "s3cret";
  Receiver->Start();
  const std::string Script = Env.Root() + "send.py";
  Env.WriteFile(Script, R"(import smtplib, sys
s = smtplib.SMTP("127.0.0.1", int(sys.argv[1]), local_hostname="client.test", timeout=10)
code, text = s.ehlo()
assert code == 250 and b"AUTH LOGIN" in text, (code, text)
assert "login" in s.esmtp_features.get("auth", "").lower()
# Both ways smtplib logs in: the user name with AUTH LOGIN (its default), or after the prompt.
for initial in (True, False):
    try:
        s.login("me", "wrong", initial_response_ok=initial)
        raise SystemExit("wrong password accepted")
    except smtplib.SMTPAuthenticationError as e:
        assert e.smtp_code == 500, e
s.login("me", "s3cret")
msg = "From: Me <me@here.test>\r\nSubject: from smtplib\r\n\r\nline one\r\n.hidden dot\r\n"
refused = s.sendmail("me@here.test", ["a@x.test", "b@y.test"], msg)
assert refused == {}, refused
s.quit()
print("sent")
)");
  std::string Out;
  ASSERT_EQ(0, Run("python3 " + Script + " " + std::to_string(SMTPPort.load()), Out)) << Out;
  const auto W = Waiting();
  ASSERT_EQ(2u, W.size());
  EXPECT_EQ("me@here.test", W[0].MailFrom.str());
  EXPECT_EQ("a@x.test", W[0].Recipient.str());
  EXPECT_EQ("b@y.test", W[1].Recipient.str());
  EXPECT_EQ("from smtplib", W[0].Subject.str());
  auto Mail = Real->LoadMailData(W[0].ID.str());
  ASSERT_TRUE(Mail);
  // The client's dot-stuffing is kept as received.
  EXPECT_EQ((std::vector<std::string>{"From: Me <me@here.test>", "Subject: from smtplib", "", "line one", "..hidden dot"}),
            Mail->Data);
}

TEST_F(ReceiverClients, Swaks) {
  if (!ProgramAvailable("swaks")) GTEST_SKIP() << "swaks not installed";
  SMTPAUthLogin = true;
  SMTPLoginUsername = "me";
  SMTPLoginPassword = "pw";
  Receiver->Start();
  // swaks looks its own host name up with gethostbyname, which may ask the machine's DNS
  // server; a Sys::Hostname that does not load makes it skip that.
  Env.WriteFile(Env.Root() + "perl/Sys/Hostname.pm", "die \"no host name here\\n\";\n");
  std::string Out;
  const std::string Base = "PERL5LIB=" + Env.Root() + "perl swaks --server 127.0.0.1 --port " + std::to_string(SMTPPort.load()) +
                           " --helo client.test --from me@here.test --to you@there.test --timeout 10";
  ASSERT_EQ(0, Run(Base + " --auth LOGIN --auth-user me --auth-password pw --header 'Subject: via swaks'", Out)) << Out;
  EXPECT_NE(std::string::npos, Out.find("<-  250 OK")) << Out;
  // Without a login the sender is refused.
  EXPECT_NE(0, Run(Base, Out));
  EXPECT_NE(std::string::npos, Out.find("500 Authentication required!")) << Out;
  const auto W = Waiting();
  ASSERT_EQ(1u, W.size());
  EXPECT_EQ("via swaks", W[0].Subject.str());
  EXPECT_EQ("you@there.test", W[0].Recipient.str());
}
