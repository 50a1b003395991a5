#pragma once
// The text form of the registry file: the registry export format ("REGEDIT4", then per key a
// line "[HKEY_CURRENT_USER\\path]" and its values "Name"="text", "Name"=dword:0000001a,
// "Name"=hex:00,01). Only keys under HKEY_CURRENT_USER are kept.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Registry.h"

struct TRegValue {
  std::string Name;  // "" is the key's default value ("@")
  TRegDataType Type = TRegDataType::rdUnknown;
  std::string Bytes;  // REG_SZ text or REG_BINARY bytes
  int32_t Int = 0;
};

struct TRegKey {
  std::string Path;  // below HKEY_CURRENT_USER, as first written
  std::vector<TRegValue> Values;

  TRegValue* Find(const std::string& Name);
};

// Keys by lower-cased path: names compare without case.
using TRegKeyMap = std::map<std::string, TRegKey>;

// "\a\\b\" -> "a\b"
std::string NormaliseRegPath(const std::string& Key);
// Creates Path and its missing parents; true when something was created.
bool CreateRegKey(TRegKeyMap& Keys, const std::string& Path);

// False when Text is not a registry file; Keys then holds what was read before the fault.
bool ParseRegistryText(const std::string& Text, TRegKeyMap& Keys);
std::string ExportRegistryText(const TRegKeyMap& Keys);
