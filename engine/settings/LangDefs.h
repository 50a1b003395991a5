#pragma once
// The table of user-visible message texts, by number, with English defaults that a
// language file (section "Common") can replace.
#include <atomic>
#include <string>

#include "platform/SharedString.h"

class TIniFile;

constexpr int LangStringCount = 109;

class TLangStrings {
public:
  // Constant-initialised: the English texts are there before any unit's start-up code.
  constexpr TLangStrings() = default;
  // A copy of entry Index (empty for an index outside the table).
  std::string operator[](int Index) const;
  void Set(int Index, std::string Text);
  static const char* Default(int Index);
  void ResetToDefaults();

private:
  TSharedString FItems[LangStringCount];
  std::atomic<bool> FReplaced[LangStringCount] = {};  // false: the English text is in force
};

extern TLangStrings LangStrings;

void LoadLanguageFile(const std::string& FileName);
void LoadLanguageStrings(const TIniFile& Ini);
// Reads LanguageName, loads that file and builds the language list.
void LoadLanguageList();
// Folder of the language files, with trailing "/".
std::string LanguageDir();
