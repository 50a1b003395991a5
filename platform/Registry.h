#pragma once
// The program's registry: typed values (REG_DWORD, REG_SZ, REG_BINARY) in keys and subkeys,
// names compared without case, kept in $XDG_CONFIG_HOME/quillon/registry.reg in the
// registry export format. A person or a test may write that file by hand.
//
// The file is read again whenever a key is opened (unless this process holds unsaved
// changes) and rewritten atomically when a changed key is closed. A file that cannot be
// read or parsed makes every OpenKey fail, and is never overwritten by this process;
// ReadError then says which file and which line. Sections and value types the program does
// not use are kept and written back as they are.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

enum class TRegDataType { rdUnknown, rdString, rdInteger, rdBinary };

class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TRegistry {
public:
  TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;
  ~TRegistry();  // closes the key, saving changes

  // Key paths are relative to HKEY_CURRENT_USER, with "\" between the parts; a leading "\"
  // is allowed. Opening fails when the registry file is unusable, or the key does not exist
  // and CanCreate is false.
  bool OpenKey(const std::string& Key, bool CanCreate);
  bool KeyExists(const std::string& Key);
  bool DeleteKey(const std::string& Key);
  // False when the key held changes that could not be written to the file; they stay
  // pending, and the next close tries again.
  bool CloseKey();
  const std::string& CurrentPath() const { return FCurrentPath; }

  bool ValueExists(const std::string& Name) const;
  TRegDataType GetDataType(const std::string& Name) const;
  // Reads raise ERegistryException when no key is open, the value is missing or has
  // another type. ReadString of a missing value gives "" as the Windows class library does.
  int32_t ReadInteger(const std::string& Name) const;
  bool ReadBool(const std::string& Name) const { return ReadInteger(Name) != 0; }
  std::string ReadString(const std::string& Name) const;
  std::string ReadBinaryData(const std::string& Name) const;
  // Writes raise ERegistryException when no key is open.
  void WriteInteger(const std::string& Name, int32_t Value);
  void WriteBool(const std::string& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }
  void WriteString(const std::string& Name, const std::string& Value);
  void WriteBinaryData(const std::string& Name, const std::string& Bytes);
  bool DeleteValue(const std::string& Name);
  // Names of the direct subkeys of the open key, and of its values.
  std::vector<std::string> GetKeyNames() const;
  std::vector<std::string> GetValueNames() const;

  // The file behind the registry and a way for tests to forget what was loaded.
  static std::string FileName();
  // Why the registry file could not be used, in one line with its path (and line); empty
  // while it can be.
  static std::string ReadError();
  static void ResetForTests();

private:
  std::string FCurrentPath;
  bool FOpen = false;
};
