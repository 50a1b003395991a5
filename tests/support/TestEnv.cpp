#include "support/TestEnv.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

namespace {
const char* const Vars[5] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME",
                             "QUILLON_UPDATE_URL"};
// Nothing listens on port 1 of loopback: a check there fails at once.
const char* const ClosedUpdateURL = "http://127.0.0.1:1/onlineupdate/GetVersionVexaPro.php";
}

TTestEnv::TTestEnv() {
  std::string Tmpl = (std::filesystem::temp_directory_path() / "quillon-test-XXXXXX").string();
  if (!mkdtemp(Tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FRoot = Tmpl + "/";
  for (int I = 0; I < 5; ++I) {
    const char* Old = std::getenv(Vars[I]);
    FHad[I] = Old != nullptr;
    if (Old) FOld[I] = Old;
  }
  for (const auto& D : {ConfigHome(), DataHome(), RuntimeDir(), ProgramDir()}) std::filesystem::create_directories(D);
  setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
  setenv("XDG_DATA_HOME", DataHome().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", RuntimeDir().c_str(), 1);
  setenv("XDG_CACHE_HOME", CacheHome().c_str(), 1);
  setenv("QUILLON_UPDATE_URL", ClosedUpdateURL, 1);
  SetProgramDirOverride(ProgramDir());
  TRegistry::ResetForTests();
  DataDir = DataFolder();
  LangStrings.ResetToDefaults();
}

TTestEnv::~TTestEnv() {
  for (int I = 0; I < 5; ++I) {
    if (FHad[I])
      setenv(Vars[I], FOld[I].c_str(), 1);
    else
      unsetenv(Vars[I]);
  }
  SetProgramDirOverride("");
  TRegistry::ResetForTests();
  std::error_code Ec;
  std::filesystem::remove_all(FRoot, Ec);
}

void TTestEnv::WriteRegistry(const std::string& Text) const {
  std::filesystem::create_directories(ConfigHome() + "quillon");
  WriteFile(ConfigHome() + "quillon/registry.reg", "REGEDIT4\r\n\r\n" + Text);
}

std::string TTestEnv::ReadFile(const std::string& Path) const {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

void TTestEnv::WriteFile(const std::string& Path, const std::string& Data) const {
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Data;
}
