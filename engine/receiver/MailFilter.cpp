#include "engine/receiver/MailFilter.h"

#include "platform/IniFile.h"

namespace {
// The last line is never read: the walk and the readers stop before it.
bool CanRead(const TMimeLines& Lines, int Cursor) { return Cursor < static_cast<int>(Lines.size()) - 1; }

void ReadHeader(const TMimeLines& Lines, int& Cursor, bool IsPart, TMimeCharsetMap Charsets, TMimePartHeader& Part) {
  std::string Name, Value;
  while (NextMimeHeaderField(Lines, Cursor, Name, Value)) {
    if (Name == "content-type")
      ApplyContentType(Value, IsPart, Charsets, Part);
    else if (IsPart && Name == "content-transfer-encoding")
      Part.Encoding = MimeEncodingCode(Value);
  }
}

// The extension of a file name without its dot, lower-cased; empty when there is none.
std::string NameExtension(const std::string& Name) {
  const size_t Dot = Name.rfind('.');
  if (Dot == std::string::npos) return std::string();
  const std::string Ext = Name.substr(Dot + 1);
  if (Ext.find_first_of("\\:") != std::string::npos) return std::string();
  return LowerCase(Ext);
}

bool IsBlocked(const std::string& Ext, const std::vector<std::string>& BlockedExts) {
  for (const auto& B : BlockedExts)
    if (SameText(B, Ext)) return true;
  return false;
}
}  // namespace

TMimeCharset FilterCharsetCode(const std::string& V) {
  if (V == "gb2312") return csGB2312;
  if (V == "big5") return csBig5;
  if (V == "us-ascii") return csUSASCII;
  return csOther;
}

TMimeEncoding MimeEncodingCode(const std::string& V) {
  // Compared exactly: "Base64" is not known.
  if (V == "7bit") return meSevenBit;
  if (V == "8bit") return meEightBit;
  if (V == "binary") return meBinary;
  if (V == "quoted-printable") return meQuotedPrintable;
  if (V == "base64") return meBase64;
  return meOther;
}

void ApplyContentType(const std::string& Value, bool IsPart, TMimeCharsetMap Charsets, TMimePartHeader& Part) {
  const size_t Slash = Value.find('/');
  if (Slash == std::string::npos) return;
  const std::string Main = LowerCase(Value.substr(0, Slash));
  std::string Rest = Value.substr(Slash + 1);
  if (Main == "text")
    Part.MainType = mtText;
  else if (Main == "multipart")
    Part.MainType = mtMultipart;
  else if (IsPart && Main == "image")
    Part.MainType = mtImage;
  else if (IsPart && Main == "audio")
    Part.MainType = mtAudio;
  else if (IsPart && Main == "video")
    Part.MainType = mtVideo;
  else if (IsPart && Main == "application")
    Part.MainType = mtApplication;
  else
    Part.MainType = mtOther;
  if (Part.MainType == mtOther) return;

  const size_t Semi = Rest.find(';');
  if (Semi == std::string::npos) return;
  const std::string Sub = LowerCase(Rest.substr(0, Semi));
  if (Part.MainType == mtText)
    Part.SubType = Sub == "plain" ? stPlain : Sub == "html" ? stHtml : stOther;
  else if (Part.MainType == mtMultipart)
    Part.SubType = Sub == "mixed" ? stMixed : Sub == "alternative" ? stAlternative : stOther;

  ForEachMimeParam(Rest.substr(Semi + 1), [&](const std::string& Name, const std::string& V) {
    if (Name == "charset")
      Part.Charset = Charsets(LowerCase(V));
    else if (Name == "boundary")
      Part.Boundary = V.substr(0, MaxMimeBoundary);
    else if (IsPart && Name == "name")
      Part.Name = V.substr(0, MaxMimeName);
  });
}

void SplitParam(const std::string& Text, std::string& Name, std::string& Value) {
  const size_t Eq = Text.find('=');
  if (Eq == std::string::npos) {
    Name.clear();
    Value.clear();
    return;
  }
  Name = Trim(Text.substr(0, Eq));
  Value.clear();
  for (char C : Trim(Text.substr(Eq + 1)))
    if (C != '"') Value += C;
}

bool NextMimeHeaderField(const TMimeLines& Lines, int& Cursor, std::string& Name, std::string& Value) {
  while (CanRead(Lines, Cursor)) {
    const std::string& Line = Lines[static_cast<size_t>(Cursor++)];
    if (Line.empty()) return false;
    const size_t Colon = Line.find(':');
    if (Colon == std::string::npos) continue;
    Name = LowerCase(Trim(Line.substr(0, Colon)));
    Value = Trim(Line.substr(Colon + 1));
    while (CanRead(Lines, Cursor)) {
      const std::string& Next = Lines[static_cast<size_t>(Cursor)];
      if (Next.empty() || Next[0] != '\t') break;
      Value += " " + Trim(Next.substr(1));
      ++Cursor;
    }
    return true;
  }
  return false;
}

void ForEachMimeParam(const std::string& Text,
                      const std::function<void(const std::string& Name, const std::string& Value)>& Param) {
  size_t Pos = 0;
  for (;;) {
    // Stop when only blanks are left (scanning them once: they belong to the next parameter).
    size_t First = Pos;
    while (First < Text.size() && static_cast<unsigned char>(Text[First]) <= 32) ++First;
    if (First >= Text.size()) break;
    const size_t Semi = Text.find(';', Pos);
    const std::string P = Text.substr(Pos, Semi == std::string::npos ? std::string::npos : Semi - Pos);
    Pos = Semi == std::string::npos ? Text.size() : Semi + 1;
    std::string Name, Value;
    SplitParam(P, Name, Value);
    Param(LowerCase(Name), Value);
  }
}

void ParseMessageHeader(const TMimeLines& Lines, int& Cursor, TMimeHeader& Header) {
  Cursor = 0;
  TMimePartHeader P;
  ReadHeader(Lines, Cursor, false, FilterCharsetCode, P);
  Header = TMimeHeader();
  Header.MainType = P.MainType;
  Header.SubType = P.SubType;
  Header.Charset = P.Charset;
  Header.Boundary = P.Boundary;
}

void ParsePartHeader(const TMimeLines& Lines, int& Cursor, TMimePartHeader& Part, const TMimePartRules& Rules) {
  Part = TMimePartHeader();
  Part.Charset = Rules.Charsets(std::string());
  Part.Encoding = Rules.DefaultEncoding;
  ReadHeader(Lines, Cursor, true, Rules.Charsets, Part);
}

bool WalkMimeParts(const TMimeLines& Lines, int& Cursor, const std::string& Boundary, const TMimePartRules& Rules,
                   const TMimePartVisitor& OnPart) {
  std::vector<std::string> Boundaries{Boundary};
  std::string Opening = "--" + Boundary, Closing = Opening + "--";
  while (CanRead(Lines, Cursor)) {
    const std::string& Line = Lines[static_cast<size_t>(Cursor++)];
    if (Line.compare(0, 2, "--") != 0) continue;
    if (Line == Opening) {
      TMimePartHeader Part;
      ParsePartHeader(Lines, Cursor, Part, Rules);
      if (Part.MainType == mtMultipart) {
        Boundaries.push_back(Part.Boundary);
        Opening = "--" + Part.Boundary;
        Closing = Opening + "--";
      } else if (!OnPart(Part, Cursor, Opening, Closing)) {
        return false;
      }
    } else if (Line == Closing) {
      Boundaries.pop_back();
      if (Boundaries.empty()) return true;
      Opening = "--" + Boundaries.back();
      Closing = Opening + "--";
    }
  }
  return true;
}

bool CheckAttachments(const TMimeLines& Lines, const std::vector<std::string>& BlockedExts) {
  int Cursor = 0;
  TMimeHeader Header;
  ParseMessageHeader(Lines, Cursor, Header);
  if (Header.MainType != mtMultipart) return true;
  return WalkMimeParts(Lines, Cursor, Header.Boundary, TMimePartRules(),
                       [&](const TMimePartHeader& Part, int&, const std::string&, const std::string&) {
                         if (Part.Name.empty()) return true;
                         const std::string Ext = NameExtension(Part.Name);
                         return Ext.empty() || !IsBlocked(Ext, BlockedExts);
                       });
}
