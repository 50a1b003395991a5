#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Registry.h"
#include "support/TestEnv.h"

namespace {
const char* const Key = "\\Software\\Nimbrel\\Quillon Pro";
}

TEST(Registry, TypedValuesRoundTripThroughTheFile) {
  TTestEnv Env;
  {
    TRegistry R;
    ASSERT_TRUE(R.OpenKey(Key, true));
    R.WriteInteger("Port", 26);
    R.WriteInteger("Negative", -2);
    R.WriteString("Text", "a \"quoted\" back\\slash");
    R.WriteBinaryData("Bin", std::string("\x00\x01\xff", 3));
  }
  const std::string File = Env.ReadFile(TRegistry::FileName());
  EXPECT_EQ(File.rfind("REGEDIT4\r\n", 0), 0u);
  EXPECT_NE(File.find("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n"), std::string::npos);
  EXPECT_NE(File.find("\"Port\"=dword:0000001a\r\n"), std::string::npos);
  EXPECT_NE(File.find("\"Negative\"=dword:fffffffe\r\n"), std::string::npos);
  EXPECT_NE(File.find("\"Text\"=\"a \\\"quoted\\\" back\\\\slash\"\r\n"), std::string::npos);
  EXPECT_NE(File.find("\"Bin\"=hex:00,01,ff\r\n"), std::string::npos);

  TRegistry::ResetForTests();  // read back from the file alone
  TRegistry R;
  ASSERT_TRUE(R.OpenKey("software\\NIMBREL\\quillon pro", false));  // names without case
  EXPECT_EQ(R.ReadInteger("port"), 26);
  EXPECT_EQ(R.ReadInteger("Negative"), -2);
  EXPECT_EQ(R.ReadString("TEXT"), "a \"quoted\" back\\slash");
  EXPECT_EQ(R.ReadBinaryData("Bin"), std::string("\x00\x01\xff", 3));
  EXPECT_EQ(R.GetDataType("Bin"), TRegDataType::rdBinary);
}

TEST(Registry, WrongTypesAndMissingValuesRaiseButMissingStringIsEmpty) {
  TTestEnv Env;
  TRegistry R;
  ASSERT_TRUE(R.OpenKey(Key, true));
  R.WriteString("S", "x");
  R.WriteInteger("I", 1);
  EXPECT_THROW(R.ReadInteger("S"), ERegistryException);
  EXPECT_THROW(R.ReadString("I"), ERegistryException);
  EXPECT_THROW(R.ReadInteger("Missing"), ERegistryException);
  EXPECT_THROW(R.ReadBinaryData("S"), ERegistryException);
  EXPECT_EQ(R.ReadString("Missing"), "");
  EXPECT_TRUE(R.ValueExists("s"));
  EXPECT_TRUE(R.DeleteValue("S"));
  EXPECT_FALSE(R.ValueExists("S"));
  EXPECT_FALSE(R.DeleteValue("S"));
}

TEST(Registry, OpenWithoutCreationAndSubkeys) {
  TTestEnv Env;
  TRegistry R;
  EXPECT_FALSE(R.OpenKey("\\Software\\Other", false));
  ASSERT_TRUE(R.OpenKey("\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001", true));
  ASSERT_TRUE(R.OpenKey("\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000002", true));
  ASSERT_TRUE(R.OpenKey("\\Software\\Microsoft\\Internet Account Manager\\Accounts", false));
  EXPECT_EQ(R.GetKeyNames(), (std::vector<std::string>{"00000001", "00000002"}));
  EXPECT_TRUE(R.KeyExists("\\Software\\Microsoft"));
  EXPECT_TRUE(R.DeleteKey("\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001"));
  ASSERT_TRUE(R.OpenKey("\\Software\\Microsoft\\Internet Account Manager\\Accounts", false));
  EXPECT_EQ(R.GetKeyNames(), (std::vector<std::string>{"00000002"}));
}

TEST(Registry, HandWrittenFileIsRead) {
  TTestEnv Env;
  Env.WriteRegistry(
      "; written by hand\n"
      "[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\n"
      "\"SMTPPort\"=dword:00000019\n"
      "\"Hex\"=hex:01,02,\\\n"
      "  03\n"
      "\"Hex2\"=hex:04,\\  \t\n"  // blanks after the "\\" are layout
      "  05\n"
      "@=\"default\"\n"
      "  \"Indented\"=\"x \"  \t\r\n"
      "[HKEY_CURRENT_USER\\Software\\B]  \n");
  TRegistry R;
  ASSERT_TRUE(R.OpenKey(Key, false));
  EXPECT_EQ(R.ReadInteger("SMTPPort"), 25);
  EXPECT_EQ(R.ReadBinaryData("Hex"), "\x01\x02\x03");
  EXPECT_EQ(R.ReadBinaryData("Hex2"), "\x04\x05");
  EXPECT_EQ(R.ReadString(""), "default");
  EXPECT_EQ(R.ReadString("Indented"), "x ");
  EXPECT_TRUE(R.KeyExists("Software\\B"));
}

TEST(Registry, ChangesOnDiskAreSeenAtTheNextOpen) {
  TTestEnv Env;
  Env.WriteRegistry("[HKEY_CURRENT_USER\\Software\\A]\n\"V\"=dword:00000001\n");
  TRegistry R;
  ASSERT_TRUE(R.OpenKey("Software\\A", false));
  EXPECT_EQ(R.ReadInteger("V"), 1);
  R.CloseKey();
  Env.WriteRegistry("[HKEY_CURRENT_USER\\Software\\A]\n\"V\"=dword:00000002\n");
  ASSERT_TRUE(R.OpenKey("Software\\A", false));
  EXPECT_EQ(R.ReadInteger("V"), 2);
}

TEST(Registry, UnparsableFileCannotBeOpenedAndIsNeverOverwritten) {
  TTestEnv Env;
  const std::string Broken = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"V\"=dword:zz\r\n";
  Env.WriteFile(TRegistry::FileName(), Broken);
  TRegistry R;
  EXPECT_FALSE(R.OpenKey("Software\\A", true));
  EXPECT_FALSE(R.OpenKey("Software\\B", true));
  EXPECT_THROW(R.WriteInteger("X", 1), ERegistryException);
  R.CloseKey();
  EXPECT_EQ(Env.ReadFile(TRegistry::FileName()), Broken);
  // Not even a repaired file is touched again by this run.
  Env.WriteRegistry("[HKEY_CURRENT_USER\\Software\\A]\r\n");
  EXPECT_FALSE(R.OpenKey("Software\\A", true));
}

TEST(Registry, BadFilesTableSaysWhichLine) {
  struct {
    const char* Text;
    int Line;
    const char* Reason;
  } const Cases[] = {
      {"not a registry\r\n", 1, "not a registry file"},
      {"\r\n  \r\nREGEDIT5\r\n", 3, "not a registry file"},
      {"REGEDIT4\r\n\"Orphan\"=\"value\"\r\n", 2, "a value outside any key"},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"Unclosed=\"x\"\r\n", 3, "a value that cannot be read"},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=hex:0\r\n", 3, "a value that cannot be read"},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=hex(2):4g\r\n", 3, "a value that cannot be read"},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=qword:1\r\n", 3, "a value that cannot be read"},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=dword:123456789\r\n", 3, "a value that cannot be read"},
      {"REGEDIT4\r\n[HKEY_CURRENT_USER\\A\r\n", 2, "a key name without its closing bracket"},
      // Lines continued with "\\" count as the lines of the file they are.
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"H\"=hex:01,\\\n  02,\\\n  03\n\"V\"=\n", 7, "a value that cannot be read"},
  };
  for (const auto& C : Cases) {
    TTestEnv Env;
    Env.WriteFile(TRegistry::FileName(), C.Text);
    TRegistry R;
    EXPECT_FALSE(R.OpenKey("A", true)) << C.Text;
    EXPECT_EQ(TRegistry::ReadError(), "Cannot read the registry file \"" + TRegistry::FileName() + "\", line " +
                                          std::to_string(C.Line) + ": " + C.Reason)
        << C.Text;
  }
}

TEST(Registry, UnreadableFileCountsAsBroken) {
  TTestEnv Env;
  std::filesystem::create_directories(TRegistry::FileName());  // a folder where the file should be
  TRegistry R;
  EXPECT_FALSE(R.OpenKey("A", true));
  EXPECT_TRUE(std::filesystem::is_directory(TRegistry::FileName()));
  EXPECT_EQ(TRegistry::ReadError(), "Cannot read the registry file \"" + TRegistry::FileName() + "\": Is a directory");
}

TEST(Registry, OtherRootsAndValueTypesAreKeptAndWrittenBack) {
  TTestEnv Env;
  Env.WriteRegistry(
      "[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n"
      "\"SMTPPort\"=dword:00000019\r\n"
      "\"Path\"=hex(2):25,00,48,00,00,00\r\n"
      "\"Multi\"=hex(7):61,00,00,\\\r\n"
      "  00,00\r\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"Gone\"=hex(b):02\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n"
      "\"Installed\"=dword:00000001\r\n"
      "\"Odd\"=qword:7\r\n"
      "[HKEY_CURRENT_USER]\r\n"
      "@=\"root\"\r\n");
  {
    TRegistry R;
    ASSERT_TRUE(R.OpenKey(Key, false)) << TRegistry::ReadError();
    EXPECT_EQ(TRegistry::ReadError(), "");
    EXPECT_EQ(R.ReadInteger("SMTPPort"), 25);
    EXPECT_TRUE(R.ValueExists("path"));
    EXPECT_EQ(R.GetDataType("Path"), TRegDataType::rdUnknown);
    EXPECT_THROW(R.ReadString("Path"), ERegistryException);
    EXPECT_THROW(R.ReadBinaryData("Multi"), ERegistryException);
    EXPECT_EQ(R.GetValueNames(), (std::vector<std::string>{"SMTPPort", "Path", "Multi", "Q", "Gone"}));
    EXPECT_TRUE(R.DeleteValue("Gone"));
    R.WriteString("Q", "a text now");  // a write replaces a kept value with its own type
    EXPECT_FALSE(R.KeyExists("SOFTWARE\\Vendor"));  // other roots are not keys of this registry
  }
  const std::string File = Env.ReadFile(TRegistry::FileName());
  EXPECT_NE(File.find("\r\n\"Path\"=hex(2):25,00,48,00,00,00\r\n\"Multi\"=hex(7):61,00,00,00,00\r\n"
                      "\"Q\"=\"a text now\"\r\n"),
            std::string::npos)
      << File;
  EXPECT_EQ(File.find("Gone"), std::string::npos);
  EXPECT_NE(File.find("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"Installed\"=dword:00000001\r\n\"Odd\"=qword:7\r\n"
                      "\r\n[HKEY_CURRENT_USER]\r\n@=\"root\"\r\n"),
            std::string::npos)
      << File;

  // Read back and written again, the file stays as it is.
  TRegistry::ResetForTests();
  {
    TRegistry R;
    ASSERT_TRUE(R.OpenKey(Key, false));
    EXPECT_EQ(R.GetDataType("Multi"), TRegDataType::rdUnknown);
    R.WriteInteger("SMTPPort", 25);
  }
  EXPECT_EQ(Env.ReadFile(TRegistry::FileName()), File);
}

TEST(Registry, RewriteLeavesNoTemporaryFiles) {
  TTestEnv Env;
  for (int I = 0; I < 3; ++I) {
    TRegistry R;
    ASSERT_TRUE(R.OpenKey("A", true));
    R.WriteInteger("N", I);
  }
  size_t Files = 0;
  for (const auto& E : std::filesystem::directory_iterator(Env.ConfigHome() + "quillon")) {
    (void)E;
    ++Files;
  }
  EXPECT_EQ(Files, 1u);
}

TEST(Registry, TextsWithLineBreaksSurviveTheFile) {
  TTestEnv Env;
  const std::string Texts[] = {"two\nlines", "cr\r\nlf\r", "end\n"};
  {
    TRegistry R;
    ASSERT_TRUE(R.OpenKey(Key, true));
    for (size_t I = 0; I < 3; ++I) R.WriteString("T" + std::to_string(I), Texts[I]);
    R.WriteString("After", "plain");
  }
  const std::string File = Env.ReadFile(TRegistry::FileName());
  EXPECT_NE(File.find("\"T0\"=hex(1):74,77,6f,0a,6c,69,6e,65,73,00\r\n"), std::string::npos);
  TRegistry::ResetForTests();
  TRegistry R;
  ASSERT_TRUE(R.OpenKey(Key, false));
  for (size_t I = 0; I < 3; ++I) {
    EXPECT_EQ(R.GetDataType("T" + std::to_string(I)), TRegDataType::rdString);
    EXPECT_EQ(R.ReadString("T" + std::to_string(I)), Texts[I]);
  }
  EXPECT_EQ(R.ReadString("After"), "plain");
}

TEST(Registry, FileIsPrivateToTheUser) {
  TTestEnv Env;
  {
    TRegistry R;
    ASSERT_TRUE(R.OpenKey(Key, true));
    R.WriteString("RelaySMTPList", "relay:25::1:user:password:");
  }
  EXPECT_EQ(std::filesystem::status(TRegistry::FileName()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}
