#pragma once
// A mail store for receiver tests: records every mail handed to AddMail, reports a waiting
// count the test chooses, and can be told to fail.
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "engine/store/MailStore.h"

class TRecordingStore : public TMailStore {
public:
  std::atomic<int32_t> WaitingCount{0};
  std::atomic<bool> FailAdd{false};
  std::atomic<bool> KeepMails{true};  // false: AddMail keeps nothing (benchmarks)
  // The sets of the last GetMailCount call.
  std::atomic<uint8_t> LastKinds{0}, LastStates{0};

  std::vector<TMailData> Mails() {
    std::lock_guard<std::mutex> L(FLock);
    return FMails;
  }

  bool AddMail(TMailData& Mail) override {
    if (FailAdd) throw std::runtime_error("disk full");
    if (!KeepMails) return false;
    std::lock_guard<std::mutex> L(FLock);
    FMails.push_back(Mail);
    return false;
  }
  int32_t GetMailCount(TMailKindSet Kinds, TMailStateSet States) override {
    LastKinds = Kinds.Bits;
    LastStates = States.Bits;
    return WaitingCount;
  }
  bool HasMailToSend() override { return false; }
  bool GetNextMail(TMailData&) override { return false; }
  bool MailDone(TMailData&) override { return false; }
  bool ChangeMailState(const std::string&, TMailState, TMailState) override { return false; }
  bool DeleteMail(const std::string&) override { return false; }
  void DeleteMails(TMailStateSet) override {}
  void Start() override {}
  void Stop() override {}
  void ResetSending() override {}
  bool FindFirst(TMailKindSet, TMailStateSet, TMailRecord&) override { return false; }
  bool FindNext(TMailRecord&) override { return false; }
  void GetMailRecord(const std::string&, TMailRecord&) override { throw EVexaMailNotFind(); }
  std::unique_ptr<TMailData> LoadMailData(const std::string&) override { return nullptr; }
  void FreeMailData(std::unique_ptr<TMailData>) override {}
  bool PopNotice(TMailNotice&) override { return false; }

private:
  std::mutex FLock;
  std::vector<TMailData> FMails;
};
