#pragma once
// Permission checks of the program's files: the umask a test writes under, and a file's
// access bits.
#include <sys/stat.h>

#include <cstdio>
#include <string>

// Sets the umask for the life of the object (children started meanwhile inherit it).
class TScopedUmask {
public:
  explicit TScopedUmask(mode_t Mask) : FOld(::umask(Mask)) {}
  ~TScopedUmask() { ::umask(FOld); }
  TScopedUmask(const TScopedUmask&) = delete;
  TScopedUmask& operator=(const TScopedUmask&) = delete;

private:
  mode_t FOld;
};

// The access bits of Path in octal ("0755"; of a link itself, not of what it points to),
// "missing" when there is none.
inline std::string ModeOf(const std::string& Path) {
  struct stat St;
  if (::lstat(Path.c_str(), &St) != 0) return "missing";
  char Text[8];
  std::snprintf(Text, sizeof Text, "%04o", unsigned(St.st_mode & 07777));
  return Text;
}
