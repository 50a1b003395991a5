#include "platform/AutoStart.h"

#include <filesystem>
#include <stdexcept>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

std::string AutostartEntryPath() { return ConfigHome() + "autostart/quillon.desktop"; }

void WriteAutostartEntry(const std::string& ProgramPath) {
  // The desktop's folder, not ours: made as the desktop makes its own folders.
  std::error_code Ec;
  std::filesystem::create_directories(ConfigHome() + "autostart/", Ec);
  // Exec takes the path quoted, with the characters the desktop entry format reserves
  // escaped and "%" doubled; then the whole value is escaped as every text value is, so
  // each backslash of the quoting is written twice.
  std::string Arg = "\"";
  for (char C : ProgramPath) {
    if (C == '"' || C == '`' || C == '$' || C == '\\') Arg += '\\';
    if (C == '%') Arg += '%';
    Arg += C;
  }
  Arg += '"';
  std::string Quoted;
  for (char C : Arg) {
    if (C == '\\') Quoted += "\\\\";
    else if (C == '\n') Quoted += "\\n";
    else if (C == '\t') Quoted += "\\t";
    else if (C == '\r') Quoted += "\\r";
    else Quoted += C;
  }
  const std::string Entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Quillon\n"
      "Exec=" + Quoted + "\n"
      "X-GNOME-Autostart-enabled=true\n";
  if (!WriteFileAtomically(AutostartEntryPath(), Entry, 0644))
    throw std::runtime_error("Cannot write " + AutostartEntryPath());
}

void RemoveAutostartEntry() {
  std::error_code Ec;
  std::filesystem::remove(AutostartEntryPath(), Ec);
}

bool AutostartEntryExists() {
  std::error_code Ec;
  return std::filesystem::exists(AutostartEntryPath(), Ec);
}
