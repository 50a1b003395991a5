#pragma once
// Window texts from a language file: the window's font from section "Info", its caption
// and the texts of the controls it owns from the section named after the window
// (objectName), as lines "Component.Property=Value". Works on any window; knows none.
#include <string>

class QWidget;
class TIniFile;

// Reads the language file with the program's ini reader and applies it. Never throws: a
// file that cannot be read changes nothing.
void LoadFormLanguage(QWidget* Form, const std::string& IniFileName);
void ApplyFormLanguage(QWidget* Form, const TIniFile& Ini);
// "Label1.Caption=Some text" -> "Label1", "Caption", "Some text". False without a "." or
// without a "=" after it. Nothing is trimmed.
bool SplitComponentProperty(const std::string& Line, std::string& ComponentName, std::string& PropertyName,
                            std::string& Value);
