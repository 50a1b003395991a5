#include "platform/Registry.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/RegistryFile.h"
#include "platform/IniFile.h"

namespace {
class TStore {
public:
  std::mutex Lock;

  // Loads the file unless unsaved changes are held. False when the file is unusable.
  bool Refresh() {
    const std::string Path = TRegistry::FileName();
    if (Path != FPath) {
      FPath = Path;
      FBroken = false;
      FDirty = false;
      FError.clear();
      // What a crash left of an earlier rewrite.
      const auto Slash = Path.rfind('/');
      RemoveStaleTempFiles(Path.substr(0, Slash + 1), Path.substr(Slash + 1));
    }
    if (FBroken) return false;
    if (FDirty) return true;
    FData.Clear();
    struct stat St;
    if (::stat(Path.c_str(), &St) != 0) return true;  // no file yet: an empty registry
    std::ifstream In(Path, std::ios::binary);
    if (!S_ISREG(St.st_mode) || !In) {
      // There, but unreadable.
      Broken("Cannot read the registry file \"" + Path + "\": " + std::strerror(S_ISREG(St.st_mode) ? errno : EISDIR));
      return false;
    }
    std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    TRegReadError Why;
    if (In.bad()) {
      Broken("Cannot read the registry file \"" + Path + "\": " + std::strerror(EIO));
    } else if (!ParseRegistryText(Text, FData, &Why)) {
      // The line number only: the line itself may hold a password.
      Broken("Cannot read the registry file \"" + Path + "\", line " + std::to_string(Why.Line) + ": " + Why.Reason);
    }
    return !FBroken;
  }

  const std::string& Error() const { return FError; }

  TRegKey* FindKey(const std::string& Path) {
    auto It = FData.Keys.find(LowerCase(Path));
    return It == FData.Keys.end() ? nullptr : &It->second;
  }

  TRegKey& CreateKey(const std::string& Path) {
    if (CreateRegKey(FData.Keys, Path)) FDirty = true;
    return *FindKey(Path);
  }

  bool DeleteKey(const std::string& Path) {
    const std::string L = LowerCase(Path);
    bool Found = false;
    for (auto It = FData.Keys.begin(); It != FData.Keys.end();) {
      if (It->first == L || It->first.compare(0, L.size() + 1, L + "\\") == 0) {
        It = FData.Keys.erase(It);
        Found = true;
      } else {
        ++It;
      }
    }
    if (Found) FDirty = true;
    return Found;
  }

  std::vector<std::string> SubkeyNames(const std::string& Path) {
    std::vector<std::string> R;
    const std::string Prefix = Path.empty() ? std::string() : LowerCase(Path) + "\\";
    for (const auto& [L, K] : FData.Keys) {
      if (L.compare(0, Prefix.size(), Prefix) != 0 || L.size() == Prefix.size()) continue;
      const std::string Rest = K.Path.substr(Prefix.size());
      if (Rest.find('\\') == std::string::npos) R.push_back(Rest);
    }
    return R;
  }

  void MarkDirty() { FDirty = true; }

  // Writes the whole registry when it holds changes; a failed write keeps them pending
  // and answers false.
  bool Flush() {
    if (!FDirty || FBroken) return true;
    ForceDirectories(ConfigDir());
    // Private to the user: the relay list keeps its passwords as plain text.
    if (WriteFileAtomically(FPath, ExportRegistryText(FData), 0600)) FDirty = false;
    return !FDirty;
  }

  void Reset() {
    FData.Clear();
    FPath.clear();
    FError.clear();
    FDirty = false;
    FBroken = false;
  }

private:
  void Broken(std::string Why) {
    FData.Clear();
    FBroken = true;
    FError = std::move(Why);
  }

  TRegistryData FData;
  std::string FPath;
  std::string FError;
  bool FDirty = false;
  bool FBroken = false;
};

TStore& Store() {
  static TStore S;
  return S;
}

void Put(TRegKey& K, const std::string& Name, TRegDataType Type, std::string Bytes, int32_t Int) {
  TRegValue& V = K.Put(Name);
  V.Type = Type;
  V.Bytes = std::move(Bytes);
  V.Int = Int;
  V.KeptType.clear();
}
}  // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() { CloseKey(); }

std::string TRegistry::FileName() { return ConfigDir() + "registry.reg"; }

std::string TRegistry::ReadError() {
  std::lock_guard<std::mutex> G(Store().Lock);
  return Store().Error();
}

void TRegistry::ResetForTests() {
  std::lock_guard<std::mutex> G(Store().Lock);
  Store().Reset();
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate) {
  CloseKey();
  std::string Path = NormaliseRegPath(Key);
  if (Path.empty()) return false;
  TStore& S = Store();
  std::lock_guard<std::mutex> G(S.Lock);
  if (!S.Refresh()) return false;
  if (!S.FindKey(Path)) {
    if (!CanCreate) return false;
    S.CreateKey(Path);
  }
  FCurrentPath = S.FindKey(Path)->Path;
  FOpen = true;
  return true;
}

bool TRegistry::KeyExists(const std::string& Key) {
  TStore& S = Store();
  std::lock_guard<std::mutex> G(S.Lock);
  return S.Refresh() && S.FindKey(NormaliseRegPath(Key)) != nullptr;
}

bool TRegistry::DeleteKey(const std::string& Key) {
  TStore& S = Store();
  std::lock_guard<std::mutex> G(S.Lock);
  if (!S.Refresh()) return false;
  const bool Ok = S.DeleteKey(NormaliseRegPath(Key));
  S.Flush();
  return Ok;
}

bool TRegistry::CloseKey() {
  if (!FOpen) return true;
  FOpen = false;
  TStore& S = Store();
  std::lock_guard<std::mutex> G(S.Lock);
  return S.Flush();
}

#define QUILLON_OPEN_KEY_OR(failure)            \
  TStore& S = Store();                          \
  std::lock_guard<std::mutex> G(S.Lock);        \
  TRegKey* K = FOpen ? S.FindKey(FCurrentPath) : nullptr; \
  if (!K) failure;

bool TRegistry::ValueExists(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(return false)
  return K->Find(Name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(return TRegDataType::rdUnknown)
  const TRegValue* V = K->Find(Name);
  return V ? V->Type : TRegDataType::rdUnknown;
}

int32_t TRegistry::ReadInteger(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to get data for '" + Name + "'"))
  const TRegValue* V = K->Find(Name);
  if (!V) throw ERegistryException("Failed to get data for '" + Name + "'");
  if (V->Type != TRegDataType::rdInteger) throw ERegistryException("Invalid data type for '" + Name + "'");
  return V->Int;
}

std::string TRegistry::ReadString(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to get data for '" + Name + "'"))
  const TRegValue* V = K->Find(Name);
  if (!V) return std::string();
  if (V->Type != TRegDataType::rdString) throw ERegistryException("Invalid data type for '" + Name + "'");
  return V->Bytes;
}

std::string TRegistry::ReadBinaryData(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to get data for '" + Name + "'"))
  const TRegValue* V = K->Find(Name);
  if (!V) throw ERegistryException("Failed to get data for '" + Name + "'");
  if (V->Type != TRegDataType::rdBinary) throw ERegistryException("Invalid data type for '" + Name + "'");
  return V->Bytes;
}


void TRegistry::WriteInteger(const std::string& Name, int32_t Value) {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to set data for '" + Name + "'"))
  Put(*K, Name, TRegDataType::rdInteger, {}, Value);
  S.MarkDirty();
}

void TRegistry::WriteString(const std::string& Name, const std::string& Value) {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to set data for '" + Name + "'"))
  Put(*K, Name, TRegDataType::rdString, Value, 0);
  S.MarkDirty();
}

void TRegistry::WriteBinaryData(const std::string& Name, const std::string& Bytes) {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to set data for '" + Name + "'"))
  Put(*K, Name, TRegDataType::rdBinary, Bytes, 0);
  S.MarkDirty();
}

bool TRegistry::DeleteValue(const std::string& Name) {
  QUILLON_OPEN_KEY_OR(return false)
  if (!K->Erase(Name)) return false;
  S.MarkDirty();
  return true;
}

std::vector<std::string> TRegistry::GetKeyNames() const {
  QUILLON_OPEN_KEY_OR(return {})
  return S.SubkeyNames(K->Path);
}

std::vector<std::string> TRegistry::GetValueNames() const {
  QUILLON_OPEN_KEY_OR(return {})
  std::vector<std::string> R;
  for (const auto& V : K->Values()) R.push_back(V.Name);
  return R;
}
