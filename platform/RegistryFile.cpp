#include "platform/RegistryFile.h"

#include <cstdio>

#include "platform/IniFile.h"

namespace {
const char* const RootName = "HKEY_CURRENT_USER";

std::string Escape(const std::string& S) {
  std::string R;
  R.reserve(S.size() + 2);
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

bool StartsWithNoCase(const std::string& S, const std::string& Prefix) {
  return S.size() >= Prefix.size() && SameText(S.substr(0, Prefix.size()), Prefix);
}

// "01,02, 03" -> bytes; false on anything but pairs of hexadecimal digits.
bool DecodeHexList(const std::string& List, std::string& Bytes) {
  Bytes.clear();
  int Hi = -1;
  for (char C : List) {
    if (C == ',' || C == ' ' || C == '\t') continue;
    const int D = HexDigit(C);
    if (D < 0) return false;
    if (Hi < 0) {
      Hi = D;
    } else {
      Bytes += static_cast<char>(Hi * 16 + D);
      Hi = -1;
    }
  }
  return Hi < 0;
}

void AppendHexList(std::string& Out, const std::string& Bytes) {
  static const char Digits[] = "0123456789abcdef";
  for (size_t I = 0; I < Bytes.size(); ++I) {
    if (I) Out += ',';
    const auto B = static_cast<unsigned char>(Bytes[I]);
    Out += Digits[B >> 4];
    Out += Digits[B & 15];
  }
}

// Length of a "hex(N)" tag at the start of Data (N: hexadecimal digits), 0 when there is none.
size_t HexTypeTagLength(const std::string& Data) {
  if (!StartsWithNoCase(Data, "hex(")) return 0;
  size_t I = 4;
  while (I < Data.size() && I < 12 && HexDigit(Data[I]) >= 0) ++I;
  if (I == 4 || I >= Data.size() || Data[I] != ')') return 0;
  return I + 1;
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
    Key.Erase(V.Name);
    return true;
  }
  if (!Data.empty() && Data[0] == '"') {
    size_t P = 0;
    if (!ReadQuoted(Data, P, V.Bytes) || P != Data.size()) return false;
    V.Type = TRegDataType::rdString;
  } else if (StartsWithNoCase(Data, "dword:")) {
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
  } else if (StartsWithNoCase(Data, "hex:")) {
    V.Type = TRegDataType::rdBinary;
    if (!DecodeHexList(Data.substr(4), V.Bytes)) return false;
  } else if (const size_t Tag = HexTypeTagLength(Data); Tag && Tag < Data.size() && Data[Tag] == ':') {
    if (!DecodeHexList(Data.substr(Tag + 1), V.Bytes)) return false;
    if (Data.compare(4, Tag - 5, "1") == 0) {
      // hex(1) is a REG_SZ given as bytes with its terminating zero: the form for texts
      // that hold line breaks.
      V.Type = TRegDataType::rdString;
      if (!V.Bytes.empty() && V.Bytes.back() == '\0') V.Bytes.pop_back();
    } else {
      V.KeptType = Data.substr(0, Tag);  // another program's type: kept as it is
    }
  } else {
    return false;
  }
  TRegValue& Slot = Key.Put(V.Name);
  Slot = std::move(V);
  return true;
}

// True for "HKEY_CURRENT_USER\path" with a path; Path is then the normalised path.
bool IsCurrentUserKey(const std::string& Name, std::string& Path) {
  const size_t RootLen = std::char_traits<char>::length(RootName);
  if (!StartsWithNoCase(Name, RootName) || Name.size() <= RootLen || Name[RootLen] != '\\') return false;
  Path = NormaliseRegPath(Name.substr(RootLen));
  return !Path.empty();
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
  const auto It = FIndex.find(LowerCase(Name));
  return It == FIndex.end() ? nullptr : &FValues[It->second];
}

const TRegValue* TRegKey::Find(const std::string& Name) const { return const_cast<TRegKey*>(this)->Find(Name); }

TRegValue& TRegKey::Put(const std::string& Name) {
  const auto [It, New] = FIndex.try_emplace(LowerCase(Name), FValues.size());
  if (New) {
    FValues.emplace_back();
    FValues.back().Name = Name;
  }
  return FValues[It->second];
}

bool TRegKey::Erase(const std::string& Name) {
  const auto It = FIndex.find(LowerCase(Name));
  if (It == FIndex.end()) return false;
  const size_t At = It->second;
  FIndex.erase(It);
  FValues.erase(FValues.begin() + static_cast<std::ptrdiff_t>(At));
  for (size_t I = At; I < FValues.size(); ++I) FIndex[LowerCase(FValues[I].Name)] = I;
  return true;
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

bool ParseRegistryText(const std::string& Text, TRegistryData& Data, TRegReadError* Error) {
  bool SeenHeader = false;
  TRegKey* Current = nullptr;
  bool InOtherSection = false;
  auto Fail = [&](int Line, const char* Reason) {
    if (Error) *Error = {Line, Reason};
    return false;
  };
  // One logical line, blanks around it removed (they are layout, never data: a text value
  // ends with its closing quote), starting at line No of the file.
  auto Take = [&](const std::string& L, int No) {
    if (L.empty()) return true;
    if (!SeenHeader) {
      SeenHeader = L == "REGEDIT4" || L == "Windows Registry Editor Version 5.00";
      return SeenHeader || Fail(No, "not a registry file");
    }
    if (L[0] == ';') return true;
    if (L[0] == '[') {
      if (L.back() != ']') return Fail(No, "a key name without its closing bracket");
      std::string Path;
      InOtherSection = !IsCurrentUserKey(L.substr(1, L.size() - 2), Path);
      if (InOtherSection) {
        Current = nullptr;
        Data.OtherSections.push_back(L);
      } else {
        CreateRegKey(Data.Keys, Path);
        Current = &Data.Keys[LowerCase(Path)];
      }
      return true;
    }
    if (InOtherSection) {
      Data.OtherSections.push_back(L);
      return true;
    }
    if (!Current) return Fail(No, "a value outside any key");
    return ParseValue(L, *Current) || Fail(No, "a value that cannot be read");
  };

  // Logical lines: CR LF or LF ends, a trailing "\" continues a hex list on the next line.
  // Blanks around a line are layout, so a "\" before trailing blanks still continues it.
  auto IsBlank = [](char C) { return C == ' ' || C == '\t'; };
  std::string Cur;
  bool CurHasHex = false;
  int LineNo = 0, CurLine = 0;
  size_t Pos = Text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (Pos <= Text.size()) {
    size_t End = Text.find('\n', Pos);
    if (End == std::string::npos) End = Text.size();
    size_t B = Pos, E = End;
    Pos = End + 1;
    ++LineNo;
    if (E > B && Text[E - 1] == '\r') --E;
    while (B < E && IsBlank(Text[B])) ++B;
    if (Cur.empty()) {
      CurLine = LineNo;
      CurHasHex = false;
    }
    // Only the joint and the new part can bring a first "hex" in: the scan stays linear.
    const size_t From = Cur.size() < 2 ? 0 : Cur.size() - 2;
    Cur.append(Text, B, E - B);
    while (!Cur.empty() && IsBlank(Cur.back())) Cur.pop_back();
    CurHasHex = CurHasHex || Cur.find("hex", From) != std::string::npos;
    if (!Cur.empty() && Cur.back() == '\\' && CurHasHex && Cur[0] != '[') {
      Cur.pop_back();
      if (Pos <= Text.size()) continue;
      // The text ends: there is nothing left to continue with.
      while (!Cur.empty() && (Cur.back() == '\\' || IsBlank(Cur.back()))) Cur.pop_back();
    }
    if (!Take(Cur, CurLine)) return false;
    Cur.clear();
  }
  return true;
}

std::string ExportRegistryText(const TRegistryData& Data) {
  std::string Out = "REGEDIT4\r\n";
  for (const auto& [L, K] : Data.Keys) {
    Out += "\r\n[" + std::string(RootName) + "\\" + K.Path + "]\r\n";
    for (const auto& V : K.Values()) {
      if (V.Name.empty()) {
        Out += '@';
      } else {
        Out += '"';
        Out += Escape(V.Name);
        Out += '"';
      }
      Out += '=';
      switch (V.Type) {
        case TRegDataType::rdString:
          if (V.Bytes.find_first_of("\r\n") == std::string::npos) {
            Out += '"';
            Out += Escape(V.Bytes);
            Out += '"';
          } else {
            // A line break inside quotes would end the line: write the text as bytes.
            Out += "hex(1):";
            AppendHexList(Out, V.Bytes + '\0');
          }
          break;
        case TRegDataType::rdInteger: {
          char Buf[16];
          std::snprintf(Buf, sizeof Buf, "dword:%08x", static_cast<uint32_t>(V.Int));
          Out += Buf;
          break;
        }
        default:
          Out += V.KeptType.empty() ? std::string("hex") : V.KeptType;
          Out += ':';
          AppendHexList(Out, V.Bytes);
          break;
      }
      Out += "\r\n";
    }
  }
  for (const auto& L : Data.OtherSections) {
    if (L[0] == '[') Out += "\r\n";
    Out += L;
    Out += "\r\n";
  }
  return Out;
}
