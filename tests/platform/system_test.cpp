// Paths, the one-running-copy lock, resolv.conf, autostart entries and the ini reader.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/AtomicFile.h"
#include "platform/AutoStart.h"
#include "platform/IniFile.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/ResolvConf.h"
#include "support/TestEnv.h"

TEST(Paths, FoldersFollowTheXdgVariables) {
  TTestEnv Env;
  EXPECT_EQ(ConfigDir(), Env.ConfigHome() + "quillon/");
  EXPECT_EQ(DataFolder(), Env.DataHome() + "quillon/data/");
  EXPECT_EQ(RuntimeDir(), Env.RuntimeDir());
  EXPECT_EQ(ProgramDir(), Env.ProgramDir());
  SetProgramDirOverride("");
  EXPECT_NE(ProgramDir().find("/bin/"), std::string::npos);
  EXPECT_EQ(ProgramFile().rfind(ProgramDir(), 0), 0u);
}

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstEnds) {
  TTestEnv Env;
  TInstanceLock A, B;
  ASSERT_TRUE(A.Acquire("VexaRunInstance"));
  EXPECT_FALSE(B.Acquire("VexaRunInstance"));
  // A child process is refused too.
  const pid_t Child = fork();
  if (Child == 0) {
    TInstanceLock C;
    _exit(C.Acquire("VexaRunInstance") ? 1 : 0);
  }
  int Status = 0;
  waitpid(Child, &Status, 0);
  EXPECT_EQ(WEXITSTATUS(Status), 0);
  A.Release();
  EXPECT_TRUE(B.Acquire("VexaRunInstance"));
}

TEST(InstanceLock, AKilledHolderDoesNotBlockTheNextStart) {
  TTestEnv Env;
  int Ready[2];
  ASSERT_EQ(pipe(Ready), 0);
  const pid_t Child = fork();
  if (Child == 0) {
    TInstanceLock C;
    const char Ok = C.Acquire("VexaRunInstance") ? 'y' : 'n';
    (void)!write(Ready[1], &Ok, 1);
    pause();
    _exit(0);
  }
  char Got = 0;
  ASSERT_EQ(read(Ready[0], &Got, 1), 1);
  ASSERT_EQ(Got, 'y');
  TInstanceLock L;
  EXPECT_FALSE(L.Acquire("VexaRunInstance"));
  kill(Child, SIGKILL);
  waitpid(Child, nullptr, 0);
  EXPECT_TRUE(L.Acquire("VexaRunInstance"));
  close(Ready[0]);
  close(Ready[1]);
}

TEST(InstanceLock, FallsBackToTheConfigFolderWithoutRuntimeDir) {
  TTestEnv Env;
  unsetenv("XDG_RUNTIME_DIR");
  TInstanceLock L;
  ASSERT_TRUE(L.Acquire("VexaRunInstance"));
  EXPECT_EQ(TInstanceLock::LockFilePath("VexaRunInstance"), Env.ConfigHome() + "quillon/quillon-VexaRunInstance.lock");
}

TEST(AtomicFile, LeftoversCarryingOurOwnPidAreStaleUnlessWeAreWritingThem) {
  // A restarted container often gets the process id its crashed predecessor had.
  TTestEnv Env;
  const std::string Dir = Env.Root();
  const std::string Mine = ".tmp" + std::to_string(getpid()) + "_";
  Env.WriteFile(Dir + "a.idx" + Mine + "999999", "left by a crash");
  TAtomicFile Live(Dir + "b.idx");
  ASSERT_TRUE(Live.IsOpen());
  ASSERT_TRUE(Live.Write("new"));
  RemoveStaleTempFiles(Dir);
  EXPECT_FALSE(std::filesystem::exists(Dir + "a.idx" + Mine + "999999"));
  EXPECT_TRUE(Live.Commit());
  EXPECT_EQ(Env.ReadFile(Dir + "b.idx"), "new");
}

TEST(ResolvConf, IPv4NameserversInOrderEachOnce) {
  TTestEnv Env;
  const std::string Path = Env.Root() + "resolv.conf";
  Env.WriteFile(Path,
                "# comment\nsearch example.org\nnameserver 10.0.0.2\nnameserver ::1\n"
                "nameserver   192.168.1.1  # trailing\nnameserver 10.0.0.2\nnameserver bogus\n"
                "  nameserver 172.16.0.1\noptions ndots:1\n");
  EXPECT_EQ(ReadResolvConfNameservers(Path), (std::vector<std::string>{"10.0.0.2", "192.168.1.1", "172.16.0.1"}));
  EXPECT_TRUE(ReadResolvConfNameservers(Env.Root() + "missing").empty());
}

TEST(AutoStart, EntryIsWrittenWithTheQuotedPathAndRemoved) {
  TTestEnv Env;
  WriteAutostartEntry("/opt/my apps/quillon");
  EXPECT_EQ(AutostartEntryPath(), Env.ConfigHome() + "autostart/quillon.desktop");
  const std::string Entry = Env.ReadFile(AutostartEntryPath());
  EXPECT_NE(Entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(Entry.find("Exec=\"/opt/my apps/quillon\"\n"), std::string::npos);
  RemoveAutostartEntry();
  EXPECT_FALSE(AutostartEntryExists());
  // Reserved characters: quoted-argument escapes, then the text-value escapes over them.
  WriteAutostartEntry("/opt/a\"b`c$d\\e%f\tg");
  EXPECT_NE(Env.ReadFile(AutostartEntryPath()).find(R"(Exec="/opt/a\\"b\\`c\\$d\\\\e%%f\tg")" "\n"),
            std::string::npos);
}

TEST(IniFile, WindowsReaderRules) {
  const TIniFile Ini = TIniFile::FromText(
      "\xEF\xBB\xBF[Info]\r\nLanguage =  Deutsch  \r\n; comment\r\nlanguage=Second\r\n"
      "Quoted=\"  spaced  \"\r\nNumber=42\r\nBad=4x\r\n[info]\r\nExtra=1\r\n[Common]\r\n7=seven\r\n");
  EXPECT_EQ(Ini.ReadString("INFO", "LANGUAGE", "?"), "Deutsch");  // first occurrence, trimmed
  EXPECT_EQ(Ini.ReadString("Info", "Quoted", "?"), "  spaced  ");
  EXPECT_EQ(Ini.ReadString("Info", "Extra", "?"), "1");  // a repeated section adds to the first
  EXPECT_EQ(Ini.ReadString("Info", "Missing", "dflt"), "dflt");
  EXPECT_EQ(Ini.ReadInteger("Info", "Number", 0), 42);
  EXPECT_EQ(Ini.ReadInteger("Info", "Bad", -1), -1);
  EXPECT_EQ(Ini.ReadString("Common", "07", "none"), "none");
  EXPECT_TRUE(Ini.SectionExists("common"));
  EXPECT_EQ(Ini.ReadSections(), (std::vector<std::string>{"Info", "Common"}));
}

TEST(IniFile, IntegersConvertAsTheClassLibraryDoes) {
  struct {
    const char* Text;
    bool Ok;
    int32_t Value;
  } const Cases[] = {{"42", true, 42},          {"  -12", true, -12},         {"+7", true, 7},
                     {"0x1F", true, 31},        {"$1f", true, 31},            {"-$10", true, -16},
                     {"$FFFFFFFF", true, -1},   {"2147483647", true, INT32_MAX}, {"-2147483648", true, INT32_MIN},
                     {"2147483648", false, 0},  {"$100000000", false, 0},     {"$0x1", false, 0},
                     {"0x", false, 0},          {"$", false, 0},              {"- 1", false, 0},
                     {"12 ", false, 0},         {"1e3", false, 0},            {"", false, 0}};
  for (const auto& C : Cases) {
    int32_t V = 0;
    EXPECT_EQ(TryStrToInt(C.Text, V), C.Ok) << C.Text;
    if (C.Ok) {
      EXPECT_EQ(V, C.Value) << C.Text;
    }
  }
  const TIniFile Ini = TIniFile::FromText("[Info]\nFontSize=0x0A\nFontCharset=$86\nBad=10pt\n");
  EXPECT_EQ(Ini.ReadInteger("Info", "FontSize", 0), 10);
  EXPECT_EQ(Ini.ReadInteger("Info", "FontCharset", 0), 134);
  EXPECT_EQ(Ini.ReadInteger("Info", "Bad", 9), 9);
}
