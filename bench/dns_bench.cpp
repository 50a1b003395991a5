// Cost of an MX lookup through the DNS cache: a memory hit, a disk hit and a miss that
// the loopback responder answers (then stored on disk). Prints lookups per second.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/dns/DNSCache.h"
#include "engine/settings/VexaBase.h"
#include "support/LoopbackDNS.h"

namespace {

double Rate(int Count, const std::function<void(int)>& Step) {
  const auto Start = std::chrono::steady_clock::now();
  for (int I = 0; I < Count; ++I) Step(I);
  const std::chrono::duration<double> Took = std::chrono::steady_clock::now() - Start;
  return Count / Took.count();
}

void Print(const char* What, int Count, double PerSecond) {
  std::printf("%-52s %8d lookups  %12.0f lookups/s  %9.2f us each\n", What, Count, PerSecond, 1e6 / PerSecond);
}

std::string Nm(const char* Prefix, int I) { return std::string(Prefix) + std::to_string(I) + ".bench"; }

}  // namespace

int main() {
  std::string Tmpl = (std::filesystem::temp_directory_path() / "quillon-dnsbench-XXXXXX").string();
  if (!mkdtemp(Tmpl.data())) return 1;
  InitConstants();
  DataDir = Tmpl + "/";
  DNSQueryTimeout = 2000;

  TLoopbackDNS Dns;
  TLoopbackDNS::TReply Answer;
  Answer.MX = {{10, "mx1.example.bench"}, {20, "mx2.example.bench"}};
  Dns.SetDefault(Answer);
  CurrentDNSPrimary = Dns.Address();
  CurrentDNSSecondary = "";
  {
    TVexaDNSCache Cache;
    bool Ok = true;
    const auto Check = [&](TDNSDomainRecordPtr R) { Ok = Ok && R && R->MXCount == 2; };

    const int Misses = 2000;  // beyond 512, so the disk cache evicts as it stores
    Print("miss, loopback responder answers, stored on disk", Misses,
          Rate(Misses, [&](int I) { Check(Cache.GetMX(Nm("miss", I), 0)); }));

    // 64 domains in turn: more than the memory holds, so every lookup comes from disk.
    for (int I = 0; I < 64; ++I) Check(Cache.GetMX(Nm("disk", I), 0));
    const int Asked = Dns.QueryCount();
    const int DiskHits = 50000;
    Print("disk hit (memory miss), through GetMX", DiskHits,
          Rate(DiskHits, [&](int I) { Check(Cache.GetMX(Nm("disk", I % 64), 0)); }));
    Print("disk hit, TVexaDNSFile::Lookup alone", DiskHits,
          Rate(DiskHits, [&](int I) { Check(Cache.GetDiskCache().Lookup(Nm("disk", I % 64), 0)); }));

    const int MemHits = 1000000;
    Print("memory hit (most recent domain), through GetMX", MemHits,
          Rate(MemHits, [&](int) { Check(Cache.GetMX("disk63.bench", 0)); }));
    for (int I = 0; I < 32; ++I) Check(Cache.GetMX(Nm("mem", I), 0));
    Print("memory hit (32 domains in turn, last of the list)", MemHits,
          Rate(MemHits, [&](int I) { Check(Cache.GetMX(Nm("mem", I % 32), 0)); }));
    if (!Ok || Dns.QueryCount() != Asked + 32) std::printf("warning: unexpected answers\n");
  }
  std::filesystem::remove_all(Tmpl);
  return 0;
}
