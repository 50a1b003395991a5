#pragma once
// A mail receiver over a recording store, with every server setting at a known value and
// the log collected.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/receiver/MailReceiver.h"
#include "support/LineClient.h"
#include "support/LoopbackSockets.h"
#include "support/RecordingStore.h"
#include "support/TestEnv.h"

extern const char* const SmtpGreeting;

class TReceiverFixture : public testing::Test {
protected:
  TTestEnv Env;
  TRecordingStore Store;
  std::unique_ptr<TMailReceiver> Receiver;

  void SetUp() override;
  void TearDown() override;
  // The store the receiver hands mails to; the recording store unless a test overrides it.
  virtual TMailStore& ReceiverStore() { return Store; }

  // A client that got the greeting (LocalUserOnly is off unless the test turns it on).
  TLineClient Client(const std::string& SourceIP = "", const std::string& Host = "127.0.0.1");
  // The first line a client gets, and whether the connection then closes.
  std::string FirstLine(const std::string& SourceIP, const std::string& Host = "127.0.0.1");
  // MAIL (when From is not empty), RCPT, DATA, the lines, ".": the reply to the end line.
  std::string SendMail(TLineClient& C, const std::string& From, const std::vector<std::string>& Lines);
  std::vector<std::string> LogLines();
  // The level of the first log line equal to Text; -1 when there is none.
  int LogLevel(const std::string& Text);
  // Waits until a log line equal to Text was written (up to 5 s).
  bool WaitForLog(const std::string& Text);

private:
  std::mutex FLogLock;
  std::vector<std::string> FLog;
  std::vector<uint8_t> FLevels;
};
