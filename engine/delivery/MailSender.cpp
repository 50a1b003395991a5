#include "engine/delivery/MailSender.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailText.h"
#include "platform/DateTime.h"
#include "platform/IniFile.h"

// --- TDaemonThread ---

TDaemonThread::TDaemonThread(int32_t Index, TProc Proc) : Index(Index), FProc(std::move(Proc)) {}

TDaemonThread::~TDaemonThread() {
  Terminate();
  WaitFor();
}

void TDaemonThread::Start() {
  FThread = std::thread([this] {
    Running = true;
    try {
      FProc(*this);
    } catch (...) {
    }
    Running = false;
  });
}

void TDaemonThread::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

// --- TMailSenderModule ---

TMailSenderModule::TMailSenderModule(TMailStore& Store, TDNSCache& DNSCache) : Store(Store), DNSCache(DNSCache) {
  Store.NewMailEvent = &NewMailEvent;
}

TMailSenderModule::~TMailSenderModule() {
  if (FRunning) Stop();
  Store.NewMailEvent = nullptr;
}

void TMailSenderModule::DoLog(uint8_t Level, const std::string& Text) {
  if (OnLog) OnLog(Level, Text);
}

void TMailSenderModule::DeliveryLog(const std::string& MailID, const std::string& Text, int32_t Percent) {
  if (OnDeliveryLog) OnDeliveryLog(MailID, Text, Percent);
}

void TMailSenderModule::LoadRelayServers() { RelayServers.Load(); }

void TMailSenderModule::LoadRelayDomains() {
  std::lock_guard<std::mutex> G(FRelayDomainLock);
  RelayDomainNames = LoadRelayDomainList();
}

void TMailSenderModule::FreeRelayServers() { RelayServers.Clear(); }

void TMailSenderModule::FreeRelayDomains() {
  std::lock_guard<std::mutex> G(FRelayDomainLock);
  RelayDomainNames.clear();
}

int32_t TMailSenderModule::BusyCount() {
  std::lock_guard<std::mutex> G(FDeliveryLock);
  return static_cast<int32_t>(std::count_if(DeliveryThreads.begin(), DeliveryThreads.end(),
                                            [](const auto& T) { return T->Busy.load(); }));
}

void TMailSenderModule::Start() {
  // A second start would leave the first set of threads running unowned.
  if (FRunning) return;
  FRunning = true;
  LoadRelayServers();
  LoadRelayDomains();
  Store.Start();
  {
    std::lock_guard<std::mutex> G(FFinisherLock);
    for (int32_t I = 0; I < FinisherCount; ++I) {
      FinisherThreads.push_back(std::make_unique<TDaemonThread>(I, [this](TDaemonThread& T) { FinisherProc(T); }));
      FinisherThreads.back()->Start();
    }
  }
  {
    const int32_t Count = std::clamp(SenderMaxThreadCount.load(), 1, std::max(1, SenderThreadLimit.load()));
    const bool Relay = RelayToSMTP;
    std::lock_guard<std::mutex> G(FDeliveryLock);
    for (int32_t I = 0; I < Count; ++I) {
      auto T = std::make_unique<TMailDeliveryThread>(DoneEvent, I);
      T->RelayServers = &RelayServers;
      T->RelayEnabled = Relay;
      T->OnDeliveryLog = [this](const std::string& ID, const std::string& Text, int32_t Percent) {
        DeliveryLog(ID, Text, Percent);
      };
      DeliveryThreads.push_back(std::move(T));
      DeliveryThreads.back()->Start();
    }
  }
  {
    std::lock_guard<std::mutex> G(FResolverLock);
    for (int32_t I = 0; I < ResolverCount; ++I) {
      ResolverThreads.push_back(std::make_unique<TDaemonThread>(I, [this](TDaemonThread& T) { ResolverProc(T); }));
      ResolverThreads.back()->Start();
    }
  }
  PumpThread = std::make_unique<TDaemonThread>(0, [this](TDaemonThread& T) { EventPumpProc(T); });
  PumpThread->Start();
  DoLog(0, LangStrings[31]);
}

void TMailSenderModule::Stop() {
  if (!FRunning) return;
  FRunning = false;
  StopThreads();
  Store.Stop();
  FreeRelayServers();
  FreeRelayDomains();
  DoLog(0, LangStrings[32]);
}

void TMailSenderModule::StopThreads() {
  // The resolvers first: nobody hands out mail any more.
  {
    std::lock_guard<std::mutex> G(FResolverLock);
    for (auto& T : ResolverThreads) T->Terminate();
    // Wake them from their waits rather than wait out the slices.
    for (size_t I = 0; I < ResolverThreads.size(); ++I) {
      MailSignal.SetEvent();
      FreedSignal.SetEvent();
    }
    ResolverThreads.clear();  // each destructor waits for its thread
  }
  {
    std::lock_guard<std::mutex> G(FDeliveryLock);
    // With the resolvers gone, a thread that holds a mail (woken, but perhaps not yet busy)
    // is aborted too: otherwise its attempt would run on, each dialogue cut, and be filed
    // as a failure instead of going back to waiting.
    for (auto& T : DeliveryThreads) {
      const TMailState S = T->MailState();
      if (T->Busy || S == msWaiting || S == msSending) T->Abort();
    }
    for (auto& T : DeliveryThreads) {
      // An attempt that was about to connect when it was aborted is cut once it has.
      while (T->Busy) {
        T->RepeatStop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    for (auto& T : DeliveryThreads) T->Terminate();
    for (auto& T : DeliveryThreads) T->WaitFor();
    // A mail that was handed over but never attempted goes back to the store as stopped.
    for (auto& T : DeliveryThreads) {
      const TMailState S = T->MailState();
      if (S == msWaiting || S == msSending) {
        T->Mail.Status = dsStopped;
        T->SetMailState(msAttemptDone);
      }
    }
  }
  // The finishers file every result still waiting and end; only then do the delivery
  // threads go away, so no finisher ever touches a freed one.
  {
    std::lock_guard<std::mutex> G(FFinisherLock);
    for (auto& T : FinisherThreads) T->Terminate();
    for (size_t I = 0; I < FinisherThreads.size(); ++I) DoneSignal.SetEvent();
    FinisherThreads.clear();
  }
  {
    std::lock_guard<std::mutex> G(FDeliveryLock);
    DeliveryThreads.clear();
  }
  if (PumpThread) {
    PumpThread->Terminate();
    FreedEvent.SetEvent();
    PumpThread.reset();
  }
}

void TMailSenderModule::CancelMail(const std::string& ID) {
  if (!FRunning) return;
  std::lock_guard<std::mutex> G(FDeliveryLock);
  for (auto& T : DeliveryThreads)
    if (T->Cancel(ID)) break;
}

void TMailSenderModule::EventPumpProc(TDaemonThread& Thread) {
  const std::vector<TEvent*> Events = {&NewMailEvent, &DoneEvent, &FreedEvent};
  while (FRunning && !Thread.Terminated()) {
    const int I = WaitForAny(Events, 100);
    if (!FRunning) continue;
    if (I == 0) MailSignal.SetEvent();
    if (I == 1) DoneSignal.SetEvent();
    if (I == 2) FreedSignal.SetEvent();
  }
}

TMailDeliveryThread* TMailSenderModule::FindIdleDeliveryThread() {
  std::lock_guard<std::mutex> G(FDeliveryLock);
  for (auto& T : DeliveryThreads) {
    // A thread that no longer runs is never handed a mail.
    if (!T->Reserved && T->Alive() && !T->Terminated()) {
      T->Reserved = true;
      return T.get();
    }
  }
  return nullptr;
}

TMailDeliveryThread* TMailSenderModule::FindFinishedDeliveryThread() {
  std::lock_guard<std::mutex> G(FDeliveryLock);
  for (auto& T : DeliveryThreads)
    if (T->MailState() == msAttemptDone) return T.get();
  return nullptr;
}

namespace {
std::string ExceptionText(const std::exception_ptr& E) {
  try {
    std::rethrow_exception(E);
  } catch (const std::exception& X) {
    return X.what();
  } catch (...) {
    return "Unknow error.";
  }
}
}  // namespace

void TMailSenderModule::ResolverProc(TDaemonThread& Thread) {
  // The one resolver must outlive anything a lookup throws: without it no mail moves.
  while (FRunning && !Thread.Terminated()) {
    try {
      ResolverStep(Thread);
    } catch (...) {
      DoLog(3, "Error: " + ExceptionText(std::current_exception()));
    }
  }
}

void TMailSenderModule::ResolverStep(TDaemonThread& Thread) {
  // 1. Reserve an idle delivery thread.
  TMailDeliveryThread* D = FindIdleDeliveryThread();
  if (!D) {
    for (int Slice = 0; Slice < 50; ++Slice) {
      const bool Signalled = FreedSignal.WaitFor(100);
      if (!FRunning || Thread.Terminated()) return;
      if (Signalled) break;
    }
    return;
  }
  // 2. Take a mail.
  for (;;) {
    bool Got = false;
    try {
      Got = Store.GetNextMail(D->Mail);
    } catch (...) {
      DoLog(3, "Error: " + ExceptionText(std::current_exception()));
    }
    if (Got) break;
    bool Signalled = false;
    for (int Slice = 0; Slice < 50 && !Signalled; ++Slice) {
      Signalled = MailSignal.WaitFor(100);
      if (!FRunning || Thread.Terminated()) {
        D->Mail.Clear();
        D->Reserved = false;
        return;
      }
    }
  }
  D->SetMailState(D->Mail.State);
  // 3., 4. A mail whose lookup failed is still attempted (and counted), never left in
  // the thread: taken again at once, it would fail the same way for ever.
  try {
    ResolveMail(*D, Thread.Index);
  } catch (...) {
    const std::string Text = "Error: " + ExceptionText(std::current_exception());
    D->AddLog(Text);
    DoLog(3, Text);
  }
  D->WakeEvent.SetEvent();
}

void TMailSenderModule::ResolveMail(TMailDeliveryThread& Thread, int32_t Slot) {
  TMailData& Mail = Thread.Mail;
  if (!Mail.Log.empty()) Thread.AddLog("");
  Thread.AddLog(FormatDateTimeISO(Now()));
  Thread.AddLog(fmt::format("[{} v{}]", "Quillon Pro", VersionString.get()));
  Thread.MXHosts.clear();
  Mail.ForceRelay = false;

  const std::string Recipient = Mail.GetRecipient(0);
  const std::string Address = ExtractAddress(Recipient);
  const size_t At = Address.find('@');
  if (At == std::string::npos) {
    Thread.AddLog("Invalid mail address " + Recipient);
    return;
  }
  const std::string Domain = LowerCase(Address.substr(At + 1));
  if (Trim(Domain).empty()) return;

  if (RelayToSMTP && RelayDomains) {
    std::lock_guard<std::mutex> G(FRelayDomainLock);
    const bool Listed = std::any_of(RelayDomainNames.begin(), RelayDomainNames.end(),
                                    [&](const std::string& D) { return SameText(D, Domain); });
    if (Listed) {
      Mail.ForceRelay = true;
      Thread.AddLog("The Recipients' mail domain is '" + Domain + "'. Mail will be relay to SMTP server.");
      Thread.AddLog("");
      return;
    }
  }
  if (RelayToSMTP && DisableDirectDelivery) {
    Thread.AddLog("Direct delivery disabled. No MX host information got from DNS.");
    Thread.AddLog("");
    return;
  }
  Thread.AddLog("DNS Query: Try to get mail exchange host information...");
  Thread.AddLog("DNS server: " + CurrentDNSPrimary.get() + ", " + CurrentDNSSecondary.get());
  TDNSDomainRecordPtr Record;
  try {
    Record = DNSCache.GetMX(Domain, Slot);
  } catch (const std::exception& E) {
    // A broken DNS cache costs this attempt its exchangers, not the resolver its life.
    Thread.AddLog(std::string("DNS Query failed: ") + E.what());
    return;
  }
  if (!Record) {
    Thread.AddLog("No MX host information retrieved. Try to send directly to host " + Domain);
    Thread.MXHosts.push_back(Domain);
    return;
  }
  Thread.AddLog(fmt::format("Get {} MX host information.", Record->MXCount));
  for (const TDNSMXRecord* MX = Record->FirstMX; MX; MX = MX->Next) {
    Thread.MXHosts.push_back(MX->Host);
    Thread.AddLog(fmt::format("{:4d} {}", MX->Preference, MX->Host));
  }
}

void TMailSenderModule::FinishMail(TMailDeliveryThread& Thread) {
  TMailData& Mail = Thread.Mail;
  try {
    if (Mail.Status != dsDelivered && Mail.Status != dsStopped) {
      const std::string Address = ExtractAddress(Mail.GetRecipient(0));
      const size_t At = Address.find('@');
      if (At != std::string::npos) DNSCache.Remove(LowerCase(Address.substr(At + 1)));
    }
  } catch (const std::exception& E) {
    DoLog(3, std::string("Error: ") + E.what());
  }
  try {
    Store.MailDone(Mail);
  } catch (const std::exception& E) {
    DoLog(3, std::string("Error: ") + E.what());
  }
  Mail.Clear();
  Thread.SetMailState(msNone);
  Thread.Reserved = false;
  FreedEvent.SetEvent();
}

void TMailSenderModule::FinisherProc(TDaemonThread& Thread) {
  while (!Thread.Terminated()) {
    if (TMailDeliveryThread* D = FindFinishedDeliveryThread()) {
      FinishMail(*D);
      continue;
    }
    DoneSignal.WaitFor(100);
  }
  // Stopping: file what the delivery threads left behind.
  while (TMailDeliveryThread* D = FindFinishedDeliveryThread()) FinishMail(*D);
}
