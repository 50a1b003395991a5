// The registry file parser: whatever it accepts (kept sections and value types included)
// must export and read back to the same keys.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/RegistryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  TRegistryData Keys;
  if (!ParseRegistryText(Text, Keys)) return 0;
  const std::string Exported = ExportRegistryText(Keys);
  TRegistryData Again;
  if (!ParseRegistryText(Exported, Again)) std::abort();
  if (ExportRegistryText(Again) != Exported) std::abort();
  return 0;
}
