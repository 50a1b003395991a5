// Message texts: the table, language files, the language list and safe formatting.
#include <gtest/gtest.h>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "support/TestEnv.h"

namespace {
// Read by this unit's own start-up code, which runs before that of the libraries it links.
struct TEarlyReader {
  std::string Text = LangStrings[0], Filters = AttachmentFilters.get(), Language = LanguageName.get();
} const EarlyReader;
}  // namespace

TEST(LangStrings, TextsAndSettingsHoldTheirDefaultsBeforeAnyStartUpCode) {
  EXPECT_EQ(EarlyReader.Text, "Sender");
  EXPECT_EQ(EarlyReader.Filters, "1:bat;1:com;1:exe;1:js;1:pif;1:scr;1:vbs");
  EXPECT_EQ(EarlyReader.Language, "English.ini");
}

TEST(LangStrings, EnglishTable) {
  TTestEnv Env;
  EXPECT_EQ(LangStrings[0], "Sender");
  EXPECT_EQ(LangStrings[30], "Built-in SMTP server stoped");
  EXPECT_EQ(LangStrings[77], "Log (*.log)|*.log|Text Files (*.txt)|*.txt");
  EXPECT_EQ(LangStrings[93], "");
  EXPECT_EQ(LangStrings[98], "Error to get the update file. Error: %s");
  // Entries of our own follow the table's last number.
  EXPECT_EQ(LangStrings[99], "'%s' is not a valid file extension. An extension can not contain blanks, '.', ':', ';', "
                             "'*' or '?'.");
  EXPECT_EQ(LangStrings[107], "The domain name can not contain ';'.");
  EXPECT_EQ(LangStrings[LangStringCount], "");
  EXPECT_EQ(LangStrings[-1], "");
}

TEST(LangStrings, ShippedEnglishFileMatchesTheBuiltInTexts) {
  TTestEnv Env;
  const TIniFile Ini(std::string(QUILLON_BIN_DIR) + "/Language/English.ini");
  EXPECT_EQ(Ini.ReadString("Info", "Language", ""), "English");
  for (int N = 0; N < LangStringCount; ++N)
    EXPECT_EQ(Ini.ReadString("Common", std::to_string(N), ""), TLangStrings::Default(N)) << N;
}

TEST(LangStrings, LoadingKeepsEntriesForBlankOrMissingKeys) {
  TTestEnv Env;
  Env.WriteFile(Env.Root() + "a.ini", "[Common]\n0=Absender\n1=   \n2=  Betreff\n07=seven\n");
  Env.WriteFile(Env.Root() + "b.ini", "[COMMON]\n3=Groesse\n");
  LoadLanguageFile(Env.Root() + "a.ini");
  LoadLanguageFile(Env.Root() + "b.ini");
  LoadLanguageFile(Env.Root() + "missing.ini");
  EXPECT_EQ(LangStrings[0], "Absender");  // kept from the first file
  EXPECT_EQ(LangStrings[1], "Recipient");
  EXPECT_EQ(LangStrings[2], "Betreff");   // as the ini reader returns it
  EXPECT_EQ(LangStrings[3], "Groesse");
  EXPECT_EQ(LangStrings[7], "Queue(%d)");  // "07" is not key 7
}

TEST(LanguageList, SortedUsableFilesAndTheSelectedFileLoaded) {
  TTestEnv Env;
  const std::string Dir = Env.ProgramDir() + "Language/";
  Env.WriteFile(Dir + "b.ini", "[Info]\nLanguage=b\n[Common]\n0=from b\n");
  Env.WriteFile(Dir + "CAPS.INI", "[Info]\nLanguage=A\n");
  Env.WriteFile(Dir + "noinfo.ini", "[Common]\n0=x\n");
  Env.WriteFile(Dir + "blank.ini", "[Info]\nLanguage=  \n");
  Env.WriteFile(Dir + "other.txt", "[Info]\nLanguage=txt\n");
  Env.WriteFile(Dir + "English.ini", "[Info]\nLanguage=English\n[Common]\n0=from english\n");
  Env.WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\n\"LanguageName\"=\"b.ini\"\n");
  LoadLanguageList();
  EXPECT_EQ(LanguageName.get(), "b.ini");
  EXPECT_EQ(LangStrings[0], "from b");
  EXPECT_EQ(GetLanguageList(), (std::vector<std::string>{"A=CAPS.INI", "b=b.ini", "English=English.ini"}));
}

TEST(LanguageList, UnreadableKeyFallsBackToEnglish) {
  TTestEnv Env;
  Env.WriteFile(Env.ProgramDir() + "Language/English.ini", "[Common]\n0=english file\n");
  Env.WriteFile(Env.ConfigHome() + "quillon/registry.reg", "garbage");
  LanguageName = "b.ini";
  LoadLanguageList();
  EXPECT_EQ(LanguageName.get(), "English.ini");
  EXPECT_EQ(LangStrings[0], "english file");
}

TEST(LangFormat, PlaceholdersThatDoNotFitFallBackToEnglish) {
  TTestEnv Env;
  EXPECT_EQ(LangFmt(22, "a@b.c"), "New mail received. Message will deliver to a@b.c.");
  EXPECT_EQ(LangFmt(27, 25), "Built-in SMTP server started. Listening on port 25");
  EXPECT_EQ(LangFmt(91, "1.1.1.1", "2.2.2.2"), "Primary DNS Server: 1.1.1.1 , Secondary DNS Server: 2.2.2.2");
  struct {
    const char* Text;
    const char* Expected;
  } const Cases[] = {
      {"Neue Mail an %s.", "Neue Mail an a@b.c."},
      {"%s %s", "New mail received. Message will deliver to a@b.c."},   // too many placeholders
      {"no placeholder", "New mail received. Message will deliver to a@b.c."},  // too few
      {"%d", "New mail received. Message will deliver to a@b.c."},      // wrong kind
      {"%n%s", "New mail received. Message will deliver to a@b.c."},
      {"100%% an %-8s|", "100% an a@b.c   |"},
      {"trailing %", "New mail received. Message will deliver to a@b.c."},
      // Found by fuzzing: flag characters without end made the formatter raise.
      {"%00000000000000000000000000000s", "New mail received. Message will deliver to a@b.c."},
  };
  for (const auto& C : Cases) {
    LangStrings.Set(22, C.Text);
    EXPECT_EQ(LangFmt(22, "a@b.c"), C.Expected) << C.Text;
  }
  // Argument indexes and capital letters, as the texts' format function takes them.
  const std::string English23 = "Message from a@b.c delivered to x@y.z successfully";
  const std::pair<const char*, std::string> Indexed[] = {
      {"An %1:s von %0:s", "An x@y.z von a@b.c"},
      {"%S -> %S", "a@b.c -> x@y.z"},
      {"%1:s, %s?", English23},       // the second would be argument 2: there is none
      {"%0:s %0:s", English23},        // x@y.z never shown
      {"%999:s %s", English23},
      {"%1:-8s|%0:s", "x@y.z   |a@b.c"},
  };
  for (const auto& [Text, Expected] : Indexed) {
    LangStrings.Set(23, Text);
    EXPECT_EQ(LangFmt(23, "a@b.c", "x@y.z"), Expected) << Text;
  }
  LangStrings.Set(27, "Port %D");
  EXPECT_EQ(LangFmt(27, 2525), "Port 2525");
  LangStrings.Set(27, "Port %s");
  EXPECT_EQ(LangFmt(27, 2525), "Built-in SMTP server started. Listening on port 2525");
}
