#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/dns/DNSBase.h"
#include "platform/IniFile.h"

namespace {

std::vector<std::string> Hosts(const TDNSDomainRecord* D) {
  std::vector<std::string> Out;
  for (auto* MX = D->FirstMX; MX; MX = MX->Next) Out.push_back(MX->Host);
  return Out;
}

TDNSMXRecord* MX(const std::string& Host, uint16_t Pref) {
  auto* R = NewMXRecord();
  R->Host = Host;
  R->Preference = Pref;
  return R;
}

}  // namespace

TEST(DNSBase, FreshRecordsAreEmpty) {
  TDNSMXRecord* M = NewMXRecord();
  EXPECT_EQ(M->Host, "");
  EXPECT_EQ(M->Preference, 0);
  EXPECT_EQ(M->Valid, 0);
  EXPECT_EQ(M->Next, nullptr);
  delete M;
  const TDateTime Before = Now();
  TDNSDomainRecord* D = NewDomainRecord();
  EXPECT_EQ(D->RecNo, 0);
  EXPECT_EQ(D->MXCount, 0);
  EXPECT_EQ(D->Valid, 0);
  EXPECT_EQ(D->FirstMX, nullptr);
  EXPECT_GE(D->LookupTime, Before);
  FreeDomainRecord(D);
  EXPECT_EQ(D, nullptr);
  FreeDomainRecord(D);  // null does nothing
}

TEST(DNSBase, InsertKeepsAscendingPreferenceAndEqualOnesInInsertionOrder) {
  TDNSDomainRecordPtr D(NewDomainRecord());
  InsertMXRecord(MX("a", 20), D.get(), true);
  InsertMXRecord(MX("b", 10), D.get(), true);
  InsertMXRecord(MX("c", 10), D.get(), true);
  InsertMXRecord(MX("d", 65535), D.get(), false);  // unsigned: highest of all
  InsertMXRecord(MX("e", 0), D.get(), true);
  InsertMXRecord(MX("f", 20), D.get(), true);
  EXPECT_EQ(Hosts(D.get()), (std::vector<std::string>{"e", "b", "c", "a", "f", "d"}));
  EXPECT_EQ(D->MXCount, 5);
  InsertMXRecord(nullptr, D.get(), true);
  TDNSMXRecord* Orphan = MX("x", 1);
  InsertMXRecord(Orphan, nullptr, true);
  delete Orphan;
  EXPECT_EQ(D->MXCount, 5);
}

TEST(DNSBase, CopyIsDeepAndIndependent) {
  TDNSDomainRecordPtr D(NewDomainRecord());
  D->Domain = "example.test";
  D->Valid = 1;
  InsertMXRecord(MX("a", 10), D.get(), true);
  InsertMXRecord(MX("b", 20), D.get(), true);
  TDNSDomainRecordPtr C = CopyDomainRecord(D.get());
  D.reset();
  ASSERT_TRUE(C);
  EXPECT_EQ(C->Domain, "example.test");
  EXPECT_EQ(C->MXCount, 2);
  EXPECT_EQ(Hosts(C.get()), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(CopyDomainRecord(nullptr), nullptr);
}

TEST(DNSBase, LowerCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ(LowerCase("MiXeD.Example-9\xC3\x84"), "mixed.example-9\xC3\x84");
}
