#include "support/ReceiverFixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/settings/VexaBase.h"

const char* const SmtpGreeting = "220 Welcome to Quillon ESMTP Serivce.";

void TReceiverFixture::SetUp() {
  InitConstants();
  SMTPPort = FreeLoopbackPort();
  SMTPMaxConnections = 3;
  LocalUserOnly = false;
  SMTPAUthLogin = false;
  SMTPLoginUsername = "";
  SMTPLoginPassword = "";
  SMTPMultiIPBind = false;
  SMTPMultiIPBinds = "";
  SMTPIPUseGranted = false;
  SMTPIPGrantList = "";
  SMTPIPDenyList = "";
  SMTPRcptLimit = false;
  SMTPMaxRcptNumber = 100;
  UseAttachmentFilter = false;
  AttachmentFilters = "";
  AuthByFromAddr = false;
  AuthFromUseGranted = true;
  AuthFromGrantList = "";
  AuthFromDenyList = "";
  Receiver = std::make_unique<TMailReceiver>(&ReceiverStore());
  Receiver->OnLog = [this](uint8_t Level, const std::string& T) {
    std::lock_guard<std::mutex> L(FLogLock);
    FLog.push_back(T);
    FLevels.push_back(Level);
  };
}

void TReceiverFixture::TearDown() {
  if (Receiver->Active) Receiver->Stop();
  Receiver.reset();
}

TLineClient TReceiverFixture::Client(const std::string& SourceIP, const std::string& Host) {
  TLineClient C(SMTPPort, Host, SourceIP);
  EXPECT_EQ(SmtpGreeting, C.Read());
  return C;
}

std::string TReceiverFixture::FirstLine(const std::string& SourceIP, const std::string& Host) {
  TLineClient C(SMTPPort, Host, SourceIP);
  std::string L = C.Read();
  if (L != SmtpGreeting && C.Read() != "<closed>") L += " <still open>";
  return L;
}

std::string TReceiverFixture::SendMail(TLineClient& C, const std::string& From, const std::vector<std::string>& Lines) {
  if (!From.empty()) {
    EXPECT_EQ("250 Sender " + From + " OK", C.Cmd("MAIL FROM:<" + From + ">"));
  }
  EXPECT_EQ("250 Message will be forwarded to r@x.y", C.Cmd("RCPT TO:<r@x.y>"));
  const std::string D = C.Cmd("DATA");
  if (D.compare(0, 3, "354") != 0) return D;
  for (const auto& L : Lines) C.Send(L);
  return C.Cmd(".");
}

std::vector<std::string> TReceiverFixture::LogLines() {
  std::lock_guard<std::mutex> L(FLogLock);
  return FLog;
}

int TReceiverFixture::LogLevel(const std::string& Text) {
  std::lock_guard<std::mutex> L(FLogLock);
  const auto It = std::find(FLog.begin(), FLog.end(), Text);
  return It == FLog.end() ? -1 : FLevels[size_t(It - FLog.begin())];
}

bool TReceiverFixture::WaitForLog(const std::string& Text) {
  for (int I = 0; I < 1000; ++I) {
    {
      std::lock_guard<std::mutex> L(FLogLock);
      if (std::find(FLog.begin(), FLog.end(), Text) != FLog.end()) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}
