// The ini reader and the message-text loader that reads language files with it.
#include <cstdint>
#include <string>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "platform/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const TIniFile Ini = TIniFile::FromText(std::string(reinterpret_cast<const char*>(Data), Size));
  LoadLanguageStrings(Ini);
  for (const auto& Section : Ini.ReadSections())
    for (const auto& Key : Ini.ReadSection(Section)) (void)Ini.ReadInteger(Section, Key, 0);
  // Loaded texts are formatted with the arguments their entries take.
  (void)LangFmt(22, "someone@example.com");
  (void)LangFmt(27, 25);
  (void)LangFmt(91, "127.0.0.1", "127.0.0.2");
  (void)LangFmt(97, "Quillon", "1.0");
  LangStrings.ResetToDefaults();
  return 0;
}
