#pragma once
// The text form of the registry file: the registry export format ("REGEDIT4", then per key a
// line "[HKEY_CURRENT_USER\\path]" and its values "Name"="text", "Name"=dword:0000001a,
// "Name"=hex:00,01). Keys under HKEY_CURRENT_USER are read into typed values; sections of
// other roots and value types this program does not use (hex(2):, hex(7):, ...) are kept as
// they are and written back, so a file shared with other tools loses nothing.
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Registry.h"

struct TRegValue {
  std::string Name;  // "" is the key's default value ("@")
  TRegDataType Type = TRegDataType::rdUnknown;
  std::string Bytes;  // REG_SZ text, REG_BINARY bytes, or the bytes of a kept value
  int32_t Int = 0;
  // For a kept value of another type: its tag as the file spells it ("hex(2)").
  std::string KeptType;
};

class TRegKey {
public:
  std::string Path;  // below HKEY_CURRENT_USER, as first written

  const std::vector<TRegValue>& Values() const { return FValues; }
  // Look-ups go through a name index: a key with many values stays linear to read and write.
  TRegValue* Find(const std::string& Name);
  const TRegValue* Find(const std::string& Name) const;
  // The value of that name, appended empty when there is none.
  TRegValue& Put(const std::string& Name);
  bool Erase(const std::string& Name);

private:
  std::vector<TRegValue> FValues;
  std::unordered_map<std::string, size_t> FIndex;  // lower-cased name -> position in FValues
};

// Keys by lower-cased path: names compare without case.
using TRegKeyMap = std::map<std::string, TRegKey>;

struct TRegistryData {
  TRegKeyMap Keys;  // under HKEY_CURRENT_USER
  // Sections of other roots, line by line as read (header included); written after the keys.
  std::vector<std::string> OtherSections;
  void Clear() {
    Keys.clear();
    OtherSections.clear();
  }
};

// Where and why a registry text could not be read.
struct TRegReadError {
  int Line = 0;  // 1-based line of the file
  std::string Reason;
};

// "\a\\b\" -> "a\b"
std::string NormaliseRegPath(const std::string& Key);
// Creates Path and its missing parents; true when something was created.
bool CreateRegKey(TRegKeyMap& Keys, const std::string& Path);

// False when Text is not a registry file; Data then holds what was read before the fault
// and Error (when given) says at which line.
bool ParseRegistryText(const std::string& Text, TRegistryData& Data, TRegReadError* Error = nullptr);
std::string ExportRegistryText(const TRegistryData& Data);
