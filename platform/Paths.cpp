#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/PrivateFiles.h"
#include "platform/SharedString.h"

namespace {
constinit TSharedString ProgramDirOverride;

std::string WithSlash(std::string S) {
  if (S.empty() || S.back() != '/') S += '/';
  return S;
}

std::string HomeDir() {
  const char* H = std::getenv("HOME");
  return WithSlash(H && *H ? H : "/tmp");
}

std::string XdgDir(const char* Var, const char* Fallback) {
  const char* V = std::getenv(Var);
  if (V && *V == '/') return WithSlash(V);
  return HomeDir() + Fallback;
}
}  // namespace

std::string ProgramFile() {
  std::error_code Ec;
  auto P = std::filesystem::read_symlink("/proc/self/exe", Ec);
  return Ec ? std::string() : P.string();
}

std::string ProgramDir() {
  if (std::string Override = ProgramDirOverride.get(); !Override.empty()) return Override;
  const std::string File = ProgramFile();
  const auto Slash = File.rfind('/');
  return Slash == std::string::npos ? std::string("./") : File.substr(0, Slash + 1);
}

void SetProgramDirOverride(const std::string& Dir) { ProgramDirOverride = Dir.empty() ? Dir : WithSlash(Dir); }

std::string ConfigHome() { return XdgDir("XDG_CONFIG_HOME", ".config/"); }

std::string ConfigDir() { return ConfigHome() + "quillon/"; }

std::string AppDataDir() { return XdgDir("XDG_DATA_HOME", ".local/share/") + "quillon/"; }

std::string DataFolder() { return AppDataDir() + "data/"; }

std::string RuntimeDir() {
  const char* V = std::getenv("XDG_RUNTIME_DIR");
  if (V && *V == '/' && access(V, W_OK | X_OK) == 0) return WithSlash(V);
  return ConfigDir();
}

bool ForceDirectories(const std::string& Dir) {
  MakePrivateFolder(Dir);  // a link to a folder elsewhere is used as it is
  std::error_code Ec;
  return std::filesystem::is_directory(Dir, Ec);
}

void RequireFolder(const std::string& Dir) {
  errno = 0;
  const int MakeError = MakePrivateFolder(Dir) ? 0 : errno;
  std::string Bare = Dir;  // "x/" of a file x fails with ENOTDIR before it can be told apart
  while (Bare.size() > 1 && Bare.back() == '/') Bare.pop_back();
  struct stat St;
  if (::stat(Bare.c_str(), &St) != 0) throw EFolderError(Dir, std::strerror(MakeError ? MakeError : errno));
  if (!S_ISDIR(St.st_mode)) throw EFolderError(Dir, std::strerror(ENOTDIR));
  if (::access(Dir.c_str(), W_OK | X_OK) != 0) throw EFolderError(Dir, std::strerror(errno));
}
