// Start-up of the desktop program with a large store: the time from exec to the SMTP
// server accepting connections, the resident memory then and a moment later, and the time
// the quit (SIGTERM) takes. Runs the built `quillon` on the offscreen platform in private
// XDG folders; its DNS server is a loopback responder that answers every question with
// NXDOMAIN, so waiting mails fail fast where delivery runs.
//   startup_bench [runs]   (default 3 runs of each case)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/BenchStore.h"
#include "support/ChildProcess.h"
#include "support/LineClient.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/TestEnv.h"

namespace {
using Clock = std::chrono::steady_clock;

bool Accepts(int Port) {
  try {
    TLineClient Client(Port);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

long RssKiB(pid_t Pid) {
  std::ifstream In("/proc/" + std::to_string(Pid) + "/status");
  for (std::string L; std::getline(In, L);)
    if (L.rfind("VmRSS:", 0) == 0) return std::atol(L.c_str() + 6);
  return -1;
}

void Run(const char* Name, int Waiting, int Sent, bool Paused, int Runs) {
  for (int R = 0; R < Runs; ++R) {
    TTestEnv Env;
    TLoopbackDNS Dns;
    const int Port = FreeLoopbackPort();
    WriteHarnessRegistry(Env, Port, Dns.Address(),
                         RegistryDword("WizardAlreadyRun", 1) + RegistryDword("SMTPMultiIPBind", 1) +
                             "\"SMTPMultiIPBinds\"=\"127.0.0.1:" + std::to_string(Port) + "\"\r\n" +
                             RegistryDword("PauseDelivery", Paused));
    MakeBenchStore(Env.DataHome() + "quillon/data/", Waiting, Sent);
    TChildProcess Program;
    const auto Start = Clock::now();
    if (!Program.Start({std::string(QUILLON_BIN_DIR) + "/quillon"}, Env.Root() + "quillon.log")) {
      std::printf("cannot start %s/quillon\n", QUILLON_BIN_DIR);
      return;
    }
    while (!Accepts(Port) && Program.Running() && Clock::now() - Start < std::chrono::seconds(60))
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    const double Listening = std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
    const long Rss = RssKiB(Program.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long RssLater = RssKiB(Program.Pid());
    const auto QuitStart = Clock::now();
    const int Status = Program.Stop(30000);
    const double Quit = std::chrono::duration<double, std::milli>(Clock::now() - QuitStart).count();
    std::printf("%-36s run %d: listening after %7.1f ms, RSS %6.1f MiB (2 s later %6.1f MiB), quit %6.1f ms, status %d\n",
                Name, R + 1, Listening, Rss / 1024.0, RssLater / 1024.0, Quit, Status);
  }
}
}  // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::atoi(argv[1]) : 3;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Run("empty store", 0, 0, false, Runs);
  Run("5,000 waiting + 50,000 sent, paused", 5000, 50000, true, Runs);
  Run("5,000 waiting + 50,000 sent", 5000, 50000, false, Runs);
  return 0;
}
