#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "engine/dns/DNSCache.h"
#include "engine/settings/VexaBase.h"
#include "support/LoopbackDNS.h"
#include "support/TestEnv.h"

namespace {

class DNSCacheThreads : public ::testing::Test {
protected:
  DNSCacheThreads() {
    InitConstants();
    DNSQueryTimeout = 2000;
    TLoopbackDNS::TReply Two;
    Two.MX = {{10, "mx1.default.test"}, {20, "mx2.default.test"}};
    Dns.SetDefault(Two);
    CurrentDNSPrimary = Dns.Address();
    CurrentDNSSecondary = "";
    Cache = std::make_unique<TVexaDNSCache>();
  }
  TTestEnv Env;
  TLoopbackDNS Dns;
  std::unique_ptr<TVexaDNSCache> Cache;
};

}  // namespace

// The resolver reads its records while the finisher removes the same domains.
TEST_F(DNSCacheThreads, ResolverReadsWhileFinisherRemoves) {
  std::atomic<bool> Done{false};
  std::thread Finisher([&] {
    while (!Done)
      for (int I = 0; I < 4; ++I) Cache->Remove("d" + std::to_string(I) + ".test");
  });
  for (int Round = 0; Round < 200; ++Round) {
    TDNSDomainRecordPtr R = Cache->GetMX("d" + std::to_string(Round % 4) + ".test", 0);
    ASSERT_TRUE(R);
    std::this_thread::yield();
    ASSERT_EQ(R->MXCount, 2);
    ASSERT_TRUE(R->FirstMX && R->FirstMX->Next);
    EXPECT_EQ(R->FirstMX->Host, "mx1.default.test");
    EXPECT_EQ(R->FirstMX->Next->Host, "mx2.default.test");
  }
  Done = true;
  Finisher.join();
}

// Stop from another thread ends a lookup that waits for a silent server.
TEST_F(DNSCacheThreads, StopEndsAWaitingLookup) {
  Dns.SetKind("quiet.test", TLoopbackDNS::TReplyKind::Silent);
  Cache.reset();
  DNSQueryTimeout = 20000;
  Cache = std::make_unique<TVexaDNSCache>();
  const auto Start = std::chrono::steady_clock::now();
  std::thread Stopper([&] {
    while (Dns.QueryCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Cache->Stop();
  });
  EXPECT_EQ(Cache->GetMX("quiet.test", 0), nullptr);
  Stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(5));
  EXPECT_EQ(Dns.QueryCount(), 1);  // the secondary is blank, and nothing is asked after Stop
}
