#pragma once
// Where the program finds its files. Folder names end with "/".
#include <stdexcept>
#include <string>

// Full path of the running executable.
std::string ProgramFile();
// Folder of the running executable: Language/ and Sound/ live beside it.
std::string ProgramDir();
// Tests point the program folder elsewhere; an empty text restores the real one.
void SetProgramDirOverride(const std::string& Dir);

// $XDG_CONFIG_HOME/quillon/ (default ~/.config/quillon/).
std::string ConfigDir();
// $XDG_CONFIG_HOME/ itself (default ~/.config/).
std::string ConfigHome();
// $XDG_DATA_HOME/quillon/ (default ~/.local/share/quillon/): the program's own, above
// DataFolder().
std::string AppDataDir();
// $XDG_DATA_HOME/quillon/data/ (default ~/.local/share/quillon/data/).
std::string DataFolder();
// $XDG_RUNTIME_DIR/ when set and usable, else ConfigDir().
std::string RuntimeDir();

// Creates Dir and its parents for the program's own files, private to the user
// (MakePrivateFolder); true when Dir is a folder afterwards (a link to one included).
bool ForceDirectories(const std::string& Dir);

// A folder the program must write to is not usable: the message names the folder and the
// reason in one line, for whichever entry point catches it.
class EFolderError : public std::runtime_error {
public:
  EFolderError(const std::string& Dir, const std::string& Reason)
      : std::runtime_error("Cannot use the folder \"" + Dir + "\": " + Reason) {}
};

// Creates Dir and its parents when missing, private as ForceDirectories makes them; raises
// EFolderError unless Dir is then a folder this process may write in.
void RequireFolder(const std::string& Dir);
