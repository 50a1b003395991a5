// quillon-relay: runs the relay engine without a window. It wires the engine the way the
// main window does (one running copy, settings from the registry file, the mail store,
// the DNS cache with the DNS servers chosen at server start, the sender module and the
// receiver), prints every log line, delivery line and store change to standard output as
// it comes, and on SIGINT or SIGTERM stops receiver, sender and store as the quit command
// does and exits 0. When the SMTP server cannot start it prints why and exits 1; any other
// start-up that fails (a data folder it cannot write, for one) prints one line with the
// reason to standard error and exits 1.
//
// Output lines:
//   log <level> <text>              status lines of store, DNS, sender and receiver
//   mail <ID> <percent> <text>      delivery lines of one mail (empty text: progress only)
//   notice <action> <ID> <state>    store changes (0 added, 1 changed, 2 removed)
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/delivery/MailSender.h"
#include "engine/dns/DNSCache.h"
#include "engine/receiver/MailReceiver.h"
#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"

namespace {
// Standard output through a buffer: a write and flush per line (a hundred per mail, one
// per percent of progress) would hold every delivery thread up on one lock. A line waits
// at most FlushDelay before it is written; order and lines are kept.
class TOutput {
public:
  static constexpr auto FlushDelay = std::chrono::milliseconds(20);
  TOutput() : FThread([this] { Run(); }) {}
  ~TOutput() {
    {
      std::lock_guard<std::mutex> G(FLock);
      FDone = true;
    }
    FWake.notify_one();
    FThread.join();
  }
  void Line(const std::string& Text) {
    std::lock_guard<std::mutex> G(FLock);
    if (FPending.empty()) FWake.notify_one();
    FPending += Text;
    FPending += '\n';
  }

private:
  void Run() {
    std::string Out;
    std::unique_lock<std::mutex> G(FLock);
    for (;;) {
      FWake.wait(G, [this] { return FDone || !FPending.empty(); });
      // Gather what arrives within the delay, then write it in one go.
      FWake.wait_for(G, FlushDelay, [this] { return FDone; });
      Out.swap(FPending);
      const bool Done = FDone;
      G.unlock();
      std::fwrite(Out.data(), 1, Out.size(), stdout);
      std::fflush(stdout);
      Out.clear();
      G.lock();
      if (Done && FPending.empty()) return;
    }
  }
  std::mutex FLock;
  std::condition_variable FWake;
  std::string FPending;
  bool FDone = false;
  std::thread FThread;
};
TOutput* Output = nullptr;

void PrintLine(const std::string& Line) { Output->Line(Line); }

void Log(uint8_t Level, const std::string& Text) { PrintLine("log " + std::to_string(Level) + " " + Text.substr(0, 255)); }

// What the README says of this tool.
const char* const Usage =
    "Usage: quillon-relay [--help]\n"
    "\n"
    "Runs the Quillon relay engine without a window: it takes the settings from the registry\n"
    "file ($XDG_CONFIG_HOME/quillon/registry.reg) and the mails from the data folder\n"
    "($XDG_DATA_HOME/quillon/data/), starts the SMTP server, the store and the delivery\n"
    "engine, and prints every status line (log <level> <text>), every delivery line of a mail\n"
    "(mail <ID> <percent> <text>) and every store change (notice <action> <ID> <state>) as it\n"
    "comes (buffered, written out within 20 ms). SIGINT or SIGTERM stops it cleanly (exit\n"
    "status 0). When the SMTP server cannot start (its port or an address binding is taken,\n"
    "\"SMTPPort\" is outside 1 to 65535) it prints the reason and exits with status 1; any\n"
    "other start that fails (a data folder it cannot write, for one) prints one line that says\n"
    "where and why, and exits 1. It takes no other arguments.\n";

// Takes the store's change notices off its queue on a thread of its own (a notify target
// must not call back into the store).
class TNoticePrinter : public TNotifyTarget {
public:
  explicit TNoticePrinter(TMailStore& Store) : FStore(Store), FThread([this] { Run(); }) {}
  ~TNoticePrinter() override {
    {
      std::lock_guard<std::mutex> G(FLock);
      FDone = true;
    }
    FWake.notify_one();
    FThread.join();
  }
  void post(unsigned) override {
    {
      std::lock_guard<std::mutex> G(FLock);
      FPending = true;
    }
    FWake.notify_one();
  }

private:
  void Run() {
    std::unique_lock<std::mutex> G(FLock);
    for (;;) {
      FWake.wait(G, [this] { return FPending || FDone; });
      const bool Done = FDone;
      FPending = false;
      G.unlock();
      TMailNotice N;
      while (FStore.PopNotice(N))
        PrintLine("notice " + std::to_string(N.Action) + " " + N.ID + " " + std::to_string(N.State));
      G.lock();
      if (Done) return;
    }
  }
  TMailStore& FStore;
  std::mutex FLock;
  std::condition_variable FWake;
  bool FPending = false;
  bool FDone = false;
  std::thread FThread;
};
}  // namespace

int main(int argc, char** argv) try {
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    if (A == "--help" || A == "-h") {
      std::fputs(Usage, stdout);
      return 0;
    }
    std::fprintf(stderr, "quillon-relay: unknown argument \"%s\" (see --help)\n", A.c_str());
    return 2;
  }
  // Every thread started from here on leaves the two signals to sigwait below.
  sigset_t Quit;
  sigemptyset(&Quit);
  sigaddset(&Quit, SIGINT);
  sigaddset(&Quit, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &Quit, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Static, so that an exit() on the way still writes what was printed; made here, after
  // the signal mask, so that its thread leaves the signals to sigwait too.
  static TOutput Out;
  Output = &Out;
  CheckSingleInstance();
  InitSettings();

  auto Store = std::make_unique<TMemoryMailStore>();
  Store->OnLog = Log;
  Store->FlushEarlyLog();
  auto Notices = std::make_unique<TNoticePrinter>(*Store);
  Store->NotifyWindow = Notices.get();
  auto Cache = std::make_unique<TVexaDNSCache>();
  Cache->OnLog = Log;
  auto Sender = std::make_unique<TMailSenderModule>(*Store, *Cache);
  Sender->OnLog = Log;
  Sender->OnDeliveryLog = [](const std::string& ID, const std::string& Text, int Percent) {
    PrintLine("mail " + ID + " " + std::to_string(Percent) + " " + Text);
  };
  auto Receiver = std::make_unique<TMailReceiver>(Store.get());
  Receiver->OnLog = Log;
  Log(0, LangStrings[15]);

  // Starting the server.
  SelectDNSServers();
  Log(1, LangFmt(91, CurrentDNSPrimary.get(), CurrentDNSSecondary.get()));
  Cache->SetDNSServers(CurrentDNSPrimary.get(), CurrentDNSSecondary.get());
  std::string StartError;
  try {
    Receiver->Start();
  } catch (const ECouldNotBindSocket& E) {
    Log(3, E.what());
    Log(3, LangStrings[41]);
    StartError = E.what();
  } catch (const std::exception& E) {
    Log(3, LangStrings[41]);
    StartError = E.what();
  }
  if (StartError.empty()) {
    Sender->Start();
    Store->Start();
    int Signal = 0;
    sigwait(&Quit, &Signal);
    // The quit command.
    Receiver->Stop();
    if (Sender->Running()) Sender->Stop();
    Store->Stop();
  } else {
    std::fprintf(stderr, "quillon-relay: the SMTP server could not start: %s\n", StartError.c_str());
  }
  Receiver.reset();
  Sender.reset();
  Cache.reset();
  Store->NotifyWindow = nullptr;
  Notices.reset();
  Store.reset();
  return StartError.empty() ? 0 : 1;
} catch (const std::exception& E) {
  std::fprintf(stderr, "quillon-relay: %s\n", E.what());
  return 1;
}
