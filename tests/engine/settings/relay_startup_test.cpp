// Start-up of the engine harness quillon-relay as its own process: folders it cannot use and
// registry lines it cannot read end it with one line that says where and why; a second copy
// on the same data folder ends at once; what crashed atomic rewrites left behind is removed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Paths.h"
#include "platform/Registry.h"
#include "support/ChildProcess.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/TestEnv.h"

namespace {
const std::string Relay = std::string(QUILLON_BIN_DIR) + "/quillon-relay";
constexpr int RunLimitMs = 20000;

// A process id that no process has any more.
pid_t DeadPid() {
  const pid_t Child = fork();
  if (Child == 0) _exit(0);
  waitpid(Child, nullptr, 0);
  return Child;
}

std::string Temp(const std::string& Target, pid_t Pid, int N) {
  return Target + ".tmp" + std::to_string(Pid) + "_" + std::to_string(N);
}

bool Exists(const std::string& Path) {
  std::error_code Ec;
  return std::filesystem::exists(Path, Ec);
}
}  // namespace

TEST(RelayStartup, FailuresAreOneLineWithPathAndReasonAndExitOne) {
  // Root may write anywhere: in a user namespace of its own it is only the folders' owner.
  const bool Root = geteuid() == 0;
  struct TCase {
    const char* Name;
    void (*Prepare)(const TTestEnv&);
    std::string (*Expected)(const TTestEnv&);
  } const Cases[] = {
      {"dns/ is a file",
       [](const TTestEnv& Env) { Env.WriteFile(DataFolder() + "dns", "x"); },
       [](const TTestEnv&) { return "quillon-relay: Cannot use the folder \"" + DataFolder() + "dns/\": Not a directory\n"; }},
      {"read-only data folder",
       [](const TTestEnv&) {
         std::filesystem::create_directories(DataFolder());
         chmod(DataFolder().c_str(), 0555);
       },
       [](const TTestEnv&) { return "quillon-relay: Cannot use the folder \"" + DataFolder() + "\": Permission denied\n"; }},
      {"registry line that cannot be read",
       [](const TTestEnv& Env) {
         Env.WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n\"SMTPPort\"=dword:zz\r\n");
       },
       [](const TTestEnv&) {
         return "Cannot read the registry file \"" + TRegistry::FileName() +
                "\", line 4: a value that cannot be read\nError: Error reading registry!\n";
       }},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TTestEnv Env;
    WriteHarnessRegistry(Env, FreeLoopbackPort(), "127.0.0.1");
    C.Prepare(Env);
    std::vector<std::string> Argv{Relay};
    if (Root) {
      TChildProcess Probe;
      if (Probe.Run({"unshare", "-U", "true"}, "/dev/null", RunLimitMs) != 0) GTEST_SKIP() << "no user namespaces";
      Argv.insert(Argv.begin(), {"unshare", "-U"});
    }
    const std::string Out = Env.Root() + "relay.out";
    TChildProcess P;
    EXPECT_EQ(P.Run(Argv, Out, RunLimitMs), 1);
    EXPECT_EQ(Env.ReadFile(Out), C.Expected(Env));
    chmod(DataFolder().c_str(), 0755);
  }
}

TEST(RelayStartup, RegistryWithOtherKeysAndValueTypesStillStarts) {
  TTestEnv Env;
  const int Port = FreeLoopbackPort();
  WriteHarnessRegistry(Env, Port, "127.0.0.1",
                       "\"Path\"=hex(2):25,00,48,00,00,00\r\n"
                       "\"Multi\"=hex(7):61,00,00,00,\\\r\n  00,00\r\n"
                       "\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n\"Other\"=qword:1\r\n");
  const std::string Out = Env.Root() + "relay.out";
  TChildProcess P;
  ASSERT_TRUE(P.Start({Relay}, Out));
  ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port)))
      << Env.ReadFile(Out);
  EXPECT_EQ(P.Stop(10000), 0);
}

TEST(RelayStartup, SecondCopyOnTheSameDataFolderEndsAtOnceWithoutAMessage) {
  struct TCase {
    const char* Name;
    bool OwnConfig;  // without a runtime folder the lock falls back to the config folder
  } const Cases[] = {{"another runtime folder", false}, {"no runtime folder and another config folder", true}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TTestEnv Env;
    const int Port = FreeLoopbackPort();
    WriteHarnessRegistry(Env, Port, "127.0.0.1");
    const std::string Out = Env.Root() + "first.out";
    TChildProcess First;
    ASSERT_TRUE(First.Start({Relay}, Out));
    ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port)))
        << Env.ReadFile(Out);

    const std::string OtherRoot = Env.Root() + "other/";
    std::filesystem::create_directories(OtherRoot);
    if (C.OwnConfig) {
      std::filesystem::create_directories(OtherRoot + "quillon");
      std::filesystem::copy_file(TRegistry::FileName(), OtherRoot + "quillon/registry.reg");
      setenv("XDG_CONFIG_HOME", OtherRoot.c_str(), 1);
      unsetenv("XDG_RUNTIME_DIR");
    } else {
      setenv("XDG_RUNTIME_DIR", OtherRoot.c_str(), 1);
    }
    const std::string SecondOut = Env.Root() + "second.out";
    TChildProcess Second;
    EXPECT_EQ(Second.Run({Relay}, SecondOut, RunLimitMs), 0);
    EXPECT_EQ(Env.ReadFile(SecondOut), "");
    setenv("XDG_CONFIG_HOME", Env.ConfigHome().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", Env.RuntimeDir().c_str(), 1);

    EXPECT_TRUE(First.Running());
    EXPECT_EQ(First.Stop(10000), 0);
  }
}

TEST(RelayStartup, TemporaryFilesOfCrashedRewritesAreRemovedAndNothingElse) {
  TTestEnv Env;
  const int Port = FreeLoopbackPort();
  WriteHarnessRegistry(Env, Port, "127.0.0.1");
  const pid_t Dead = DeadPid();
  const std::string Data = DataFolder(), Config = Env.ConfigHome() + "quillon/";
  const std::string Gone[] = {Data + Temp("MailQueu.idx", Dead, 3), Data + Temp("MailFail.idx", Dead, 0),
                              Config + Temp("registry.reg", Dead, 0)};
  const std::string Kept[] = {
      Data + Temp("MailSucc.idx", getpid(), 1),  // a running process may still rename it
      Data + "MailQueu.idx.tmp",
      Data + Temp("MailQueu.idx", Dead, 3) + ".old",
      Data + "notes.txt",
      Data + "mail/" + Temp("1.qn", Dead, 0),  // not a folder of atomic rewrites
      Config + Temp("other.reg", Dead, 0),
  };
  for (const auto& F : Gone) Env.WriteFile(F, "left over");
  for (const auto& F : Kept) Env.WriteFile(F, "keep");

  const std::string Out = Env.Root() + "relay.out";
  TChildProcess P;
  ASSERT_TRUE(P.Start({Relay}, Out));
  ASSERT_TRUE(WaitForOutput(Env, Out, "log 0 Built-in SMTP server started. Listening on port " + std::to_string(Port)))
      << Env.ReadFile(Out);
  for (const auto& F : Gone) EXPECT_FALSE(Exists(F)) << F;
  for (const auto& F : Kept) EXPECT_EQ(Env.ReadFile(F), "keep") << F;
  EXPECT_EQ(P.Stop(10000), 0);
}
