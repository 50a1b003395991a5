#include <gtest/gtest.h>

#include <cstdint>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DNSTestFiles.h"
#include "engine/dns/DNSFile.h"
#include "engine/settings/VexaBase.h"
#include "support/LoopbackDNS.h"
#include "support/TestEnv.h"

using namespace dnstest;

namespace {

using K = TLoopbackDNS::TReplyKind;

std::vector<std::string> Hosts(const TDNSDomainRecord& D) {
  std::vector<std::string> Out;
  for (auto* MX = D.FirstMX; MX; MX = MX->Next) Out.push_back(MX->Host);
  return Out;
}

std::vector<std::string> Names(const std::vector<TDNSCacheEntry>& E) {
  std::vector<std::string> Out;
  for (const auto& X : E) Out.push_back(X.Domain);
  return Out;
}

class DNSFileTest : public ::testing::Test {
protected:
  DNSFileTest() {
    std::filesystem::create_directories(Dir);
    TLoopbackDNS::TReply One;
    One.MX = {{10, "mx.default.test"}};
    Dns.SetDefault(One);
    Reopen();
  }
  void Reopen(int MaxEntries = 512) {
    File.reset();
    File = std::make_unique<TVexaDNSFile>(&Query, MaxEntries, Idx, Dat, Dns.Address(), "", 2000);
  }
  void Store(const std::vector<std::string>& Domains) {
    for (const auto& D : Domains) ASSERT_TRUE(File->Lookup(D, 0)) << D;
  }

  TTestEnv Env;
  std::string Dir = Env.DataHome() + "dns/";
  std::string Idx = Dir + "DNSCache.idx";
  std::string Dat = Dir + "DNSCache.dat";
  TLoopbackDNS Dns;
  TVexaDNSQuery Query{1};
  std::unique_ptr<TVexaDNSFile> File;
};

}  // namespace

TEST_F(DNSFileTest, NewFilesHoldExactlyTheirHeaders) {
  uint16_t V[4];
  GetFileVersion(V[0], V[1], V[2], V[3]);
  const std::string I = ReadAll(Idx), D = ReadAll(Dat);
  ASSERT_EQ(I.size(), 34u);
  ASSERT_EQ(D.size(), 30u);
  EXPECT_EQ(I.substr(0, 8), "VexaDIdx");
  EXPECT_EQ(D.substr(0, 8), "VexaDDat");
  for (int K = 0; K < 4; ++K) {
    EXPECT_EQ(U16(I, 8 + 2 * K), V[K]);
    EXPECT_EQ(U16(D, 8 + 2 * K), V[K]);
  }
  EXPECT_EQ(U16(I, 16), 34);
  EXPECT_EQ(U16(D, 16), 30);
  EXPECT_EQ(I.substr(18), std::string(16, '\0'));
  EXPECT_EQ(D.substr(18), std::string(12, '\0'));
}

TEST_F(DNSFileTest, SearchProbes) {
  EXPECT_EQ(File->Search("a"), 0);
  Store({"b"});
  EXPECT_EQ(File->Search("a"), 0);
  EXPECT_EQ(File->Search("b"), 1);
  EXPECT_EQ(File->Search("c"), -2);
  Store({"d", "f", "h", "h\xC3\xA4"});
  struct TCase {
    const char* Key;
    int Result;
  } Cases[] = {{"a", 0},  {"b", 1},  {"ba", -1}, {"c", -1},       {"d", 2},  {"e", -2},
               {"f", 3},  {"g", -3}, {"h", 4},   {"h\xC3\xA4", 5}, {"hz", -4}, {"i", -6}, {"\xC3", -6}};
  for (const auto& C : Cases) EXPECT_EQ(File->Search(C.Key), C.Result) << C.Key;
  try {
    File->Search("  ");
    FAIL();
  } catch (const EVexaDNSSearchError& E) {
    EXPECT_STREQ(E.what(), "Invalid DomainName");
  }
}

TEST_F(DNSFileTest, RecordsAreWrittenByteForByteAndReadBackAfterReopening) {
  Dns.SetMX("mixed.test", {{10, "A.mixed.test"}, {10, "B.mixed.test"}, {5, "c.mixed.test"}});
  const TDateTime Before = Now();
  TDNSDomainRecordPtr R = File->Lookup("MiXed.TEST", 0);
  ASSERT_TRUE(R);
  EXPECT_EQ(R->Domain, "mixed.test");
  EXPECT_EQ(Hosts(*R), (std::vector<std::string>{"c.mixed.test", "A.mixed.test", "B.mixed.test"}));
  EXPECT_EQ(Dns.Questions().at(0).Name, "mixed.test");

  const std::string I = ReadAll(Idx), D = ReadAll(Dat);
  ASSERT_EQ(I.size(), 34u + 282u);
  ASSERT_EQ(D.size(), 30u + 3 * 263u);
  EXPECT_EQ(I32(I, 18), 1);  // ChainHead
  EXPECT_EQ(I32(I, 22), 0);  // FreeHead
  EXPECT_EQ(I32(I, 26), 1);  // InUse
  EXPECT_EQ(I32(I, 30), 1);  // Allocated
  const size_t At = IndexRec(1);
  EXPECT_EQ(I32(I, At), 1);
  EXPECT_EQ(I32(I, At + 4), 0);
  EXPECT_EQ(Name(I, At + 8), "mixed.test");
  EXPECT_EQ(I.substr(At + 8 + 11, 245), std::string(245, '\0'));
  EXPECT_GE(F64(I, At + 264), Before);
  EXPECT_EQ(F64(I, At + 264), R->LookupTime);
  EXPECT_EQ(I[At + 272], 0);
  EXPECT_EQ(I[At + 273], 1);
  EXPECT_EQ(I32(I, At + 274), 3);  // FirstData: the exchanger written last
  EXPECT_EQ(I32(I, At + 278), 3);
  // Data records in memory order, each pointing at the one written before it.
  EXPECT_EQ(I32(D, 18), 0);
  EXPECT_EQ(I32(D, 22), 3);
  EXPECT_EQ(I32(D, 26), 3);
  const char* Want[3] = {"c.mixed.test", "A.mixed.test", "B.mixed.test"};
  const uint16_t Pref[3] = {5, 10, 10};
  for (int N = 1; N <= 3; ++N) {
    EXPECT_EQ(Name(D, DataRec(N)), Want[N - 1]);
    EXPECT_EQ(U16(D, DataRec(N) + 256), Pref[N - 1]);
    EXPECT_EQ(D[DataRec(N) + 258], 1);
    EXPECT_EQ(I32(D, DataRec(N) + 259), N - 1);
  }

  Reopen();
  ASSERT_EQ(Names(File->GetEntries()), std::vector<std::string>{"mixed.test"});
  TDNSDomainRecordPtr Again = File->Lookup("MIXED.test", 0);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Dns.QueryCount(), 1);  // answered from disk
  // Equal preferences come back reversed: the chain runs from the last one written.
  EXPECT_EQ(Hosts(*Again), (std::vector<std::string>{"c.mixed.test", "B.mixed.test", "A.mixed.test"}));
  EXPECT_EQ(Again->LookupTime, R->LookupTime);
  EXPECT_EQ(Again->MXCount, 3);
  EXPECT_EQ(Again->RecNo, 1);
}

TEST_F(DNSFileTest, DeleteSearchesTheNameAsGiven) {
  Store({"Upper.Test"});
  File->Delete("Upper.Test");
  EXPECT_EQ(Names(File->GetEntries()), std::vector<std::string>{"upper.test"});
  File->Delete("upper.test");
  EXPECT_TRUE(File->GetEntries().empty());
  EXPECT_THROW(File->Delete(""), EVexaDNSSearchError);
}

TEST_F(DNSFileTest, AnswersWithoutExchangersOrWithoutAnyAnswerAreNotStored) {
  TLoopbackDNS::TReply OnlyA;
  OnlyA.A = {"127.0.0.7"};
  Dns.Set("a-only.test", OnlyA);
  Dns.SetKind("nx.test", K::NXDomain);
  TDNSDomainRecordPtr R = File->Lookup("a-only.test", 0);
  ASSERT_TRUE(R);
  EXPECT_EQ(R->MXCount, 0);
  EXPECT_EQ(File->Lookup("nx.test", 0), nullptr);
  EXPECT_TRUE(File->GetEntries().empty());
  EXPECT_EQ(ReadAll(Idx).size(), 34u);
  EXPECT_EQ(ReadAll(Dat).size(), 30u);
  // Nothing was learned, so each lookup asks again.
  EXPECT_EQ(File->Lookup("nx.test", 0), nullptr);
  EXPECT_EQ(Dns.QueryCount(), 3);
}

TEST_F(DNSFileTest, PrimaryTimeOutFallsBackToTheSecondary) {
  TLoopbackDNS Second;
  Second.SetMX("fallback.test", {{10, "mx.fallback.test"}});
  Dns.SetKind("fallback.test", K::Silent);
  File = std::make_unique<TVexaDNSFile>(&Query, 512, Idx, Dat, Dns.Address(), Second.Address(), 300);
  TDNSDomainRecordPtr R = File->Lookup("fallback.test", 0);
  ASSERT_TRUE(R);
  EXPECT_EQ(Hosts(*R), std::vector<std::string>{"mx.fallback.test"});
  EXPECT_EQ(Dns.QueryCount(), 1);
  EXPECT_EQ(Second.QueryCount(), 1);
  EXPECT_EQ(Names(File->GetEntries()), std::vector<std::string>{"fallback.test"});
  // New servers take over at once; a stopped cache still answers hits but stores nothing.
  TLoopbackDNS Third;
  Third.SetMX("third.test", {{1, "mx.third.test"}});
  File->SetDNSServers(Third.Address(), "");
  EXPECT_TRUE(File->Lookup("third.test", 0));
  File->Stop();
  EXPECT_TRUE(File->Lookup("fallback.test", 0));
  EXPECT_EQ(File->Lookup("other.test", 0), nullptr);
  EXPECT_EQ(File->GetEntries().size(), 2u);
}

TEST_F(DNSFileTest, DeletedRecordsAreReusedAndFilesNeverShrink) {
  Dns.SetMX("b.test", {{10, "mx1.b.test"}, {20, "mx2.b.test"}});
  Store({"a.test", "b.test", "c.test"});
  const auto Before = File->GetEntries();
  const size_t IdxSize = ReadAll(Idx).size(), DatSize = ReadAll(Dat).size();

  File->Delete("a.test");  // the first of the chain
  EXPECT_EQ(File->GetIndexHeader().ChainHead, Before[1].RecNo);
  File->Delete("b.test");
  EXPECT_EQ(File->GetIndexHeader().ChainHead, Before[2].RecNo);
  EXPECT_EQ(File->GetIndexHeader().InUse, 1);
  EXPECT_EQ(File->GetDataHeader().InUse, 1);
  EXPECT_EQ(ReadAll(Idx).size(), IdxSize);
  EXPECT_EQ(ReadAll(Dat).size(), DatSize);

  Dns.SetMX("d.test", {{10, "mx1.d.test"}, {20, "mx2.d.test"}, {30, "mx3.d.test"}});
  Store({"d.test"});
  // The last record freed is reused first, and the three freed data records carry d.
  EXPECT_EQ(File->GetEntries().back().RecNo, Before[1].RecNo);
  EXPECT_EQ(File->GetDataHeader().Allocated, 4);
  EXPECT_EQ(ReadAll(Idx).size(), IdxSize);
  EXPECT_EQ(ReadAll(Dat).size(), DatSize);

  Reopen();
  EXPECT_EQ(Names(File->GetEntries()), (std::vector<std::string>{"c.test", "d.test"}));
  TDNSDomainRecordPtr D = File->Lookup("d.test", 0);
  ASSERT_TRUE(D);
  EXPECT_EQ(Hosts(*D), (std::vector<std::string>{"mx1.d.test", "mx2.d.test", "mx3.d.test"}));
}

// The oldest entry sits in the middle of the names, in front of where the new one goes:
// the chain must stay sorted after the eviction.
TEST_F(DNSFileTest, FullCacheEvictsTheOldestAndReusesItsRecord) {
  auto Nm = [](int I) {
    char B[16];
    snprintf(B, sizeof B, "d%03d.test", I);
    return std::string(B);
  };
  Store({Nm(100)});
  std::this_thread::sleep_for(std::chrono::milliseconds(3));  // lookup times count milliseconds
  for (int I = 0; I < 512; ++I)
    if (I != 100) Store({Nm(I)});
  ASSERT_EQ(File->GetEntries().size(), 512u);
  Store({"d300x.test"});
  auto E = File->GetEntries();
  ASSERT_EQ(E.size(), 512u);
  EXPECT_EQ(File->GetIndexHeader().InUse, 512);
  EXPECT_EQ(File->GetIndexHeader().Allocated, 512);
  EXPECT_TRUE(std::is_sorted(E.begin(), E.end(), [](auto& A, auto& B) { return A.Domain < B.Domain; }));
  EXPECT_EQ(File->Search(Nm(100)), -100);
  const int At = File->Search("d300x.test");
  ASSERT_GT(At, 0);
  EXPECT_EQ(E[At - 1].RecNo, 1);  // the record of d100

  Reopen();
  EXPECT_EQ(Names(File->GetEntries()), Names(E));
  const int Asked = Dns.QueryCount();
  EXPECT_TRUE(File->Lookup("d300x.test", 0));
  EXPECT_TRUE(File->Lookup(Nm(511), 0));
  EXPECT_EQ(Dns.QueryCount(), Asked);
}

// Damaged files never hang or crash the cache: every walk ends, what cannot be read is
// left out, and the cache keeps working (and stays consistent) afterwards.
TEST_F(DNSFileTest, DamagedFilesStillOpenAndWork) {
  using TList = std::vector<std::string>;
  const TList All = {"a.test", "b.test", "c.test"};
  struct TCase {
    const char* What;
    std::function<void(const std::string& Idx, const std::string& Dat)> Damage;
    TList Left;
  };
  const std::vector<TCase> Cases = {
      {"chain loops back to its head", [](auto& I, auto&) { Patch32(I, IndexRec(3) + 4, 1); }, All},
      {"record links to itself", [](auto& I, auto&) { Patch32(I, IndexRec(1) + 4, 1); }, {"a.test"}},
      {"chain head beyond Allocated", [](auto& I, auto&) { Patch32(I, 18, 999); }, {}},
      {"link beyond Allocated", [](auto& I, auto&) { Patch32(I, IndexRec(2) + 4, 50); }, {"a.test", "b.test"}},
      {"free record inside the chain", [](auto& I, auto&) { Patch32(I, IndexRec(2) + 273, 0); }, {"a.test"}},
      {"InUse far beyond the file", [](auto& I, auto&) { Patch32(I, 26, 1000000000); }, All},
      {"Allocated far beyond the file", [](auto& I, auto&) { Patch32(I, 30, 0x7fffffff); }, All},
      {"index free list at a record in use", [](auto& I, auto&) { Patch32(I, 22, 2); }, All},
      {"data chain loops", [](auto&, auto& D) { Patch32(D, DataRec(1) + 259, 1); }, All},
      {"data Allocated far beyond the file", [](auto&, auto& D) { Patch32(D, 26, 0x7fffffff); }, All},
      {"index shorter than its header", [](auto& I, auto&) { WriteAll(I, ReadAll(I).substr(0, 10)); }, {}},
      {"data shorter than its header", [](auto&, auto& D) { WriteAll(D, "Vexa"); }, {}},
      {"data file missing", [](auto&, auto& D) { std::filesystem::remove(D); }, {}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    File.reset();
    std::filesystem::remove(Idx);
    Reopen();
    Store(All);
    File.reset();
    C.Damage(Idx, Dat);
    ASSERT_NO_THROW(Reopen());
    EXPECT_EQ(Names(File->GetEntries()), C.Left);
    EXPECT_EQ(File->GetIndexHeader().InUse, static_cast<int>(C.Left.size()));
    const int Asked = Dns.QueryCount();
    for (const auto& D : C.Left) EXPECT_TRUE(File->Lookup(D, 0)) << D;
    EXPECT_EQ(Dns.QueryCount(), Asked);
    Store({"z.test"});
    Reopen();
    TList Want = C.Left;
    Want.push_back("z.test");
    EXPECT_EQ(Names(File->GetEntries()), Want);
    for (const auto& D : Want) EXPECT_TRUE(File->Lookup(D, 0)) << D;
  }
}

TEST_F(DNSFileTest, LoopingDataFreeListIsCutBeforeItHandsOutARecordTwice) {
  Dns.SetMX("x.test", {{10, "mx1.x.test"}, {20, "mx2.x.test"}});
  Dns.SetMX("y.test", {{10, "mx1.y.test"}, {20, "mx2.y.test"}, {30, "mx3.y.test"}});
  Store({"x.test"});
  File->Delete("x.test");  // free list 2 -> 1
  ASSERT_EQ(File->GetDataHeader().FreeHead, 2);
  File.reset();
  Patch32(Dat, DataRec(1) + 259, 2);  // 1 -> 2: a loop
  Reopen();
  Store({"y.test"});
  Reopen();
  TDNSDomainRecordPtr Y = File->Lookup("y.test", 0);
  ASSERT_TRUE(Y);
  EXPECT_EQ(Hosts(*Y), (std::vector<std::string>{"mx1.y.test", "mx2.y.test", "mx3.y.test"}));
}

// Found by fuzzing: a damaged count of data records in use at the edge of its range
// overflowed when a domain's exchangers were freed.
TEST_F(DNSFileTest, DamagedDataCountStaysInRange) {
  Dns.SetMX("x.test", {{10, "mx1.x.test"}, {20, "mx2.x.test"}});
  for (const int32_t Damaged : {INT32_MIN, INT32_MAX, -5}) {
    SCOPED_TRACE(Damaged);
    File.reset();
    std::filesystem::remove(Idx);
    Reopen();
    Store({"x.test"});
    File.reset();
    Patch32(Dat, 22, Damaged);
    Reopen();
    File->Delete("x.test");
    Store({"x.test"});
    const TDNSDataHeader H = File->GetDataHeader();
    EXPECT_GE(H.InUse, 0);
    EXPECT_LE(H.InUse, H.Allocated);
  }
}

// A damaged free list that leads into a domain's exchanger chain must not hand that record
// out again: the domain would get the next domain's exchanger.
TEST_F(DNSFileTest, DataFreeListIntoALiveChainIsCut) {
  Dns.SetMX("x.test", {{10, "mx1.x.test"}, {20, "mx2.x.test"}});
  Dns.SetMX("z.test", {{10, "mx.z.test"}});
  Store({"x.test"});
  File.reset();
  Patch32(Dat, 18, 1);  // FreeHead: the first record of x's chain
  Reopen();
  Store({"z.test"});
  Reopen();
  TDNSDomainRecordPtr X = File->Lookup("x.test", 0);
  ASSERT_TRUE(X);
  EXPECT_EQ(Hosts(*X), (std::vector<std::string>{"mx1.x.test", "mx2.x.test"}));
  TDNSDomainRecordPtr Z = File->Lookup("z.test", 0);
  ASSERT_TRUE(Z);
  EXPECT_EQ(Hosts(*Z), std::vector<std::string>{"mx.z.test"});
}


TEST_F(DNSFileTest, FailedWritesAndReadsRaiseTheirErrors) {
  TFailingDisk Disk;
  File.reset();
  File = std::make_unique<TVexaDNSFile>(&Query, 512, Idx, Dat, Dns.Address(), "", 2000, &Disk);
  Store({"a.test"});

  Disk.FailWritesOf = Idx;
  try {
    File->Lookup("b.test", 0);
    FAIL();
  } catch (const EVexaDNSIndexFileWriteError& E) {
    EXPECT_STREQ(E.what(), "DNS index file write error");
  }
  EXPECT_EQ(Names(File->GetEntries()), std::vector<std::string>{"a.test"});  // not listed without a record
  Disk.FailWritesOf.clear();
  Store({"b.test"});

  Disk.FailReadsOf = Idx;
  try {
    File->Lookup("c.test", 0);  // behind a.test and b.test: the predecessor cannot be read
    FAIL();
  } catch (const EVexaDNSIndexFileReadError& E) {
    EXPECT_STREQ(E.what(), "Read DNS index file error!");
  }
  EXPECT_EQ(File->Lookup("a.test", 0), nullptr);  // a hit that cannot be read
  Disk.FailReadsOf.clear();
  EXPECT_TRUE(File->Lookup("a.test", 0));

  // Reopened, the files agree with themselves again.
  File.reset();
  File = std::make_unique<TVexaDNSFile>(&Query, 512, Idx, Dat, Dns.Address(), "", 2000, &Disk);
  EXPECT_EQ(Names(File->GetEntries()), (std::vector<std::string>{"a.test", "b.test"}));
  Store({"d.test"});
  for (const auto& D : Names(File->GetEntries())) EXPECT_TRUE(File->Lookup(D, 0)) << D;
  File.reset();  // before the disk it uses
}

TEST_F(DNSFileTest, AFileThatCannotBeOpenedRaisesFromTheConstructor) {
  TFailingDisk Disk;
  Disk.FailOpenOf = Dat;
  File.reset();
  try {
    TVexaDNSFile F(&Query, 512, Idx, Dat, Dns.Address(), "", 2000, &Disk);
    FAIL();
  } catch (const std::runtime_error& E) {
    EXPECT_NE(std::string(E.what()).find("DNSCache.dat"), std::string::npos) << E.what();
  }
}

TEST_F(DNSFileTest, EntryWhoseChainCannotBeReadIsDroppedAndAskedAgain) {
  using TList = std::vector<std::string>;
  struct TCase {
    const char* What;
    std::function<void(const std::string& Idx, const std::string& Dat)> Damage;
  };
  const std::vector<TCase> Cases = {
      {"first data record beyond Allocated", [](auto& I, auto&) { Patch32(I, IndexRec(2) + 274, 999); }},
      {"no data record at all", [](auto& I, auto&) { Patch32(I, IndexRec(2) + 274, 0); }},
      {"data file cut to its header", [](auto&, auto& D) { WriteAll(D, ReadAll(D).substr(0, 30)); }},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    File.reset();
    std::filesystem::remove(Idx);
    Reopen();
    Store({"a.test", "b.test", "c.test"});
    File.reset();
    C.Damage(Idx, Dat);
    Reopen();
    ASSERT_EQ(Names(File->GetEntries()), (TList{"a.test", "b.test", "c.test"}));
    const int Asked = Dns.QueryCount();
    TDNSDomainRecordPtr R = File->Lookup("b.test", 0);
    ASSERT_TRUE(R);
    EXPECT_EQ(Hosts(*R), TList{"mx.default.test"});
    EXPECT_EQ(Dns.QueryCount(), Asked + 1);
    // Stored anew in its place: the next lookup is answered from disk, also after reopening.
    EXPECT_EQ(Names(File->GetEntries()), (TList{"a.test", "b.test", "c.test"}));
    Reopen();
    EXPECT_TRUE(File->Lookup("b.test", 0));
    EXPECT_EQ(Dns.QueryCount(), Asked + 1);
    EXPECT_EQ(File->GetIndexHeader().InUse, 3);
  }
}
