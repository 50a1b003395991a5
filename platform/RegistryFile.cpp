#include "platform/RegistryFile.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <cstdio>

namespace {
const char* const RootName = "HKEY_CURRENT_USER";

std::string Escape(const std::string& S) {
  std::string R;
  for (char C : S) {
    if (C == '\\' || C == '"') R += '\\';
    R += C;
  }
  return R;
}

// Reads a quoted text starting at Pos (on the opening quote); Pos ends after the closing one.
bool ReadQuoted(const std::string& L, size_t& Pos, std::string& Out) {
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

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

bool ParseValue(const std::string& Line, TRegKey& Key) {
  TRegValue V;
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
                                    [&](const TRegValue& X) { return LowerCase(X.Name) == LowerCase(V.Name); }),
                     Key.Values.end());
    return true;
  }
  if (!Data.empty() && Data[0] == '"') {
    size_t P = 0;
    if (!ReadQuoted(Data, P, V.Bytes) || P != Data.size()) return false;
    V.Type = TRegDataType::rdString;
  } else if (LowerCase(Data.substr(0, 6)) == "dword:") {
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
  } else if (LowerCase(Data.substr(0, 4)) == "hex:" || LowerCase(Data.substr(0, 7)) == "hex(1):") {
    // hex(1) is a REG_SZ given as bytes with its terminating zero: the form for texts
    // that hold line breaks.
    const bool Text = Data[3] == '(';
    V.Type = Text ? TRegDataType::rdString : TRegDataType::rdBinary;
    std::string Digits;
    for (char C : Data.substr(Text ? 7 : 4))
      if (C != ',' && C != ' ' && C != '\t') Digits += C;
    if (Digits.size() % 2) return false;
    for (size_t I = 0; I < Digits.size(); I += 2) {
      const int Hi = HexDigit(Digits[I]), Lo = HexDigit(Digits[I + 1]);
      if (Hi < 0 || Lo < 0) return false;
      V.Bytes += static_cast<char>(Hi * 16 + Lo);
    }
    if (Text && !V.Bytes.empty() && V.Bytes.back() == '\0') V.Bytes.pop_back();
  } else {
    return false;
  }
  if (TRegValue* Old = Key.Find(V.Name))
    *Old = std::move(V);
  else
    Key.Values.push_back(std::move(V));
  return true;
}

}  // namespace

std::string NormaliseRegPath(const std::string& Key) {
  std::string R;
  for (char C : Key) {
    if (C == '\\' && (R.empty() || R.back() == '\\')) continue;
    R += C;
  }
  while (!R.empty() && R.back() == '\\') R.pop_back();
  return R;
}

TRegValue* TRegKey::Find(const std::string& Name) {
  const std::string L = LowerCase(Name);
  for (auto& V : Values)
    if (LowerCase(V.Name) == L) return &V;
  return nullptr;
}

bool CreateRegKey(TRegKeyMap& Keys, const std::string& Path) {
  bool Created = false;
  size_t Pos = 0;
  for (;;) {
    Pos = Path.find('\\', Pos);
    const std::string Part = Pos == std::string::npos ? Path : Path.substr(0, Pos);
    if (!Part.empty()) {
      auto [It, New] = Keys.try_emplace(LowerCase(Part));
      if (New) {
        It->second.Path = Part;
        Created = true;
      }
    }
    if (Pos == std::string::npos) break;
    ++Pos;
  }
  return Created;
}

bool ParseRegistryText(const std::string& Text, TRegKeyMap& Keys) {
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
    // Blanks around a line are layout (an indented hand-written file), never data: a text
    // value ends with its closing quote.
    const size_t B = Cur.find_first_not_of(" \t"), E = Cur.find_last_not_of(" \t");
    Lines.push_back(B == std::string::npos ? std::string() : Cur.substr(B, E - B + 1));
    Cur.clear();
  }
  size_t I = 0;
  while (I < Lines.size() && Lines[I].find_first_not_of(" \t") == std::string::npos) ++I;
  if (I == Lines.size()) return true;  // an empty file is an empty registry
  if (Lines[I] != "REGEDIT4" && Lines[I] != "Windows Registry Editor Version 5.00") return false;
  TRegKey* Current = nullptr;
  for (++I; I < Lines.size(); ++I) {
    const std::string& L = Lines[I];
    if (L.find_first_not_of(" \t") == std::string::npos || L[0] == ';') continue;
    if (L[0] == '[') {
      if (L.back() != ']') return false;
      std::string Path = L.substr(1, L.size() - 2);
      const std::string Root = std::string(RootName);
      if (LowerCase(Path.substr(0, Root.size())) != LowerCase(Root)) return false;
      Path = NormaliseRegPath(Path.substr(Root.size()));
      if (Path.empty()) return false;
      CreateRegKey(Keys, Path);
        Current = &Keys[LowerCase(Path)];
      continue;
    }
    if (!Current || !ParseValue(L, *Current)) return false;
  }
  return true;
}

std::string ExportRegistryText(const TRegKeyMap& Keys) {
  std::string Out = "REGEDIT4\r\n";
  for (const auto& [L, K] : Keys) {
    Out += "\r\n[" + std::string(RootName) + "\\" + K.Path + "]\r\n";
    for (const auto& V : K.Values) {
      Out += V.Name.empty() ? std::string("@") : "\"" + Escape(V.Name) + "\"";
      Out += '=';
      char Buf[16];
      const bool MultiLine = V.Type == TRegDataType::rdString && V.Bytes.find_first_of("\r\n") != std::string::npos;
      switch (V.Type) {
        case TRegDataType::rdString:
          if (!MultiLine) {
            Out += "\"" + Escape(V.Bytes) + "\"";
            break;
          }
          // A line break inside quotes would end the line: write the text as bytes.
          Out += "hex(1):";
          for (unsigned char C : V.Bytes + '\0') {
            std::snprintf(Buf, sizeof Buf, Out.back() == ':' ? "%02x" : ",%02x", C);
            Out += Buf;
          }
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

