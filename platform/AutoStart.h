#pragma once
// Start with the desktop session: an XDG autostart entry
// $XDG_CONFIG_HOME/autostart/quillon.desktop that runs the program file.
#include <string>

std::string AutostartEntryPath();
// Writes the entry; throws std::runtime_error when it cannot be written.
void WriteAutostartEntry(const std::string& ProgramPath);
// Removes the entry when it exists.
void RemoveAutostartEntry();
bool AutostartEntryExists();
