#pragma once
// The program's own folders and files hold mail, logs and the relay servers' passwords:
// only their user may reach them, whatever the umask.
#include <string>

// Creates Folder and the folders missing above it, each 0700 (what the XDG base directory
// rules ask of folders a program makes). Folder must then be a real folder (not a link) of
// this user's; group and others lose whatever access they had to it (the owner's own bits
// stay as they are). Folders that were there above it are left alone. False, with errno
// set, when Folder cannot be made or is not ours to change.
bool MakePrivateFolder(const std::string& Folder);

// The same for a file that a library writes and that keeps the mode it finds (QSettings):
// Path is created empty with 0600 when missing, and loses group and others' bits when not.
bool MakePrivateFile(const std::string& Path);
