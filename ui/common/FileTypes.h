#pragma once
// What the desktop calls a kind of file: the description of a file extension from the
// system's MIME database (shared-mime-info).
#include <string>

// The description of files with the extension Ext (given without its dot, any letter
// case), e.g. "WAV audio" for "wav"; empty when the database knows no type for it.
std::string GetFileTypeDescription(const std::string& Ext);
