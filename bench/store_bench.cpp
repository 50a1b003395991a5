// Mail store figures: durable intake (mails added per second from 1, 3 and 10 threads,
// 10 KB messages, one recipient) and the load time of a large store.
//   store_bench [folder]   (default: the current folder; it should be on the disk the
//   program keeps its data on, so that its syncs cost what they cost there)
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchData.h"
#include "bench/BenchMessage.h"
#include "bench/BenchStore.h"
#include "bench/CountingFiles.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point A, Clock::time_point B) { return std::chrono::duration<double>(B - A).count(); }

void Intake(const std::string& Root, int Threads, int Total) {
  std::string Dir = Root + "intake" + std::to_string(Threads) + "/";
  std::filesystem::remove_all(Dir);
  DataDir = Dir;
  TCountingFiles Files;
  TMemoryMailStoreOptions O;
  O.Files = &Files;
  O.RunTicker = false;
  TMemoryMailStore Store(std::move(O));
  const std::vector<std::string> Data = Message10K();
  std::atomic<int> Next{0};
  auto Start = Clock::now();
  std::vector<std::thread> Pool;
  for (int T = 0; T < Threads; ++T) {
    Pool.emplace_back([&] {
      while (Next.fetch_add(1) < Total) {
        TMailData M;
        M.MailFrom = "<bench@here.example>";
        M.Recipients = {"rcpt@far.example"};
        M.Subject = "bench";
        M.Size = 10240;
        M.Kind = mkReceived;
        M.State = msWaiting;
        M.Data = Data;
        Store.AddMail(M);
      }
    });
  }
  for (auto& T : Pool) T.join();
  double S = Seconds(Start, Clock::now());
  std::printf("intake  %2d thread(s): %5d mails in %6.3f s = %7.1f mails/s, %.2f syncs per mail\n", Threads,
              Total, S, Total / S, double(Files.Syncs) / Total);
  std::filesystem::remove_all(Dir);
}

void LoadTime(const std::string& Root, int Waiting, int Sent) {
  std::string Dir = Root + "load/";
  std::filesystem::remove_all(Dir);
  MakeBenchStore(Dir, Waiting, Sent);
  DataDir = Dir;
  DelMessageAfterSent = false;
  TMemoryMailStoreOptions O;
  O.RunTicker = false;
  auto Start = Clock::now();
  auto Store = std::make_unique<TMemoryMailStore>(std::move(O));
  double S = Seconds(Start, Clock::now());
  int N = Store->GetMailCount({1}, {1, 5});
  std::printf("load    %d waiting + %d sent: %d records in %.3f s\n", Waiting, Sent, N, S);
  Store.reset();
  std::filesystem::remove_all(Dir);
}

}  // namespace

int main(int argc, char** argv) {
  std::string Root = argc > 1 ? argv[1] : std::filesystem::current_path().string();
  if (Root.back() != '/') Root += '/';
  Root += "quillon-store-bench-" + std::to_string(getpid()) + "/";
  std::filesystem::create_directories(Root);
  int Total = std::getenv("STORE_BENCH_MAILS") ? std::atoi(std::getenv("STORE_BENCH_MAILS")) : 2000;
  for (int Threads : {1, 3, 10}) Intake(Root, Threads, Total);
  LoadTime(Root, 5000, 50000);
  std::filesystem::remove_all(Root);
  return 0;
}
