#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/dns/DNSQuery.h"
#include "support/LoopbackDNS.h"

// A query waiting for a silent server ends as soon as another thread cancels it; with
// a 20 s time-out a lost cancel would show as a wait of many seconds.
TEST(DNSQueryThreads, CancelAndStopEndAWaitingQuery) {
  TLoopbackDNS Dns;
  Dns.SetKind("quiet.test", TLoopbackDNS::TReplyKind::Silent);
  Dns.SetMX("loud.test", {{10, "mx.loud.test"}});
  TVexaDNSQuery Query(1);
  for (bool Final : {false, true}) {
    const auto Start = std::chrono::steady_clock::now();
    std::thread Canceller([&] {
      while (Dns.QueryCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (Final)
        Query.Stop();
      else
        Query.CancelAll();
    });
    EXPECT_EQ(Query.Query(0, Dns.Address(), "quiet.test", 20000), nullptr);
    Canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(5));
    Dns.ResetCounts();
    // After a cancel the slot works again; after Stop it never does.
    EXPECT_EQ(Query.Query(0, Dns.Address(), "loud.test", 2000) != nullptr, !Final);
    Dns.ResetCounts();
  }
}
