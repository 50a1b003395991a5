#pragma once
// The sender module: moves mail from the store to other mail servers along a fixed
// pipeline of threads. A resolver reserves an idle delivery thread, takes the next mail
// from the store and finds the recipient domain's exchangers; the delivery thread makes
// one attempt; a finisher files the result with the store and frees the delivery thread;
// an event pump turns the store's and the threads' signals into wake-ups.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/delivery/MailDeliveryThread.h"
#include "engine/delivery/RelayServers.h"
#include "engine/dns/DNSBase.h"
#include "engine/store/MailStore.h"
#include "platform/Events.h"

// A worker that runs one procedure of its owner.
class TDaemonThread {
public:
  using TProc = std::function<void(TDaemonThread& Thread)>;
  // Created suspended: Start runs Proc.
  TDaemonThread(int32_t Index, TProc Proc);
  ~TDaemonThread();
  TDaemonThread(const TDaemonThread&) = delete;
  TDaemonThread& operator=(const TDaemonThread&) = delete;

  void Start();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  void WaitFor();

  const int32_t Index;
  std::atomic<bool> Running{false};  // true while Proc runs

private:
  TProc FProc;
  std::atomic<bool> FTerminated{false};
  std::thread FThread;
};

class TMailSenderModule {
public:
  TMailSenderModule(TMailStore& Store, TDNSCache& DNSCache);
  ~TMailSenderModule();
  TMailSenderModule(const TMailSenderModule&) = delete;
  TMailSenderModule& operator=(const TMailSenderModule&) = delete;

  void Start();
  void Stop();
  // Cuts off the running attempt of mail ID, if any (the user deleted the mail).
  void CancelMail(const std::string& ID);
  bool Running() const { return FRunning; }

  // Set before Start. OnLog may be called from any thread; OnDeliveryLog comes from the
  // delivery threads.
  TLogEvent OnLog;
  TDeliveryLogEvent OnDeliveryLog;

  // Attempts running right now (for tests and figures).
  int32_t BusyCount();

private:
  using TDeliveryThreads = std::vector<std::unique_ptr<TMailDeliveryThread>>;

  void DoLog(uint8_t Level, const std::string& Text);
  void DeliveryLog(const std::string& MailID, const std::string& Text, int32_t Percent);
  void LoadRelayServers();
  void LoadRelayDomains();
  void FreeRelayServers();
  void FreeRelayDomains();

  void EventPumpProc(TDaemonThread& Thread);
  void ResolverProc(TDaemonThread& Thread);
  // One round of the resolver: reserve a thread, take a mail, resolve it, wake the thread.
  void ResolverStep(TDaemonThread& Thread);
  void FinisherProc(TDaemonThread& Thread);
  TMailDeliveryThread* FindIdleDeliveryThread();
  TMailDeliveryThread* FindFinishedDeliveryThread();
  void ResolveMail(TMailDeliveryThread& Thread, int32_t Slot);
  void FinishMail(TMailDeliveryThread& Thread);
  void StopThreads();

  TMailStore& Store;
  TDNSCache& DNSCache;
  TEvent NewMailEvent;
  TEvent DoneEvent;
  TEvent FreedEvent;
  TEvent MailSignal;
  TEvent DoneSignal;
  TEvent FreedSignal;

  std::mutex FResolverLock;
  std::vector<std::unique_ptr<TDaemonThread>> ResolverThreads;
  std::mutex FDeliveryLock;
  TDeliveryThreads DeliveryThreads;
  std::mutex FFinisherLock;
  std::vector<std::unique_ptr<TDaemonThread>> FinisherThreads;
  std::unique_ptr<TDaemonThread> PumpThread;
  std::atomic<bool> FRunning{false};

  TRelayServerList RelayServers;
  std::mutex FRelayDomainLock;
  std::vector<std::string> RelayDomainNames;
};
