#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/dns/DNSQuery.h"
#include "engine/dns/DNSServerAddress.h"
#include "support/LoopbackDNS.h"

namespace {

using K = TLoopbackDNS::TReplyKind;

struct TMXOut {
  std::string Host;
  uint16_t Preference;
  bool operator==(const TMXOut&) const = default;
};

std::vector<TMXOut> Exchangers(const TDNSDomainRecord& D) {
  std::vector<TMXOut> Out;
  for (auto* MX = D.FirstMX; MX; MX = MX->Next) {
    EXPECT_EQ(MX->Valid, 1);
    Out.push_back({MX->Host, MX->Preference});
  }
  return Out;
}

class DNSQueryTest : public ::testing::Test {
protected:
  TLoopbackDNS Dns;
  TVexaDNSQuery Query{2};
};

}  // namespace

TEST_F(DNSQueryTest, BadArgumentsGiveNullWithoutAPacket) {
  Dns.SetMX("example.test", {{10, "mx.example.test"}});
  struct TCase {
    int Slot;
    std::string Server, Domain;
  };
  for (const TCase& C : std::vector<TCase>{{0, Dns.Address(), ""},
                                           {0, Dns.Address(), "  \t "},
                                           {0, "", "example.test"},
                                           {0, "   ", "example.test"},
                                           {0, "localhost", "example.test"},
                                           {0, "127.0.0", "example.test"},
                                           {2, Dns.Address(), "example.test"},
                                           {-1, Dns.Address(), "example.test"}}) {
    EXPECT_EQ(Query.Query(C.Slot, C.Server, C.Domain, 2000), nullptr) << C.Slot << " '" << C.Server << "' '" << C.Domain << "'";
  }
  EXPECT_EQ(Dns.QueryCount(), 0);
}

TEST_F(DNSQueryTest, AnswerBecomesSortedRecordWithoutDuplicatesOrBlankNames) {
  Dns.SetMX("example.test", {{20, "c.example.test"},
                             {10, "A.Example.Test"},
                             {10, "b.example.test"},
                             {30, "a.example.test"},  // same host as the first 10, other case
                             {5, ""}});                // root name: no host
  TDNSDomainRecordPtr R = Query.Query(1, Dns.Address(), "Example.TEST", 2000);
  ASSERT_TRUE(R);
  EXPECT_EQ(R->Domain, "Example.TEST");  // as queried
  EXPECT_EQ(R->Valid, 1);
  EXPECT_EQ(R->MXCount, 3);
  EXPECT_EQ(Exchangers(*R), (std::vector<TMXOut>{{"A.Example.Test", 10}, {"b.example.test", 10}, {"c.example.test", 20}}));
  const auto Q = Dns.Questions();
  ASSERT_EQ(Q.size(), 1u);
  EXPECT_EQ(Q[0].Name, "Example.TEST");
  EXPECT_EQ(Q[0].Type, 15);
  EXPECT_TRUE(Q[0].RecursionDesired);
}

TEST_F(DNSQueryTest, RecordsWithoutMXGiveARecordWithoutExchangers) {
  TLoopbackDNS::TReply OnlyA;
  OnlyA.A = {"127.0.0.5"};
  Dns.Set("a-only.test", OnlyA);
  TDNSDomainRecordPtr R = Query.Query(0, Dns.Address(), "a-only.test", 2000);
  ASSERT_TRUE(R);
  EXPECT_EQ(R->MXCount, 0);
  EXPECT_EQ(R->FirstMX, nullptr);
}

TEST_F(DNSQueryTest, FailedAnswersGiveNull) {
  Dns.Set("empty.test", {});  // NOERROR without any record
  Dns.SetKind("nx.test", K::NXDomain);
  Dns.SetKind("fail.test", K::ServFail);
  Dns.SetKind("cut.test", K::Truncated);
  Dns.SetKind("junk.test", K::Garbage);
  Dns.SetKind("quiet.test", K::Silent);
  for (const char* D : {"empty.test", "nx.test", "fail.test", "cut.test", "junk.test", "quiet.test"})
    EXPECT_EQ(Query.Query(0, Dns.Address(), D, 300), nullptr) << D;
}

TEST_F(DNSQueryTest, TimeoutSendsOneQuestionOnly) {
  Dns.SetKind("quiet.test", K::Silent);
  EXPECT_EQ(Query.Query(0, Dns.Address(), "quiet.test", 400), nullptr);
  EXPECT_EQ(Dns.QueryCount(), 1);
  // The slot answers normally afterwards.
  Dns.SetMX("later.test", {{1, "mx.later.test"}});
  EXPECT_TRUE(Query.Query(0, Dns.Address(), "later.test", 2000));
}

TEST_F(DNSQueryTest, CancelAllAffectsOnlyRunningQueriesButStopIsFinal) {
  Dns.SetMX("example.test", {{10, "mx.example.test"}});
  Query.CancelAll();
  EXPECT_TRUE(Query.Query(0, Dns.Address(), "example.test", 2000));
  Query.Stop();
  EXPECT_TRUE(Query.Stopped());
  EXPECT_EQ(Query.Query(0, Dns.Address(), "example.test", 2000), nullptr);
  EXPECT_EQ(Query.Query(1, Dns.Address(), "example.test", 2000), nullptr);
}

TEST(DNSServerCsv, AddressFormsForTheResolver) {
  struct {
    const char* In;
    const char* Out;
  } Cases[] = {{"127.0.0.1", "127.0.0.1"}, {" 10.1.2.3 ", "10.1.2.3"}, {"::1", "[::1]:53"},
               {"[::1]", "[::1]:53"},     {"[::1]:5353", "[::1]:5353"}, {"fe80::1:2", "[fe80::1:2]:53"},
               {"[::1]:0", ""},           {"[::1]:x", ""},            {"[::1", ""},
               {"fe80::1%eth0", ""},      {"localhost", ""},          {"127.0.0", ""},
               {"", ""}};
  for (const auto& C : Cases) EXPECT_EQ(DNSServerCsv(C.In), C.Out) << C.In;
}

TEST_F(DNSQueryTest, IPv6ServersInEveryWrittenForm) {
  TLoopbackDNS Six("::1");
  Six.SetMX("six.test", {{10, "mx.six.test"}});
  for (const char* S : {"::1", " [::1] ", "[::1]:53"}) {
    TDNSDomainRecordPtr R = Query.Query(0, S, "six.test", 2000);
    ASSERT_TRUE(R) << S;
    EXPECT_EQ(Exchangers(*R), (std::vector<TMXOut>{{"mx.six.test", 10}})) << S;
  }
  EXPECT_EQ(Six.QueryCount(), 3);
}

TEST_F(DNSQueryTest, TimeoutOfZeroOrLessHasNoLimitOfItsOwn) {
  Dns.SetMX("example.test", {{10, "mx.example.test"}});
  for (int T : {0, -1}) EXPECT_TRUE(Query.Query(0, Dns.Address(), "example.test", T)) << T;
  // Such a wait still ends with a cancel.
  Dns.SetKind("quiet.test", K::Silent);
  std::thread Canceller([&] {
    while (Dns.QueryCount() < 3) std::this_thread::yield();
    Query.CancelAll();
  });
  EXPECT_EQ(Query.Query(0, Dns.Address(), "quiet.test", 0), nullptr);
  Canceller.join();
}
