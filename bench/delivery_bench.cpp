// Delivery figures: a queue of 10 KB mails to one domain, delivered by the quillon-relay
// harness to a fast loopback sink with 1, 3 and 15 delivery threads; prints mails
// delivered per second. The sinks: Postfix's smtp-sink when it is installed (a single
// process, which caps the rate at about what it can take), then the tests' scripted peer.
//   delivery_bench [mails] [folder] [runs]   (defaults: 2000 mails, a fresh folder under
//   /tmp, 1 run; with several runs each figure is the median, with the best beside it, as
//   the machine is shared)
//   QUILLON_RELAY=<command> runs that in place of the harness built beside the benchmark;
//   QUILLON_SINK=scripted uses only the tests' scripted SMTP peer as the sink.
// Everything stays on loopback: a DNS responder of the benchmark's own answers the MX
// question, and the sink listens on a 127.x.y.z address. Run as root with Postfix installed,
// it then has a private Postfix instance (configuration and queue of its own, 127.0.0.1
// only) deliver the same number of queued mails to the same kind of sink. Last, smtp-source
// straight into smtp-sink shows what the sink itself takes at 1, 3 and 15 sessions.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchMessage.h"
#include "bench/PrivatePostfix.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "platform/Paths.h"
#include "support/ChildProcess.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/ScriptedSmtpPeer.h"

namespace {
using Clock = std::chrono::steady_clock;

// The fast sink: smtp-sink when installed, else a scripted peer of ours.
struct TSink {
  std::string IP;
  TChildProcess Process;
  std::unique_ptr<TScriptedSmtpPeer> Peer;
  std::string Name;

  explicit TSink(bool PreferScripted) {
    if (!PreferScripted && ProgramAvailable("smtp-sink")) {
      close(ListenTcpOnFreeAddress(25, IP));
      if (Process.Start({"smtp-sink", "-u", "postfix", IP + ":25", "256"}) && WaitForListener(IP, 25, 5000)) {
        Name = "smtp-sink";
        return;
      }
      Process.Stop();
    }
    Peer = std::make_unique<TScriptedSmtpPeer>("", 25);
    IP = Peer->IP();
    Name = "scripted peer";
  }
};

// Queues Count mails in the data folder of the current XDG tree.
void FillQueue(int Count) {
  DataDir = DataFolder();
  TMemoryMailStoreOptions O;
  O.RunTicker = false;
  TMemoryMailStore Store(std::move(O));
  const auto Lines = Message10K("<bench@origin.test>", "<rcpt@sink.test>", "delivery bench");
  // Several clients at once, as the receiver's connections would add them.
  std::atomic<int> Next{0};
  std::vector<std::thread> Clients;
  for (int T = 0; T < 16; ++T)
    Clients.emplace_back([&] {
      for (int I; (I = Next++) < Count;) {
        TMailData M;
        M.MailFrom = "bench@origin.test";
        M.Recipients = {"rcpt" + std::to_string(I) + "@sink.test"};
        M.Subject = "delivery bench";
        M.Data = Lines;
        M.Size = 10240;
        M.ReceiveTime = Now();
        M.Kind = mkReceived;
        M.State = msWaiting;
        Store.AddMail(M);
      }
    });
  for (auto& T : Clients) T.join();
}

// The same queue through Postfix: a private instance (its own configuration and queue in
// Root, listening on 127.0.0.1 only) takes Count 10 KB mails from smtp-source while its
// smtp transport is deferred, then delivers them to the sink as its relay host. Answers the
// seconds from the flush to the empty queue, or -1 with Why set.
double PostfixDeliver(const std::string& Root, const std::string& SinkIP, int Count, std::string& Why) {
  TPrivatePostfix Postfix;
  if (!Postfix.Start(Root, SinkIP, Why)) return -1;
  const std::string Etc = Postfix.Etc, Queue = Postfix.Queue;
  RunCommand({"smtp-source", "-s", "10", "-l", "10240", "-m", std::to_string(Count), "-f", "bench@origin.test", "-t",
              "rcpt@sink.test", "127.0.0.1:" + std::to_string(Postfix.Port)});
  for (int I = 0; I < 3000 && CountFiles(Queue + "/deferred") < static_cast<size_t>(Count); ++I)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (CountFiles(Queue + "/deferred") < static_cast<size_t>(Count)) {
    Why = "the queue did not fill";
    return -1;
  }
  RunCommand({"postconf", "-c", Etc, "-e", "defer_transports ="});
  RunCommand({"postfix", "-c", Etc, "reload"});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto T0 = Clock::now();
  RunCommand({"postqueue", "-c", Etc, "-f"});
  const auto Limit = T0 + std::chrono::minutes(5);
  while (Postfix.Queued() > 0 && Clock::now() < Limit) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double Secs = std::chrono::duration<double>(Clock::now() - T0).count();
  const bool Done = Postfix.Queued() == 0;
  Postfix.Stop();
  if (!Done) {
    Why = "not all mails left the queue";
    return -1;
  }
  return Secs;
}

// Runs the harness over the queued mails; answers the seconds from the sender's start to
// the last delivery, or -1 when not all were delivered.
double Deliver(const std::string& Harness, int Count) {
  TChildProcess Relay;
  int Fd = -1;
  if (!Relay.StartPiped({Harness}, Fd)) return -1;
  FILE* Out = fdopen(Fd, "r");
  Clock::time_point Started, Last;
  int Delivered = 0;
  char Line[4096];
  const auto Limit = Clock::now() + std::chrono::minutes(5);
  while (Delivered < Count && Clock::now() < Limit && std::fgets(Line, sizeof Line, Out)) {
    const std::string L = Line;
    if (L.rfind("log 0 SMTP Mail Sender Server Started.", 0) == 0) Started = Clock::now();
    if (L.rfind("log 2 Message from", 0) == 0) {
      ++Delivered;
      Last = Clock::now();
    }
  }
  // Drain the output while the harness stops, so that it never blocks on a full pipe.
  std::thread Drain([Out] {
    char Buf[4096];
    while (std::fgets(Buf, sizeof Buf, Out)) {
    }
  });
  const int Code = Relay.Stop(30000);
  Drain.join();
  std::fclose(Out);
  if (Delivered < Count || Code != 0) {
    std::fprintf(stderr, "only %d of %d mails delivered (harness exit %d)\n", Delivered, Count, Code);
    return -1;
  }
  return std::chrono::duration<double>(Last - Started).count();
}
// "n mails/s", or with several rates "median n mails/s (best n, runs k)"; rates of failed
// runs are 0.
std::string Figure(std::vector<double> Rates) {
  std::sort(Rates.begin(), Rates.end());
  char Buf[128];
  if (Rates.back() <= 0) return "failed";
  if (Rates.size() == 1) {
    std::snprintf(Buf, sizeof Buf, "%.0f mails/s", Rates[0]);
  } else {
    std::snprintf(Buf, sizeof Buf, "median %.0f mails/s (best %.0f, %zu runs)", Rates[Rates.size() / 2], Rates.back(),
                  Rates.size());
  }
  return Buf;
}
}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const int Count = argc > 1 ? std::atoi(argv[1]) : 2000;
  std::string Base = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  const int Runs = std::max(1, argc > 3 ? std::atoi(argv[3]) : 1);
  // QUILLON_RELAY may name another harness command (a wrapper that profiles it, say).
  const char* Override = std::getenv("QUILLON_RELAY");
  const std::string Harness = Override ? Override : std::string(QUILLON_BIN_DIR) + "/quillon-relay";
  if (access(Harness.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "%s not built\n", Harness.c_str());
    return 1;
  }
  TLoopbackDNS Dns;
  // The queue is filled once and copied for each run.
  std::string Template = Base + "/quillon-delivery-queue-XXXXXX";
  if (!mkdtemp(Template.data())) return 1;
  setenv("XDG_DATA_HOME", Template.c_str(), 1);
  const auto F0 = Clock::now();
  FillQueue(Count);
  std::printf("delivery of %d queued 10 KB mails to one domain through quillon-relay (queue filled in %.2f s)\n", Count,
              std::chrono::duration<double>(Clock::now() - F0).count());
  // smtp-sink first when it is there, then our own scripted peer (one thread per session).
  const char* SinkKind = std::getenv("QUILLON_SINK");
  std::vector<bool> Sinks = {false, true};
  if (SinkKind && std::string(SinkKind) == "scripted") Sinks = {true};
  if (!ProgramAvailable("smtp-sink")) Sinks = {true};
  for (bool Scripted : Sinks) {
    for (int Threads : {1, 3, 15}) {
      std::vector<double> Rates;
      std::string SinkName;
      for (int Run = 0; Run < Runs; ++Run) {
        // A fresh sink for each run: the scripted peer keeps every session it had.
        TSink Sink(Scripted);
        SinkName = Sink.Name;
        Dns.SetMX("sink.test", {{10, Sink.IP}});
        std::string Root = Base + "/quillon-delivery-bench-XXXXXX";
        if (!mkdtemp(Root.data())) return 1;
        Root += "/";
        for (const char* D : {"config/quillon", "run"}) std::filesystem::create_directories(Root + D);
        std::filesystem::copy(Template, Root + "data", std::filesystem::copy_options::recursive);
        setenv("XDG_CONFIG_HOME", (Root + "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (Root + "data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (Root + "run").c_str(), 1);
        std::ofstream(Root + "config/quillon/registry.reg")
            << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n"
            << RegistryDword("SMTPPort", FreeLoopbackPort()) << RegistryDword("AutoDetectDNS", 0) << "\"DNSPrimary\"=\""
            << Dns.Address() << "\"\r\n\"DNSSecondary\"=\"" << Dns.Address() << "\"\r\n"
            << RegistryDword("SenderMaxThreadCount", Threads) << RegistryDword("ForbiddenMultiConn", 0)
            << RegistryDword("SenderConntecTimeout", 60) << RegistryDword("DelMessageAfterSent", 0)
            << RegistryDword("RetrySend", 0) << "\r\n";
        const double Secs = Deliver(Harness, Count);
        Rates.push_back(Secs > 0 ? Count / Secs : 0);
        std::filesystem::remove_all(Root);
      }
      if (Threads == 1) std::printf("  exchanger %s\n", SinkName.c_str());
      std::printf("    %2d delivery threads: %d mails, %s\n", Threads, Count, Figure(Rates).c_str());
      std::fflush(stdout);
    }
  }
  std::filesystem::remove_all(Template);

  if (ProgramAvailable("smtp-sink")) {
    std::vector<double> Rates;
    std::string Why;
    for (int Run = 0; Run < Runs && Why.empty(); ++Run) {
      std::string Root = Base + "/quillon-delivery-postfix-XXXXXX";
      if (!mkdtemp(Root.data())) return 1;
      Root += "/";
      TSink Sink(false);
      const double Secs = PostfixDeliver(Root, Sink.IP, Count, Why);
      if (Secs > 0) Rates.push_back(Count / Secs);
      std::filesystem::remove_all(Root);
    }
    if (!Rates.empty())
      std::printf("  Postfix (private instance, default settings: it reuses connections), exchanger smtp-sink\n"
                  "    %d mails, %s\n",
                  Count, Figure(Rates).c_str());
    else
      std::printf("  Postfix: not run (%s)\n", Why.c_str());
  }

  // The sink's own limit: smtp-source straight into it, one mail per session as here.
  if (ProgramAvailable("smtp-sink") && ProgramAvailable("smtp-source")) {
    std::printf("  smtp-source straight into smtp-sink (no relay between)\n");
    for (int Sessions : {1, 3, 15}) {
      std::vector<double> Rates;
      for (int R = 0; R < Runs; ++R) {
        TSink Sink(false);
        const auto T0 = Clock::now();
        const int Code = RunCommand({"smtp-source", "-s", std::to_string(Sessions), "-l", "10240", "-m", std::to_string(Count),
                              "-f", "bench@origin.test", "-t", "rcpt@sink.test", Sink.IP + ":25"});
        const double Secs = std::chrono::duration<double>(Clock::now() - T0).count();
        Rates.push_back(Code == 0 && Secs > 0 ? Count / Secs : 0);
      }
      std::printf("    %2d sessions: %d mails, %s\n", Sessions, Count, Figure(Rates).c_str());
    }
  }
  return 0;
}
