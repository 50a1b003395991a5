// Reading and writing the settings in the registry.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "platform/Registry.h"
#include "support/TestEnv.h"

namespace {
std::string Reg(const std::string& Values) {
  return "[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n" + Values;
}

void Scramble() {
  // Leave a visible mark in every variable so that a missed read shows.
  SMTPPort = -7;
  DNSPrimary = "junk";
  SocksPassword = "junk";
}
}  // namespace

TEST(Settings, EmptyKeyGivesTheDefaults) {
  TTestEnv Env;
  InitConstants();
  Scramble();
  ReadSettings();
  EXPECT_FALSE(AutoRun);
  EXPECT_TRUE(AutoStartServer);
  EXPECT_EQ(RetryInterval, 10);
  EXPECT_EQ(MaxRetries, 3);
  EXPECT_TRUE(AutoDetectDNS);
  EXPECT_EQ(DNSPrimary.get(), DefaultDNSPrimary);
  EXPECT_EQ(DNSSecondary.get(), DefaultDNSSecondary);
  EXPECT_EQ(DNSQueryTimeout, 10000);
  EXPECT_EQ(SMTPPort, 25);
  EXPECT_EQ(SMTPMaxConnections, 3);
  EXPECT_TRUE(LocalUserOnly);
  EXPECT_EQ(SMTPMaxRcptNumber, 100);
  EXPECT_EQ(AttachmentFilters.get(), "1:bat;1:com;1:exe;1:js;1:pif;1:scr;1:vbs");
  EXPECT_TRUE(AuthFromUseGranted);
  EXPECT_EQ(SenderMaxThreadCount, 3);
  EXPECT_EQ(SenderConntecTimeout, 100);
  EXPECT_EQ(SenderPauseMailCount, 10);
  EXPECT_EQ(SenderPauseTime, 10);
  EXPECT_TRUE(NotifyMailSender);
  EXPECT_TRUE(DelNotifiedMail);
  EXPECT_TRUE(PlayEventSound);
  EXPECT_EQ(SndMailSent.get(), Env.ProgramDir() + "Sound/MailSent.wav");
  EXPECT_EQ(SndMailSentFailed.get(), Env.ProgramDir() + "Sound/MailSentFailed.wav");
  EXPECT_EQ(SocksPassword.get(), "");
  EXPECT_EQ(LanguageName.get(), "English.ini");
  // Reading writes nothing back but the key itself.
  TRegistry R;
  ASSERT_TRUE(R.OpenKey(SettingsKey, false));
  EXPECT_TRUE(R.GetValueNames().empty());
}

TEST(Settings, ClampsOfThreadsAndConnections) {
  struct {
    int Stored, Threads, Connections;
  } const Cases[] = {{0, 1, 1}, {-5, 1, 1}, {11, 11, 10}, {40, 15, 10}, {7, 7, 7}};
  for (const auto& C : Cases) {
    TTestEnv Env;
    char Hex[16];
    std::snprintf(Hex, sizeof Hex, "%08x", static_cast<unsigned>(C.Stored));
    Env.WriteRegistry(Reg(std::string("\"SenderMaxThreadCount\"=dword:") + Hex + "\r\n\"SMTPMaxConnections\"=dword:" +
                          Hex + "\r\n"));
    InitConstants();
    ReadSettings();
    EXPECT_EQ(SenderMaxThreadCount, C.Threads) << C.Stored;
    EXPECT_EQ(SMTPMaxConnections, C.Connections) << C.Stored;
  }
}

TEST(Settings, WrongTypesAndBadScrambledValuesGiveDefaults) {
  TTestEnv Env;
  Env.WriteRegistry(Reg("\"AutoStartServer\"=\"0\"\r\n"    // Boolean stored as text
                        "\"SMTPPort\"=\"26\"\r\n"          // integer stored as text
                        "\"RetrySend\"=dword:00000005\r\n"  // any non-zero is true
                        "\"DNSPrimary\"=dword:00000001\r\n"
                        "\"SocksPassword\"=\"XYZ\"\r\n"            // not hexadecimal
                        "\"SMTPLoginUsername\"=\"0100000000\"\r\n"  // not whole blocks
                        "\"SMTPLoginPassword\"=\"01\"\r\n"));       // too short: empty
  InitConstants();
  SocksPassword = "x";
  SMTPLoginUsername = "x";
  SMTPLoginPassword = "x";
  ReadSettings();
  EXPECT_TRUE(AutoStartServer);
  EXPECT_EQ(SMTPPort, 25);
  EXPECT_TRUE(RetrySend);
  EXPECT_EQ(DNSPrimary.get(), DefaultDNSPrimary);
  EXPECT_EQ(SocksPassword.get(), "");
  EXPECT_EQ(SMTPLoginUsername.get(), "");
  EXPECT_EQ(SMTPLoginPassword.get(), "");
}

TEST(Settings, WriteStoresFiftyNineValuesInOrderAndKeepsLanguageName) {
  TTestEnv Env;
  Env.WriteRegistry(Reg("\"LanguageName\"=\"Deutsch.ini\"\r\n"));
  InitConstants();
  ReadSettings();
  SocksPassword = "secret";
  SMTPLoginUsername = "";
  SenderMaxThreadCount = 99;  // writing clamps the upper bound only
  SMTPMaxConnections = 0;
  LanguageName = "Other.ini";
  EXPECT_TRUE(WriteSettings());
  EXPECT_EQ(SenderMaxThreadCount, 15);
  EXPECT_EQ(SMTPMaxConnections, 0);

  TRegistry::ResetForTests();
  TRegistry R;
  ASSERT_TRUE(R.OpenKey(SettingsKey, false));
  const auto Names = R.GetValueNames();
  ASSERT_EQ(Names.size(), 60u);  // 59 written + the language menu's value
  EXPECT_EQ(Names[0], "LanguageName");
  EXPECT_EQ(Names[1], "AutoRun");
  EXPECT_EQ(R.ReadString("LanguageName"), "Deutsch.ini");
  const auto Pos = [&](const std::string& N) { return std::find(Names.begin(), Names.end(), N) - Names.begin(); };
  EXPECT_EQ(Pos("ForbiddenMultiConn"), Pos("SenderHostname") + 1);
  EXPECT_EQ(Pos("SenderPauseAfterSent"), Pos("ForbiddenMultiConn") + 1);
  EXPECT_EQ(Pos("AuthByFromAddr"), Pos("AttachmentFilters") + 1);
  EXPECT_EQ(Names.back(), "AccountSelection");
  EXPECT_EQ(R.GetDataType("AutoRun"), TRegDataType::rdInteger);
  EXPECT_EQ(R.GetDataType("DNSPrimary"), TRegDataType::rdString);
  EXPECT_EQ(R.ReadString("SMTPLoginUsername"), "00000000");
  EXPECT_EQ(R.ReadInteger("SMTPMaxConnections"), 0);
  EXPECT_EQ(DecryptString(R.ReadString("SocksPassword"), StoredPasswordKey), "secret");
  EXPECT_NE(R.ReadString("SocksPassword").find("06000000"), std::string::npos);

  SocksPassword = "";
  ReadSettings();
  EXPECT_EQ(SocksPassword.get(), "secret");
  EXPECT_EQ(SenderMaxThreadCount, 15);
  EXPECT_EQ(SMTPMaxConnections, 1);  // the reader's clamp
}

TEST(Settings, UnopenableKeyEndsTheProgramWithTheRegistryError) {
  TTestEnv Env;
  Env.WriteFile(TRegistry::FileName(), "garbage");
  EXPECT_EXIT(ReadSettings(), testing::ExitedWithCode(1), "Error reading registry!");
}

TEST(Settings, WriteWithUnopenableKeyShowsTheErrorAndGoesOn) {
  TTestEnv Env;
  Env.WriteFile(TRegistry::FileName(), "garbage");
  std::string Shown;
  SetErrorBoxHandler([&](const std::string& Text, const std::string& Caption) { Shown = Caption + ": " + Text; });
  EXPECT_FALSE(WriteSettings());
  SetErrorBoxHandler(nullptr);
  EXPECT_EQ(Shown, "Error: Error reading registry!");
  EXPECT_EQ(Env.ReadFile(TRegistry::FileName()), "garbage");
}

// The key opens, but the file cannot be written (its folder is a file): the same box, and
// the caller learns that nothing was saved. The next write that can go through saves all.
TEST(Settings, WriteToAFileThatCannotBeWrittenShowsTheErrorAndAnswersFalse) {
  TTestEnv Env;
  const std::string Folder = Env.ConfigHome() + "quillon";
  Env.WriteFile(Folder, "not a folder");
  int Shown = 0;
  SetErrorBoxHandler([&](const std::string& Text, const std::string&) { Shown += Text == "Error reading registry!"; });
  SMTPPort = 2626;
  EXPECT_FALSE(WriteSettings());
  EXPECT_EQ(Shown, 1);
  std::filesystem::remove(Folder);
  EXPECT_TRUE(WriteSettings());
  SetErrorBoxHandler(nullptr);
  EXPECT_EQ(Shown, 1);
  EXPECT_NE(Env.ReadFile(TRegistry::FileName()).find("\"SMTPPort\"=dword:00000a42"), std::string::npos);
  SMTPPort = 25;
}

TEST(Settings, LastCheckVersionDateIsAnEightByteDouble) {
  TTestEnv Env;
  EXPECT_EQ(GetLastCheckVersionDate(), 0);
  SetLastCheckVersionDate(46000.75);
  EXPECT_EQ(GetLastCheckVersionDate(), 46000);
  TRegistry R;
  ASSERT_TRUE(R.OpenKey(SettingsKey, false));
  EXPECT_EQ(R.ReadBinaryData("LastCheckVersionDate"), std::string("\x00\x00\x00\x00\x18\x76\xe6\x40", 8));
  R.WriteBinaryData("LastCheckVersionDate", "abc");
  EXPECT_EQ(GetLastCheckVersionDate(), 0);
  R.WriteString("LastCheckVersionDate", "46000");
  EXPECT_EQ(GetLastCheckVersionDate(), 0);
}

TEST(Settings, AutoRunWritesAndRemovesTheAutostartEntry) {
  TTestEnv Env;
  AutoRun = true;
  SetAutoRun();
  const std::string Entry = Env.ReadFile(Env.ConfigHome() + "autostart/quillon.desktop");
  EXPECT_NE(Entry.find("Exec=\"/"), std::string::npos);
  AutoRun = false;
  SetAutoRun();
  EXPECT_EQ(Env.ReadFile(Env.ConfigHome() + "autostart/quillon.desktop"), "");
}

TEST(Settings, InitSettingsSetsTheProgramWideValuesThenReadsEverything) {
  TTestEnv Env;
  Env.WriteFile(Env.ProgramDir() + "Language/English.ini", "[Info]\nLanguage=English\n[Common]\n16=Paused.\n");
  Env.WriteRegistry(Reg("\"SMTPPort\"=dword:00000984\r\n"));
  DataDir = "";
  MaxStoredMails = 1;
  SenderThreadLimit = 2;
  InitSettings();
  EXPECT_EQ(DataDir.get(), Env.DataHome() + "quillon/data/");
  EXPECT_EQ(VersionString.get(), GetVersionString());
  EXPECT_EQ(MaxStoredMails, 5000);
  EXPECT_EQ(SenderThreadLimit, 15);
  EXPECT_EQ(DNSMemCacheSize, 32);
  EXPECT_EQ(DNSDiskCacheMaxEntries, 512);
  EXPECT_EQ(DefaultMaxRcptNumber, 5000);
  EXPECT_FALSE(AddReceivedHeader);
  EXPECT_EQ(SMTPPort, 2436);
  EXPECT_EQ(LangStrings[16], "Paused.");
  EXPECT_EQ(GetLanguageList(), (std::vector<std::string>{"English=English.ini"}));
}
