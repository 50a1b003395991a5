#include <gtest/gtest.h>

#include "engine/delivery/RelayServers.h"
#include "engine/settings/VexaBase.h"

namespace {
using TLines = std::vector<std::string>;

std::string Chosen(const TRelayServerList& L, const std::string& From) {
  TRelaySMTPItem R;
  return L.FindRelayServer(From, R) ? R.Host : std::string("-");
}
}  // namespace

TEST(RelayServers, LoadedOnlyWithRelayingOn) {
  RelaySMTPList = "a.test:x:from@a.test:1:u:p:origin.test;b.test:2525:::::;five:1:2:3:4:5;  :25::0:::";
  RelayToSMTP = false;
  TRelayServerList L;
  L.Load();
  EXPECT_EQ(L.Count(), 0u);
  RelayToSMTP = true;
  L.Load();
  ASSERT_EQ(L.Count(), 2u);
  TRelaySMTPItem R;
  ASSERT_TRUE(L.Get(0, R));
  EXPECT_EQ(R.Host, "a.test");
  EXPECT_EQ(R.Port, 25);  // not a number
  EXPECT_TRUE(R.Auth);
  EXPECT_EQ(R.Email, "from@a.test");
  ASSERT_TRUE(L.Get(1, R));
  EXPECT_EQ(R.Port, 2525);
  EXPECT_FALSE(L.Get(2, R));
  RelayToSMTP = false;
}

TEST(RelayServers, ChosenBySenderAddressOrDomain) {
  TRelayServerList L;
  TRelaySMTPItem A, B, C;
  A.Host = "by-address";
  A.FromEmail = "boss@Corp.test|other.test";
  B.Host = "by-domain";
  B.FromEmail = "CORP.TEST";
  C.Host = "quoted";
  C.FromEmail = "\"with blank.test\" split.test  more.test";
  L.Assign({A, B, C});
  struct {
    const char* From;
    const char* Host;
  } Cases[] = {
      {"boss@corp.test", "by-address"},  {"BOSS@CORP.TEST", "by-address"}, {"worker@corp.test", "by-domain"},
      {"x@other.test", "by-address"},    {"x@more.test", "quoted"},        {"x@with blank.test", "quoted"},
      {"x@with", "-"},                   {"x@nowhere.test", "-"},          {"", "-"},
  };
  for (const auto& Case : Cases) EXPECT_EQ(Chosen(L, Case.From), Case.Host) << Case.From;
  L.Clear();
  EXPECT_EQ(Chosen(L, "boss@corp.test"), "-");
}

// A FROM list with an empty entry, as an older editor stored "a.test;": the empty entry
// names no sender, so a sender without a domain (the null sender of a bounce) takes no relay.
TEST(RelayServers, EmptyFromEntriesMatchNoSender) {
  RelaySMTPList = "trailing:25:::::a.test|;doubled:25:::::||b.test;quoted:25:::::\"\"";
  RelayToSMTP = true;
  TRelayServerList L;
  L.Load();
  RelayToSMTP = false;
  ASSERT_EQ(L.Count(), 3u);
  for (const char* From : {"", "<>", "x@", "nobody"}) EXPECT_EQ(Chosen(L, From), "-") << From;
  EXPECT_EQ(Chosen(L, "x@a.test"), "trailing");
  EXPECT_EQ(Chosen(L, "<x@B.test>"), "doubled");
}

TEST(RelayServers, DelimitedText) {
  EXPECT_EQ(SplitDelimitedText("a;b c; \"d;e\" ;f;", ';'), (TLines{"a", "b", "c", "d;e", "f", ""}));
  EXPECT_EQ(SplitDelimitedText("  ", ';'), TLines{});
  EXPECT_EQ(SplitDelimitedText("a;;b", ';'), (TLines{"a", "", "b"}));
  EXPECT_EQ(SplitDelimitedText("\"say \"\"hi\"\"\"", ';'), (TLines{"say \"hi\""}));
}

TEST(RelayServers, RelayDomainList) {
  RelayDomainList = " a.test ;;b.test;  ";
  RelayDomains = false;
  EXPECT_TRUE(LoadRelayDomainList().empty());
  RelayDomains = true;
  EXPECT_EQ(LoadRelayDomainList(), (TLines{"a.test", "b.test"}));
  RelayDomains = false;
}
