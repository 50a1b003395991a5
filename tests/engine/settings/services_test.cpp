// The small shared services: scrambling, hexadecimal text, address checks, SOCKS settings,
// list formats, versions and the machine's DNS servers.
#include <gtest/gtest.h>

#include "engine/settings/ListFormats.h"
#include "engine/settings/VexaBase.h"
#include "engine/settings/ZQCipher.h"
#include "support/TestEnv.h"

TEST(Cipher, HexText) {
  EXPECT_EQ(StrToHex("abc"), "616263");
  EXPECT_EQ(StrToHex(std::string("\x00\xff", 2)), "00FF");
  EXPECT_EQ(HexToStr("616263"), "abc");
  EXPECT_EQ(HexToStr("6a6"), std::string("j\x06"));  // a last single digit counts alone
  EXPECT_THROW(HexToStr("6g"), EConvertError);
}

TEST(Cipher, EncryptLengthsAndRoundTrip) {
  EXPECT_EQ(EncryptString("", StoredPasswordKey), "00000000");
  EXPECT_EQ(EncryptString(std::string(16, 'x'), StoredPasswordKey).size(), 8u + 32u);
  EXPECT_EQ(EncryptString(std::string(17, 'x'), StoredPasswordKey).size(), 8u + 64u);
  EXPECT_EQ(EncryptString("abc", "k").substr(0, 8), "03000000");
  for (const std::string Plain : {"", "p", "sixteen bytes!!!", "seventeen bytes!!", "mit \xc3\xbc"})
    EXPECT_EQ(DecryptString(EncryptString(Plain, StoredPasswordKey), StoredPasswordKey), Plain);
  EXPECT_EQ(DecryptString("0000000", StoredPasswordKey), "");
  EXPECT_EQ(DecryptString("", StoredPasswordKey), "");
  EXPECT_THROW(DecryptString("01000000AB", StoredPasswordKey), std::runtime_error);
  // A length larger than the blocks gives the whole deciphered text.
  const std::string Hex = EncryptString("abc", StoredPasswordKey);
  EXPECT_EQ(DecryptString("FF" + Hex.substr(2), StoredPasswordKey), std::string("abc") + std::string(13, '\0'));
}

TEST(Cipher, MatchesTheStandardBlockCipher) {
  // FIPS-197 appendix C.1: key 000102..0f, plain 00112233..ff.
  std::string Key, Plain;
  for (int I = 0; I < 16; ++I) {
    Key += static_cast<char>(I);
    Plain += static_cast<char>(I * 0x11);
  }
  EXPECT_EQ(EncryptString(Plain, Key), "1000000069C4E0D86A7B0430D8CDB78070B4C55A");
  // Keys are zero-padded to, and cut at, 16 bytes.
  EXPECT_EQ(EncryptString("x", "12"), EncryptString("x", std::string("12") + std::string(14, '\0')));
  EXPECT_EQ(EncryptString("x", "0123456789abcdefXYZ"), EncryptString("x", "0123456789abcdef"));
}

TEST(Addresses, IsValidIPAndIPToInt) {
  struct {
    const char* Text;
    bool Valid;
  } const Cases[] = {{"127.0.0.1", true},   {"10.0.0.1.5", true}, {" 1 . 2 .3. 4", true}, {"1..2.3", false},
                     {"256.0.0.1", false},  {"1.2.3.-1", false},  {"1.2.3", false},       {"", false},
                     {"a.b.c.d", false},    {"0.0.0.0", true},    {"1.2.3.4.x", true},    {"1.2.3.4x", false},
                     // A part converts as a whole-number text does: a sign, "$" or "0x" hexadecimal.
                     {"+1.2.3.4", true},    {"-0.0.0.1", true},   {"0x7f.$0.0.1", true},  {"0x.0.0.1", false},
                     {"$.0.0.1", false},    {"1 2.0.0.1", false}, {"- 1.0.0.1", false},
                     {"99999999999999999999.0.0.1", false},       {"0x100.0.0.1", false}};
  for (const auto& C : Cases) EXPECT_EQ(IsValidIP(C.Text), C.Valid) << C.Text;
  EXPECT_EQ(IPToInt("10.0.0.1"), 167772161u);
  EXPECT_EQ(IPToInt("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(IPToInt("1.2.3"), 0u);
  EXPECT_EQ(IPToInt("0x7F.0.0.$A"), 0x7F00000Au);
}

TEST(Socks, SettingsAreCopiedIntoTheConnectionInfo) {
  TSocksInfo Info;
  Info.Version = TSocksVersion::svSocks5;
  UseSocksProxy = false;
  ApplySocksSettings(Info);
  EXPECT_EQ(Info.Version, TSocksVersion::svNoSocks);

  UseSocksProxy = true;
  SocksHost = "127.0.0.1";
  SocksPort = 1080;
  SocksUsername = "u";
  SocksPassword = "p";
  SocksAuthentication = true;
  const std::pair<int, TSocksVersion> Versions[] = {
      {0, TSocksVersion::svSocks5}, {1, TSocksVersion::svSocks4}, {2, TSocksVersion::svSocks4A}};
  for (auto [Setting, Expected] : Versions) {
    SocksVersion = Setting;
    ApplySocksSettings(Info);
    EXPECT_EQ(Info.Version, Expected);
  }
  // A version outside the list is the default, also for a connection that had none yet.
  for (int Unknown : {3, 5, -1}) {
    TSocksInfo Fresh;
    SocksVersion = Unknown;
    ApplySocksSettings(Fresh);
    EXPECT_EQ(Fresh.Version, TSocksVersion::svSocks5) << Unknown;
    ApplySocksSettings(Info);
    EXPECT_EQ(Info.Version, TSocksVersion::svSocks5) << Unknown;
  }
  EXPECT_EQ(Info.Host, "127.0.0.1");
  EXPECT_EQ(Info.Port, 1080);
  EXPECT_EQ(Info.Authentication, TSocksAuthentication::saUsernamePassword);
  EXPECT_EQ(Info.Username, "u");
  SocksAuthentication = false;
  SocksUsername = "other";
  ApplySocksSettings(Info);
  EXPECT_EQ(Info.Authentication, TSocksAuthentication::saNoAuthentication);
  EXPECT_EQ(Info.Username, "u");  // untouched
  UseSocksProxy = false;
  SocksVersion = 0;
}

TEST(ListFormats, RelayServers) {
  auto Items = ParseRelaySMTPList(
      "mail.example.com:587:me@example.com:1:user:pw:a@x.org|y.org;"
      "short:25:e:0:u:p;"                   // six fields: dropped
      "  :25:e:0:u:p:f;"                    // blank host: dropped
      "relay:port:e:yes:u:p:from:with:colons;"
      "zeros:0000000000587:::::;big:99999999999:::::");
  ASSERT_EQ(Items.size(), 4u);
  EXPECT_EQ(Items[2].Port, 587);
  EXPECT_EQ(Items[3].Port, 25);
  EXPECT_EQ(Items[2].FromEmail, "");
  EXPECT_EQ(Items[0].Host, "mail.example.com");
  EXPECT_EQ(Items[0].Port, 587);
  EXPECT_EQ(Items[0].Email, "me@example.com");
  EXPECT_TRUE(Items[0].Auth);
  EXPECT_EQ(Items[0].Username, "user");
  EXPECT_EQ(Items[0].Password, "pw");
  EXPECT_EQ(Items[0].FromEmail, "a@x.org|y.org");
  EXPECT_EQ(Items[1].Port, 25);
  EXPECT_FALSE(Items[1].Auth);  // only "1" is on
  EXPECT_EQ(Items[1].FromEmail, "from:with:colons");
  Items.resize(2);
  EXPECT_EQ(FormatRelaySMTPList(Items),
            "mail.example.com:587:me@example.com:1:user:pw:a@x.org|y.org;relay:25:e:0:u:p:from:with:colons");
  EXPECT_TRUE(ParseRelaySMTPList("").empty());
}

TEST(ListFormats, BindingsRulesFiltersAndPlainLists) {
  EXPECT_EQ(FormatIPBindings({{"127.0.0.1", "2525"}, {"192.168.0.2", ""}}), "127.0.0.1:2525;192.168.0.2:25");
  const auto B = ParseIPBindings("127.0.0.1:2525;10.0.0.1");
  ASSERT_EQ(B.size(), 2u);
  EXPECT_EQ(B[1].IP, "10.0.0.1");
  EXPECT_EQ(B[1].Port, "");

  const auto R = ParseIPRules("10.0.0.1;192.168.0.0:255.255.0.0");
  ASSERT_EQ(R.size(), 2u);
  EXPECT_EQ(R[1].Mask, "255.255.0.0");
  EXPECT_EQ(FormatIPRules(R), "10.0.0.1;192.168.0.0:255.255.0.0");

  const auto F = ParseAttachmentFilters("1:bat;0:txt;junk");
  ASSERT_EQ(F.size(), 2u);
  EXPECT_TRUE(F[0].Blocked);
  EXPECT_FALSE(F[1].Blocked);
  EXPECT_EQ(FormatAttachmentFilters(F), "1:bat;0:txt");

  EXPECT_EQ(ParsePlainList("a@b.c;d.e"), (std::vector<std::string>{"a@b.c", "d.e"}));
  EXPECT_TRUE(ParsePlainList("").empty());
  EXPECT_EQ(FormatPlainList({"x", "y"}), "x;y");
}

TEST(Services, VersionCompareAndDnsServers) {
  uint16_t A, B, C, D;
  GetFileVersion(A, B, C, D);
  EXPECT_EQ(GetVersionString(), std::to_string(A) + "." + std::to_string(B) + "." + std::to_string(C) + "." +
                                    std::to_string(D));
  EXPECT_EQ(CompareInt(1, 2), -1);
  EXPECT_EQ(CompareInt(2, 2), 0);
  EXPECT_EQ(CompareInt(3, 2), 1);
  EXPECT_EQ(CompareDateTime(1.5, 1.25), 1);
  EXPECT_EQ(Min(3, -1), -1);

  TTestEnv Env;
  Env.WriteFile(Env.Root() + "resolv.conf", "nameserver 10.1.1.1\nnameserver 10.1.1.1\nnameserver 10.2.2.2\n");
  std::vector<std::string> List{"stale"};
  GetDNSServersFrom(Env.Root() + "resolv.conf", List);
  EXPECT_EQ(List, (std::vector<std::string>{"10.1.1.1", "10.2.2.2"}));
}
