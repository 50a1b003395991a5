#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DNSTestFiles.h"
#include "engine/dns/DNSCache.h"
#include "engine/settings/VexaBase.h"
#include "support/LoopbackDNS.h"
#include "support/TestEnv.h"

namespace {

using K = TLoopbackDNS::TReplyKind;

std::string Nm(int I) { return "d" + std::to_string(I) + ".test"; }

class DNSCacheTest : public ::testing::Test {
protected:
  DNSCacheTest() {
    InitConstants();
    DNSQueryTimeout = 2000;
    TLoopbackDNS::TReply One;
    One.MX = {{10, "mx.default.test"}};
    Dns.SetDefault(One);
    CurrentDNSPrimary = Dns.Address();
    CurrentDNSSecondary = "";  // never a real server
    Cache = std::make_unique<TVexaDNSCache>();
  }
  ~DNSCacheTest() override {
    Cache.reset();
    CurrentDNSPrimary = "";
  }

  TTestEnv Env;
  TLoopbackDNS Dns;
  std::unique_ptr<TVexaDNSCache> Cache;
};

}  // namespace

TEST_F(DNSCacheTest, CreatesItsFilesUnderTheDataFolder) {
  Cache.reset();
  DataDir = Env.DataHome() + "deep/er";  // no trailing separator
  Cache = std::make_unique<TVexaDNSCache>();
  EXPECT_EQ(DataDir.get(), Env.DataHome() + "deep/er/");
  EXPECT_TRUE(std::filesystem::exists(Env.DataHome() + "deep/er/dns/DNSCache.idx"));
  EXPECT_TRUE(std::filesystem::exists(Env.DataHome() + "deep/er/dns/DNSCache.dat"));
}

TEST_F(DNSCacheTest, LeastRecentlyUsedFallsOutAndHitsMoveToTheFront) {
  for (int I = 0; I < 32; ++I) ASSERT_TRUE(Cache->GetMX(Nm(I), 0));
  ASSERT_TRUE(Cache->GetMX(Nm(0), 0));  // hit: protects d0
  EXPECT_EQ(Dns.QueryCount(), 32);
  ASSERT_TRUE(Cache->GetMX(Nm(32), 0));
  const auto Cached = Cache->CachedDomains();
  ASSERT_EQ(Cached.size(), 32u);
  EXPECT_EQ(Cached[0], Nm(32));
  EXPECT_EQ(Cached[1], Nm(0));
  EXPECT_EQ(Cached[2], Nm(31));
  EXPECT_EQ(Cached.back(), Nm(2));  // d1 fell out
}

TEST_F(DNSCacheTest, RemoveDropsMemoryAndDiskButOnlyWhenInMemory) {
  for (int I = 0; I < 33; ++I) ASSERT_TRUE(Cache->GetMX(Nm(I), 0));  // d0 only on disk now
  EXPECT_FALSE(Cache->Remove(Nm(0)));
  EXPECT_TRUE(Cache->GetMX(Nm(0), 0));
  EXPECT_EQ(Dns.QueryCount(), 33);  // answered from disk
  EXPECT_TRUE(Cache->Remove(Nm(5)));
  EXPECT_FALSE(Cache->Remove(Nm(5)));
  EXPECT_TRUE(Cache->GetMX(Nm(5), 0));
  EXPECT_EQ(Dns.QueryCount(), 34);  // gone from disk too: asked again
  EXPECT_FALSE(Cache->Remove(""));
}

TEST_F(DNSCacheTest, UnansweredDomainsAreCachedNowhere) {
  Dns.SetKind("nx.test", K::NXDomain);
  EXPECT_EQ(Cache->GetMX("nx.test", 0), nullptr);
  EXPECT_EQ(Cache->GetMX("nx.test", 0), nullptr);
  EXPECT_EQ(Dns.QueryCount(), 2);
  EXPECT_TRUE(Cache->CachedDomains().empty());
  EXPECT_TRUE(Cache->GetDiskCache().GetEntries().empty());
}

TEST_F(DNSCacheTest, PrimaryTimeOutThenSecondaryAnswers) {
  TLoopbackDNS Second;
  Second.SetMX("slow.test", {{10, "mx.slow.test"}});
  Dns.SetKind("slow.test", K::Silent);
  Cache.reset();
  DNSQueryTimeout = 300;
  CurrentDNSSecondary = Second.Address();
  Cache = std::make_unique<TVexaDNSCache>();
  TDNSDomainRecordPtr R = Cache->GetMX("slow.test", 0);
  ASSERT_TRUE(R);
  ASSERT_TRUE(R->FirstMX);
  EXPECT_EQ(R->FirstMX->Host, "mx.slow.test");
  EXPECT_EQ(Dns.QueryCount(), 1);
  EXPECT_EQ(Second.QueryCount(), 1);
  // Servers handed in later replace both.
  TLoopbackDNS Third;
  Third.SetMX("third.test", {{10, "mx.third.test"}});
  Cache->SetDNSServers(Third.Address(), "");
  EXPECT_TRUE(Cache->GetMX("third.test", 0));
  EXPECT_EQ(Third.QueryCount(), 1);
}

TEST_F(DNSCacheTest, ResultIsTheCallersOwnCopy) {
  Dns.SetMX("copy.test", {{20, "b.copy.test"}, {10, "a.copy.test"}});
  TDNSDomainRecordPtr First = Cache->GetMX("copy.test", 0);
  ASSERT_TRUE(First);
  First->FirstMX->Host = "changed";
  EXPECT_TRUE(Cache->Remove("copy.test"));  // frees the cached record; ours lives on
  ASSERT_TRUE(First->FirstMX->Next);
  EXPECT_EQ(First->FirstMX->Next->Host, "b.copy.test");
  EXPECT_EQ(First->MXCount, 2);
  TDNSDomainRecordPtr Second = Cache->GetMX("copy.test", 0);
  ASSERT_TRUE(Second);
  EXPECT_EQ(Second->FirstMX->Host, "a.copy.test");
}

TEST_F(DNSCacheTest, BlankDomainsAndAStoppedCacheGiveNull) {
  EXPECT_EQ(Cache->GetMX("", 0), nullptr);
  EXPECT_EQ(Cache->GetMX(" \t", 0), nullptr);
  EXPECT_EQ(Dns.QueryCount(), 0);
  ASSERT_TRUE(Cache->GetMX("cached.test", 0));
  Cache->Stop();
  EXPECT_EQ(Cache->GetMX("cached.test", 0), nullptr);
  EXPECT_EQ(Cache->GetMX("other.test", 0), nullptr);
}

TEST_F(DNSCacheTest, WithoutTheDiskCacheOnlyMemoryHoldsAnswers) {
  UseDNSDiskCache = false;
  ASSERT_TRUE(Cache->GetMX("mem.test", 0));
  ASSERT_TRUE(Cache->GetMX("mem.test", 0));
  EXPECT_EQ(Dns.QueryCount(), 1);
  EXPECT_TRUE(Cache->GetDiskCache().GetEntries().empty());
  EXPECT_TRUE(Cache->Remove("mem.test"));
  UseDNSDiskCache = true;
}

TEST_F(DNSCacheTest, DiskErrorsReachTheCallerAndReleaseTheLocks) {
  dnstest::TFailingDisk Disk;
  Cache.reset();
  Cache = std::make_unique<TVexaDNSCache>(&Disk);
  Disk.FailWritesOf = DataDir.get() + "dns/DNSCache.idx";
  EXPECT_THROW(Cache->GetMX("x.test", 0), EVexaDNSIndexFileWriteError);
  EXPECT_TRUE(Cache->CachedDomains().empty());
  EXPECT_FALSE(Cache->Remove("x.test"));
  Disk.FailWritesOf.clear();
  EXPECT_TRUE(Cache->GetMX("y.test", 0));
  Cache.reset();  // before the disk it uses
}

TEST_F(DNSCacheTest, ServersThatAreNoIPv4AddressesAreUsedOrLogged) {
  std::vector<std::string> Red;
  Cache->OnLog = [&](uint8_t Level, const std::string& Text) {
    if (Level == 3) Red.push_back(Text);
  };
  // An IPv6 address, as resolv.conf may list first.
  TLoopbackDNS Six("::1");
  Six.SetMX("six.test", {{10, "mx.six.test"}});
  Cache->SetDNSServers("::1", "");
  ASSERT_TRUE(Cache->GetMX("six.test", 0));
  // A host name, resolved when the servers are set ("localhost" is 127.0.0.1).
  TLoopbackDNS Local("127.0.0.1");
  Local.SetMX("named.test", {{10, "mx.named.test"}});
  Cache->SetDNSServers("localhost", "");
  ASSERT_TRUE(Cache->GetMX("named.test", 0));
  EXPECT_EQ(Local.QueryCount(), 1);
  EXPECT_TRUE(Red.empty());
  // A server that cannot be used says so; the other one still answers.
  Cache->SetDNSServers("no server!", Dns.Address());
  EXPECT_TRUE(Cache->GetMX("other.test", 0));
  EXPECT_EQ(Red, std::vector<std::string>{"DNS server no server! can not be used: not an IP address or host name"});
}
