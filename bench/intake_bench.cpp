// Durable intake beside a private Postfix, in one run: Postfix's smtp-source
// (-s S -l 10240 -m N, one mail per session) into the receiver over the real store with 0,
// 5,000 and 100,000 mails already waiting, and into Postfix; the syncs each mail costs
// (counted at the store's file seam); and the start-up of the relay harness to listening
// with 5,000 waiting and 50,000 sent mails.
//   intake_bench [mails=2000] [folder=/tmp] [sessions=1,3,10] [preloads=0,5000,100000]
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "bench/CountingFiles.h"
#include "bench/PrivatePostfix.h"
#include "engine/receiver/MailReceiver.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "support/LoopbackDNS.h"
#include "support/RelayHarness.h"

namespace {
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point T0) { return std::chrono::duration<double>(Clock::now() - T0).count(); }

// smtp-source into Port; answers mails per second, or -1.
double SmtpSource(int Port, int Sessions, int Mails) {
  const auto T0 = Clock::now();
  const int Rc = RunCommand({"smtp-source", "-s", std::to_string(Sessions), "-l", "10240", "-m", std::to_string(Mails),
                             "-f", "bench@client.test", "-t", "rcpt@dest.test", "127.0.0.1:" + std::to_string(Port)});
  const double S = Since(T0);
  return Rc == 0 ? Mails / S : -1;
}

struct TIntake {
  double Rate = -1;
  double SyncsPerMail = 0;
  long Stored = 0;
};

TIntake QuillonIntake(const std::string& Dir, int Preloaded, int Sessions, int Mails) {
  std::filesystem::remove_all(Dir);
  MakeBenchStore(Dir, Preloaded, 0);
  DataDir = Dir;
  TCountingFiles Files;
  TMemoryMailStoreOptions O;
  O.Files = &Files;
  TIntake R;
  {
    TMemoryMailStore Store(std::move(O));
    const int Port = FreeLoopbackPort();
    SMTPMultiIPBinds = "127.0.0.1:" + std::to_string(Port);
    TMailReceiver Receiver(&Store);
    Receiver.Start();
    const long Before = Files.Syncs;
    R.Rate = SmtpSource(Port, Sessions, Mails);
    // Every sync the intake caused, the ticker's saves meanwhile included.
    R.SyncsPerMail = double(Files.Syncs - Before) / Mails;
    Receiver.Stop();
    R.Stored = Store.GetMailCount({0, 1, 2, 3}, {msWaiting}) - Preloaded;
  }
  std::filesystem::remove_all(Dir);
  return R;
}

// Seconds from the start of the relay harness to its listening line, with the data folder
// of the XDG tree in Root already filled.
double StartUp(const std::string& Root, const std::string& Harness) {
  TLoopbackDNS Dns;
  TTestEnv Env;  // a private XDG tree
  const std::string Data = Env.DataHome() + "quillon/data/";
  MakeBenchStore(Data, 5000, 50000);
  const int Port = FreeLoopbackPort();
  WriteHarnessRegistry(Env, Port, Dns.Address(), RegistryDword("SenderMaxThreadCount", 1));
  TChildProcess P;
  const std::string Out = Root + "startup.out";
  const auto T0 = Clock::now();
  if (!P.Start({Harness}, Out)) return -1;
  const bool Up = WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port), 60000);
  const double S = Since(T0);
  P.Stop(20000);
  return Up ? S : -1;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const int Mails = argc > 1 ? std::atoi(argv[1]) : 2000;
  const std::string Base = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  const std::vector<int> Sessions = ParseList(argc > 3 ? argv[3] : "1,3,10");
  const std::vector<int> Preloads = ParseList(argc > 4 ? argv[4] : "0,5000,100000");
  if (!ProgramAvailable("smtp-source")) {
    std::fprintf(stderr, "needs Postfix's smtp-source\n");
    return 1;
  }
  std::string Root = Base + "/quillon-intake-bench-XXXXXX";
  if (!mkdtemp(Root.data())) return 1;
  ::chmod(Root.c_str(), 0755);  // Postfix's own users go through it
  Root += "/";
  InitConstants();
  MaxStoredMails = 1 << 30;  // measure intake, not the store's limit
  LocalUserOnly = true;
  SMTPMaxConnections = 20;
  SMTPMultiIPBind = true;
  std::printf("durable intake: smtp-source -s S -l 10240 -m %d, one mail per session, data in %s\n", Mails, Root.c_str());

  // The machine is shared: each figure is the best of Rounds runs, Postfix and Quillon
  // taking turns, so that both meet the same moments of load.
  constexpr int Rounds = 3;
  TPrivatePostfix Postfix;
  std::string Why;
  const bool HavePostfix = Postfix.Start(Root + "postfix/", "127.0.0.1", Why);
  if (!HavePostfix) std::printf("  Postfix: not run (%s)\n", Why.c_str());
  std::printf("  %-9s %8s %14s %14s %7s %12s   (best of %d)\n", "sessions", "listed", "Quillon msg/s",
              "Postfix msg/s", "ratio", "syncs/mail", Rounds);
  for (int Pre : Preloads)
    for (int S : Sessions) {
      TIntake Q;
      double P = -1;
      bool AllStored = true;
      for (int Round = 0; Round < Rounds; ++Round) {
        if (HavePostfix) {
          P = std::max(P, SmtpSource(Postfix.Port, S, Mails));
          RunCommand({"postsuper", "-c", Postfix.Etc, "-d", "ALL"});  // an empty queue for the next run
        }
        const TIntake R = QuillonIntake(Root + "quillon/", Pre, S, Mails);
        AllStored = AllStored && R.Stored == Mails;
        if (R.Rate > Q.Rate) Q = R;
      }
      std::printf("  %-9d %8d %14.0f %14.0f %6.2fx %12.2f%s\n", S, Pre, Q.Rate, P, P > 0 && Q.Rate > 0 ? Q.Rate / P : 0.0,
                  Q.SyncsPerMail, AllStored ? "" : "  (not every mail stored)");
      std::fflush(stdout);
    }
  Postfix.Stop();

  const std::string Harness = std::string(QUILLON_BIN_DIR) + "/quillon-relay";
  if (access(Harness.c_str(), X_OK) == 0) {
    for (int Run = 0; Run < 3; ++Run)
      std::printf("start-up to listening, 5,000 waiting + 50,000 sent mails: %.3f s\n", StartUp(Root, Harness));
  }
  std::filesystem::remove_all(Root);
  return 0;
}
