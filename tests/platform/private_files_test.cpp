// The program's own folders and files are its user's alone whatever the umask: a folder it
// makes, or finds open to others, ends owner-only, and a file it writes is 0600. Folders
// that are not its own (the ones above, a link to elsewhere, another user's) stay as they are.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "support/FileModes.h"
#include "support/TestEnv.h"

TEST(PrivateFiles, OwnFoldersEndOwnerOnlyAndOthersAreLeftAlone) {
  TTestEnv Env;
  TScopedUmask Mask(022);
  const std::string Root = Env.Root() + "t/";
  std::filesystem::create_directories(Root);
  ::chmod(Root.c_str(), 0755);
  const bool AsRoot = ::geteuid() == 0;
  struct {
    const char* Name;
    std::function<void(const std::string&)> Prepare;
    const char* Expected;
    const char* Other;  // a folder beside it that must keep its mode
  } const Cases[] = {
      {"missing, with a missing folder above", [](const std::string&) {}, "0700", nullptr},
      {"left 0755", [](const std::string& D) { ::mkdir(D.c_str(), 0755); }, "0700", nullptr},
      {"left 0711", [](const std::string& D) { ::mkdir(D.c_str(), 0711); ::chmod(D.c_str(), 0711); }, "0700", nullptr},
      {"already 0700", [](const std::string& D) { ::mkdir(D.c_str(), 0700); }, "0700", nullptr},
      // Access the owner took from himself is not given back.
      {"left 0555", [](const std::string& D) { ::mkdir(D.c_str(), 0555); ::chmod(D.c_str(), 0555); }, "0500", nullptr},
      {"a link to a folder elsewhere",
       [&Root](const std::string& D) {
         ::mkdir((Root + "elsewhere").c_str(), 0755);
         std::filesystem::create_directory_symlink(Root + "elsewhere", D);
       },
       "link", "elsewhere"},
      {"another user's folder",
       [](const std::string& D) {
         ::mkdir(D.c_str(), 0755);
         if (::chown(D.c_str(), 65534, 65534) != 0) ADD_FAILURE() << "chown";
       },
       "0755", nullptr},
  };
  int N = 0;
  for (const auto& C : Cases) {
    for (const bool Require : {false, true}) {
      SCOPED_TRACE(std::string(C.Name) + (Require ? " (RequireFolder)" : " (ForceDirectories)"));
      if (C.Expected == std::string("0755") && !AsRoot) continue;  // only root can give a folder away
      if (Require && C.Expected == std::string("0500")) continue;   // a folder it cannot write in is refused
      const std::string Parent = Root + "p" + std::to_string(++N) + "/";
      const bool Missing = std::string(C.Name).rfind("missing", 0) == 0;
      if (!Missing) ::mkdir(Parent.c_str(), 0755);
      const std::string Dir = Parent + "own";
      C.Prepare(Dir);
      if (Require)
        EXPECT_NO_THROW(RequireFolder(Dir + "/"));
      else
        EXPECT_TRUE(ForceDirectories(Dir));
      if (C.Other) {
        EXPECT_EQ(ModeOf(Dir), "0777");  // the link itself
        EXPECT_EQ(ModeOf(Root + C.Other), "0755");
      } else {
        EXPECT_EQ(ModeOf(Dir), C.Expected);
      }
      // What was there above stays; what had to be made above is private too.
      EXPECT_EQ(ModeOf(Parent), Missing ? "0700" : "0755");
      EXPECT_EQ(ModeOf(Root), "0755");
      if (C.Other) std::filesystem::remove(Root + C.Other);
    }
  }
}

TEST(PrivateFiles, AtomicWritesAndTheRegistryAreOwnerOnlyUnderUmask022) {
  TTestEnv Env;
  TScopedUmask Mask(022);
  const std::string Dir = Env.Root() + "w/";
  std::filesystem::create_directories(Dir);

  ASSERT_TRUE(WriteFileAtomically(Dir + "whole", "data"));
  EXPECT_EQ(ModeOf(Dir + "whole"), "0600");
  {
    // Before its rename the temporary file holds the same data: it is private as well.
    TAtomicFile F(Dir + "pending");
    ASSERT_TRUE(F.IsOpen() && F.Write("secret"));
    int Temps = 0;
    for (const auto& E : std::filesystem::directory_iterator(Dir))
      if (E.path().filename().string().rfind("pending.tmp", 0) == 0) {
        ++Temps;
        EXPECT_EQ(ModeOf(E.path().string()), "0600") << E.path();
      }
    EXPECT_EQ(Temps, 1);
  }

  // The settings folder is made by the first write of a setting.
  ::chmod(Env.ConfigHome().c_str(), 0755);
  ASSERT_FALSE(std::filesystem::exists(ConfigDir()));
  {
    TRegistry R;
    ASSERT_TRUE(R.OpenKey("\\Software\\Nimbrel\\Quillon Pro", true));
    R.WriteString("RelayPassword", "secret");
  }
  EXPECT_EQ(ModeOf(ConfigDir()), "0700");
  EXPECT_EQ(ModeOf(TRegistry::FileName()), "0600");
  EXPECT_EQ(ModeOf(Env.ConfigHome()), "0755");  // $XDG_CONFIG_HOME is not ours
}
