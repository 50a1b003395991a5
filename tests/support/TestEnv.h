#pragma once
// A private set of XDG folders for one test: the registry file, the data folder, the lock
// files, the autostart entry and the update downloads all land in a fresh temporary tree.
// The version check is pointed at a closed loopback port unless the test names its own
// server, so no test ever asks the real update service.
#include <string>

class TTestEnv {
public:
  TTestEnv();
  ~TTestEnv();
  TTestEnv(const TTestEnv&) = delete;
  TTestEnv& operator=(const TTestEnv&) = delete;

  const std::string& Root() const { return FRoot; }  // with trailing "/"
  std::string ConfigHome() const { return FRoot + "config/"; }
  std::string DataHome() const { return FRoot + "data/"; }
  std::string RuntimeDir() const { return FRoot + "run/"; }
  std::string CacheHome() const { return FRoot + "cache/"; }
  // A program folder of the test's own (for Language/ and Sound/).
  std::string ProgramDir() const { return FRoot + "program/"; }

  // Writes the registry file by hand (text after the REGEDIT4 line is the caller's).
  void WriteRegistry(const std::string& Text) const;
  std::string ReadFile(const std::string& Path) const;
  void WriteFile(const std::string& Path, const std::string& Data) const;

private:
  std::string FRoot;
  std::string FOld[5];
  bool FHad[5] = {};
};
