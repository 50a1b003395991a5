#include "platform/Registry.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

namespace {
const char* const RootName = "HKEY_CURRENT_USER";

std::string Lower(std::string S) {
  for (char& C : S)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C + 32);
  return S;
}

// "\a\\b\" -> "a\b"
std::string NormalisePath(const std::string& Key) {
  std::string R;
  for (char C : Key) {
    if (C == '\\' && (R.empty() || R.back() == '\\')) continue;
    R += C;
  }
  while (!R.empty() && R.back() == '\\') R.pop_back();
  return R;
}

struct TValue {
  std::string Name;
  TRegDataType Type = TRegDataType::rdUnknown;
  std::string Bytes;  // REG_SZ text or REG_BINARY bytes
  int32_t Int = 0;
};

struct TKey {
  std::string Path;  // as first written
  std::vector<TValue> Values;

  TValue* Find(const std::string& Name) {
    for (auto& V : Values)
      if (Lower(V.Name) == Lower(Name)) return &V;
    return nullptr;
  }
};

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
    }
    if (FBroken) return false;
    if (FDirty) return true;
    FKeys.clear();
    struct stat St;
    if (::stat(Path.c_str(), &St) != 0) return true;  // no file yet: an empty registry
    std::ifstream In(Path, std::ios::binary);
    if (!S_ISREG(St.st_mode) || !In) {
      FBroken = true;  // there, but unreadable
      return false;
    }
    std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    if (In.bad() || !Parse(Text)) {
      FKeys.clear();
      FBroken = true;
    }
    return !FBroken;
  }

  TKey* FindKey(const std::string& Path) {
    auto It = FKeys.find(Lower(Path));
    return It == FKeys.end() ? nullptr : &It->second;
  }

  TKey& CreateKey(const std::string& Path) {
    // Parents exist whenever a child does.
    size_t Pos = 0;
    for (;;) {
      Pos = Path.find('\\', Pos);
      const std::string Part = Pos == std::string::npos ? Path : Path.substr(0, Pos);
      if (!Part.empty() && !FindKey(Part)) {
        FKeys[Lower(Part)].Path = Part;
        FDirty = true;
      }
      if (Pos == std::string::npos) break;
      ++Pos;
    }
    return *FindKey(Path);
  }

  bool DeleteKey(const std::string& Path) {
    const std::string L = Lower(Path);
    bool Found = false;
    for (auto It = FKeys.begin(); It != FKeys.end();) {
      if (It->first == L || It->first.compare(0, L.size() + 1, L + "\\") == 0) {
        It = FKeys.erase(It);
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
    const std::string Prefix = Path.empty() ? std::string() : Lower(Path) + "\\";
    for (const auto& [L, K] : FKeys) {
      if (L.compare(0, Prefix.size(), Prefix) != 0 || L.size() == Prefix.size()) continue;
      const std::string Rest = K.Path.substr(Prefix.size());
      if (Rest.find('\\') == std::string::npos) R.push_back(Rest);
    }
    return R;
  }

  void MarkDirty() { FDirty = true; }

  // Writes the whole registry when it holds changes; a failed write keeps them pending.
  void Flush() {
    if (!FDirty || FBroken) return;
    ForceDirectories(ConfigDir());
    if (WriteFileAtomically(FPath, Export())) FDirty = false;
  }

  void Reset() {
    FKeys.clear();
    FPath.clear();
    FDirty = false;
    FBroken = false;
  }

private:
  static std::string Escape(const std::string& S) {
    std::string R;
    for (char C : S) {
      if (C == '\\' || C == '"') R += '\\';
      R += C;
    }
    return R;
  }

  std::string Export() const {
    std::string Out = "REGEDIT4\r\n";
    for (const auto& [L, K] : FKeys) {
      Out += "\r\n[" + std::string(RootName) + "\\" + K.Path + "]\r\n";
      for (const auto& V : K.Values) {
        Out += V.Name.empty() ? std::string("@") : "\"" + Escape(V.Name) + "\"";
        Out += '=';
        char Buf[16];
        switch (V.Type) {
          case TRegDataType::rdString:
            Out += "\"" + Escape(V.Bytes) + "\"";
            break;
          case TRegDataType::rdInteger:
            std::snprintf(Buf, sizeof Buf, "dword:%08x", static_cast<uint32_t>(V.Int));
            Out += Buf;
            break;
          default:
            Out += "hex:";
            for (size_t I = 0; I < V.Bytes.size(); ++I) {
              std::snprintf(Buf, sizeof Buf, I ? ",%02x" : "%02x", static_cast<unsigned char>(V.Bytes[I]));
              Out += Buf;
            }
            break;
        }
        Out += "\r\n";
      }
    }
    return Out;
  }

  // Reads a quoted text starting at Pos (on the opening quote); Pos ends after the closing one.
  static bool ReadQuoted(const std::string& L, size_t& Pos, std::string& Out) {
    if (Pos >= L.size() || L[Pos] != '"') return false;
    ++Pos;
    Out.clear();
    while (Pos < L.size()) {
      char C = L[Pos++];
      if (C == '"') return true;
      if (C == '\\') {
        if (Pos >= L.size()) return false;
        C = L[Pos++];
      }
      Out += C;
    }
    return false;
  }

  static int HexDigit(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
  }

  bool ParseValue(const std::string& Line, TKey& Key) {
    TValue V;
    size_t Pos = 0;
    if (Line[0] == '@') {
      Pos = 1;
    } else if (!ReadQuoted(Line, Pos, V.Name)) {
      return false;
    }
    if (Pos >= Line.size() || Line[Pos] != '=') return false;
    const std::string Data = Line.substr(Pos + 1);
    if (Data == "-") {  // deletion mark of the export format
      Key.Values.erase(std::remove_if(Key.Values.begin(), Key.Values.end(),
                                      [&](const TValue& X) { return Lower(X.Name) == Lower(V.Name); }),
                       Key.Values.end());
      return true;
    }
    if (!Data.empty() && Data[0] == '"') {
      size_t P = 0;
      if (!ReadQuoted(Data, P, V.Bytes) || P != Data.size()) return false;
      V.Type = TRegDataType::rdString;
    } else if (Lower(Data.substr(0, 6)) == "dword:") {
      const std::string Digits = Data.substr(6);
      if (Digits.empty() || Digits.size() > 8) return false;
      uint32_t N = 0;
      for (char C : Digits) {
        const int D = HexDigit(C);
        if (D < 0) return false;
        N = N * 16 + static_cast<uint32_t>(D);
      }
      V.Type = TRegDataType::rdInteger;
      V.Int = static_cast<int32_t>(N);
    } else if (Lower(Data.substr(0, 4)) == "hex:") {
      V.Type = TRegDataType::rdBinary;
      std::string Digits;
      for (char C : Data.substr(4))
        if (C != ',' && C != ' ' && C != '\t') Digits += C;
      if (Digits.size() % 2) return false;
      for (size_t I = 0; I < Digits.size(); I += 2) {
        const int Hi = HexDigit(Digits[I]), Lo = HexDigit(Digits[I + 1]);
        if (Hi < 0 || Lo < 0) return false;
        V.Bytes += static_cast<char>(Hi * 16 + Lo);
      }
    } else {
      return false;
    }
    if (TValue* Old = Key.Find(V.Name))
      *Old = std::move(V);
    else
      Key.Values.push_back(std::move(V));
    return true;
  }

  bool Parse(const std::string& Text) {
    // Logical lines: CR LF or LF ends, a trailing "\" continues a hex list on the next line.
    std::vector<std::string> Lines;
    std::string Cur;
    size_t Pos = Text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (Pos <= Text.size()) {
      size_t End = Text.find('\n', Pos);
      if (End == std::string::npos) End = Text.size();
      std::string Line = Text.substr(Pos, End - Pos);
      Pos = End + 1;
      if (!Line.empty() && Line.back() == '\r') Line.pop_back();
      if (!Cur.empty()) {
        size_t B = Line.find_first_not_of(" \t");
        Line = B == std::string::npos ? std::string() : Line.substr(B);
      }
      Cur += Line;
      if (!Cur.empty() && Cur.back() == '\\' && Cur.find("hex") != std::string::npos && Cur[0] != '[') {
        Cur.pop_back();
        continue;
      }
      Lines.push_back(Cur);
      Cur.clear();
    }
    size_t I = 0;
    while (I < Lines.size() && Lines[I].find_first_not_of(" \t") == std::string::npos) ++I;
    if (I == Lines.size()) return true;  // an empty file is an empty registry
    if (Lines[I] != "REGEDIT4" && Lines[I] != "Windows Registry Editor Version 5.00") return false;
    TKey* Current = nullptr;
    for (++I; I < Lines.size(); ++I) {
      const std::string& L = Lines[I];
      if (L.find_first_not_of(" \t") == std::string::npos || L[0] == ';') continue;
      if (L[0] == '[') {
        if (L.back() != ']') return false;
        std::string Path = L.substr(1, L.size() - 2);
        const std::string Root = std::string(RootName);
        if (Lower(Path.substr(0, Root.size())) != Lower(Root)) return false;
        Path = NormalisePath(Path.substr(Root.size()));
        if (Path.empty()) return false;
        Current = &CreateKey(Path);
        continue;
      }
      if (!Current || !ParseValue(L, *Current)) return false;
    }
    FDirty = false;
    return true;
  }

  std::map<std::string, TKey> FKeys;  // by lower-cased path
  std::string FPath;
  bool FDirty = false;
  bool FBroken = false;
};

TStore& Store() {
  static TStore S;
  return S;
}
}  // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() { CloseKey(); }

std::string TRegistry::FileName() { return ConfigDir() + "registry.reg"; }

void TRegistry::ResetForTests() {
  std::lock_guard<std::mutex> G(Store().Lock);
  Store().Reset();
}

bool TRegistry::OpenKey(const std::string& Key, bool CanCreate) {
  CloseKey();
  std::string Path = NormalisePath(Key);
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
  return S.Refresh() && S.FindKey(NormalisePath(Key)) != nullptr;
}

bool TRegistry::DeleteKey(const std::string& Key) {
  TStore& S = Store();
  std::lock_guard<std::mutex> G(S.Lock);
  if (!S.Refresh()) return false;
  const bool Ok = S.DeleteKey(NormalisePath(Key));
  S.Flush();
  return Ok;
}

void TRegistry::CloseKey() {
  if (!FOpen) return;
  FOpen = false;
  TStore& S = Store();
  std::lock_guard<std::mutex> G(S.Lock);
  S.Flush();
}

#define QUILLON_OPEN_KEY_OR(failure)            \
  TStore& S = Store();                          \
  std::lock_guard<std::mutex> G(S.Lock);        \
  TKey* K = FOpen ? S.FindKey(FCurrentPath) : nullptr; \
  if (!K) failure;

bool TRegistry::ValueExists(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(return false)
  return K->Find(Name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(return TRegDataType::rdUnknown)
  const TValue* V = K->Find(Name);
  return V ? V->Type : TRegDataType::rdUnknown;
}

int32_t TRegistry::ReadInteger(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to get data for '" + Name + "'"))
  const TValue* V = K->Find(Name);
  if (!V) throw ERegistryException("Failed to get data for '" + Name + "'");
  if (V->Type != TRegDataType::rdInteger) throw ERegistryException("Invalid data type for '" + Name + "'");
  return V->Int;
}

std::string TRegistry::ReadString(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to get data for '" + Name + "'"))
  const TValue* V = K->Find(Name);
  if (!V) return std::string();
  if (V->Type != TRegDataType::rdString) throw ERegistryException("Invalid data type for '" + Name + "'");
  return V->Bytes;
}

std::string TRegistry::ReadBinaryData(const std::string& Name) const {
  QUILLON_OPEN_KEY_OR(throw ERegistryException("Failed to get data for '" + Name + "'"))
  const TValue* V = K->Find(Name);
  if (!V) throw ERegistryException("Failed to get data for '" + Name + "'");
  if (V->Type != TRegDataType::rdBinary) throw ERegistryException("Invalid data type for '" + Name + "'");
  return V->Bytes;
}

namespace {
void Put(TKey& K, const std::string& Name, TRegDataType Type, std::string Bytes, int32_t Int) {
  TValue* V = K.Find(Name);
  if (!V) {
    K.Values.push_back({Name, Type, {}, 0});
    V = &K.Values.back();
  }
  V->Type = Type;
  V->Bytes = std::move(Bytes);
  V->Int = Int;
}
}  // namespace

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
  const auto Before = K->Values.size();
  K->Values.erase(std::remove_if(K->Values.begin(), K->Values.end(),
                                 [&](const TValue& V) { return Lower(V.Name) == Lower(Name); }),
                  K->Values.end());
  if (K->Values.size() == Before) return false;
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
  for (const auto& V : K->Values) R.push_back(V.Name);
  return R;
}
