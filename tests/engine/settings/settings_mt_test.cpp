// Engine threads read settings and message texts while the GUI thread replaces them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "support/TestEnv.h"

TEST(SettingsThreads, ReadersSeeWholeTextsWhileTheGuiThreadReplacesThem) {
  TTestEnv Env;
  const std::string Long(200, 'x');  // beyond any small-string buffer
  Env.WriteFile(Env.ProgramDir() + "Language/Other.ini", "[Info]\nLanguage=Other\n[Common]\n22=Neu: %s " + Long + "\n");
  Env.WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n\"LanguageName\"=\"Other.ini\"\r\n"
                    "\"RelaySMTPList\"=\"127.0.0.1:25::0:::\"\r\n");
  std::atomic<bool> Stop{false};
  std::atomic<long> Reads{0};
  std::vector<std::thread> Readers;
  for (int T = 0; T < 3; ++T)
    Readers.emplace_back([&] {
      while (!Stop) {
        const std::string Text = LangFmt(22, "a@b.c");
        EXPECT_TRUE(Text == "New mail received. Message will deliver to a@b.c." || Text == "Neu: a@b.c " + Long) << Text;
        const std::string Relays = RelaySMTPList.get();
        EXPECT_TRUE(Relays.empty() || Relays == "127.0.0.1:25::0:::" || Relays == Long) << Relays;
        TSocksInfo Info;
        ApplySocksSettings(Info);
        (void)LangStrings[30];
        (void)DNSPrimary.empty();
        (void)GetLanguageList();
        ++Reads;
      }
    });
  for (int I = 0; I < 30 || Reads < 300; ++I) {
    LangStrings.ResetToDefaults();
    InitConstants();
    ReadSettings();
    LoadLanguageList();
    RelaySMTPList = Long;
    SocksHost = Long;
    UseSocksProxy = I % 2 == 0;
  }
  Stop = true;
  for (auto& R : Readers) R.join();
  LangStrings.ResetToDefaults();
}
