#pragma once
// One delivery thread of the sender module: it owns a mail object and an SMTP client and,
// each time the resolver wakes it, makes one delivery attempt over up to three routes (a
// relay chosen by the sender, the recipient domain's exchangers, every relay in turn).
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/delivery/RelayServers.h"
#include "engine/smtp/zqSMTPClient.h"
#include "engine/store/MailData.h"
#include "platform/Events.h"

// Results of one attempt beyond the client's own codes.
constexpr int32_t arNoRoute = 0;
constexpr int32_t arRecipientRejected = 2;
constexpr int32_t arRelayed = 10;
constexpr int32_t arNoMXHost = 11;

class TMailDeliveryThread {
public:
  // Created suspended: Start runs it.
  TMailDeliveryThread(TEvent& DoneEvent, int32_t Index);
  ~TMailDeliveryThread();
  TMailDeliveryThread(const TMailDeliveryThread&) = delete;
  TMailDeliveryThread& operator=(const TMailDeliveryThread&) = delete;

  void Start();
  // Also wakes the thread, so that it ends at once.
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Waits for the thread's end (Terminate first).
  void WaitFor();
  bool Alive() const { return FAlive; }

  // The mail, owned and reused. Its State tells where the thread stands: 0 idle, msWaiting
  // handed over, msSending attempt running, msAttemptDone result ready for the finisher.
  // Other threads read the state through MailState() only; the mail itself belongs to
  // whoever the state hands it to.
  TMailData Mail;
  TMailState MailState() const { return FState.load(std::memory_order_acquire); }
  // Sets the mail's state and publishes it (with everything written to the mail before).
  void SetMailState(TMailState State);

  std::atomic<bool> Busy{false};
  std::atomic<bool> Stopping{false};
  std::atomic<bool> Reserved{false};
  std::vector<std::string> MXHosts;
  TzqSMTPClient Client;
  TEvent& DoneEvent;
  const int32_t Index;
  TEvent WakeEvent;
  TRelayServerList* RelayServers = nullptr;
  bool RelayEnabled = false;
  TDeliveryLogEvent OnDeliveryLog;
  std::atomic<int32_t> LastPercent{0};

  // One attempt on Mail (called by the thread's loop after each wake-up).
  void DeliverMail();
  // The module stops: the running attempt is cut off and the thread is told to end.
  void Abort();
  // Cuts off the running attempt when it is one for mail ID; the thread stays in
  // service and takes the next mail as usual. True when an attempt was cut.
  bool Cancel(const std::string& ID);
  // Cuts the connection of a running attempt once more (an attempt that was just about
  // to connect when Abort came).
  void RepeatStop();
  void AddLog(const std::string& Line);

private:
  void Execute();
  bool IsStopping() const { return Stopping || FCancelled; }
  void ClientLog(const std::string& Line);
  void ClientProgress(int32_t Percent);
  void DoDeliveryLog(const std::string& MailID, const std::string& Text, int32_t Percent);
  // Route 1 steps 2 to 6 with one relay; false when an exception ended the attempt.
  bool TryRelay(const TRelaySMTPItem& Relay, int64_t Size, int32_t& Result);
  void RecordLastReply();
  void Finish();

  std::atomic<TMailState> FState{0};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FAlive{false};
  std::atomic<bool> FCancelled{false};
  std::mutex FAttemptLock;  // Busy, FAttemptID and FCancelled change together
  std::string FAttemptID;
  std::thread FThread;
};
