#include "ui/viewer/MailPreview.h"

#include <algorithm>

#include "engine/net/Base64.h"
#include "engine/store/MailData.h"
#include "engine/store/MailText.h"
#include "platform/HexDigit.h"

const char* const HtmlNotPreviewed = "Content is in HTML format that can't be previewed";

namespace {
constexpr size_t MaxPreviewHeader = 255;

// Lines as the class library splits a text: at CR LF, a lone LF or a lone CR; a line end at
// the very end opens no further line.
TMimeLines SplitLines(const std::string& Text) {
  TMimeLines Lines;
  size_t Start = 0;
  while (Start < Text.size()) {
    const size_t End = Text.find_first_of("\r\n", Start);
    if (End == std::string::npos) {
      Lines.push_back(Text.substr(Start));
      break;
    }
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + (Text[End] == '\r' && End + 1 < Text.size() && Text[End + 1] == '\n' ? 2 : 1);
  }
  return Lines;
}

// Lines [From, To) joined, each ended by CR LF.
std::string JoinLines(const TMimeLines& Lines, size_t From, size_t To) {
  std::string Text;
  for (size_t I = From; I < To && I < Lines.size(); ++I) Text.append(Lines[I]).append("\r\n");
  return Text;
}

// Text by its transfer encoding into Out; false, Out untouched, for binary and unknown
// encodings. A multipart mail's parts take 7bit and 8bit text through quoted-printable
// decoding as well (QuotePlain).
bool DecodeTransfer(TMimeEncoding Encoding, bool QuotePlain, const std::string& Text, std::string& Out) {
  switch (Encoding) {
    case meSevenBit:
    case meEightBit:
      Out = QuotePlain ? DecodeQuotedPrintable(Text) : Text;
      return true;
    case meQuotedPrintable:
      Out = DecodeQuotedPrintable(Text);
      return true;
    case meBase64:
      Out = DecodeBase64Lines(Text);
      return true;
    default:
      return false;
  }
}

// The charsets that are converted; every other text is shown as it is.
void ConvertCharset(TMimeCharset Charset, std::string& Body) {
  switch (Charset) {
    case vcISO2022JP:
      CharsetToUTF8("ISO-2022-JP", Body, Body);
      break;
    case vcUTF8:
      Body = UTF8ToAnsi(Body);
      std::erase(Body, '\0');
      break;
    // Texts marked GB2312 often use the rest of GBK, which is a superset of it.
    case vcGB2312:
      CharsetToUTF8("GBK", Body, Body);
      break;
    case vcBig5:
      CharsetToUTF8("BIG5", Body, Body);
      break;
    default:
      break;
  }
}

// A header value decoded for display. A malformed encoded word leaves the value as written
// rather than losing the whole preview.
std::string DisplayHeader(const std::string& Value) {
  std::string Decoded;
  try {
    Decoded = DecodeHeader(Value);
  } catch (const std::exception&) {
    Decoded = Value;
  }
  return CutText(Decoded, MaxPreviewHeader);
}
}  // namespace

TMimeCharset ViewerCharsetCode(const std::string& V) {
  if (V == "gb2312") return vcGB2312;
  if (V == "big5") return vcBig5;
  if (V == "us-ascii") return vcUSASCII;
  if (V == "iso-2022-jp") return vcISO2022JP;
  if (V == "utf-8") return vcUTF8;
  return vcOther;
}

void ParsePreviewHeader(const TMimeLines& Lines, int& Cursor, TPreviewHeader& Header) {
  Cursor = 0;
  Header = TPreviewHeader();
  TMimePartHeader Type;
  Type.MainType = Header.MainType;
  Type.SubType = Header.SubType;
  Type.Charset = Header.Charset;
  std::string Name, Value;
  while (NextMimeHeaderField(Lines, Cursor, Name, Value)) {
    if (Name == "content-type")
      ApplyContentType(Value, false, ViewerCharsetCode, Type);
    else if (Name == "content-transfer-encoding")
      Header.Encoding = MimeEncodingCode(Value);
    else if (Name == "from")
      Header.From = DisplayHeader(Value);
    else if (Name == "to")
      Header.To = DisplayHeader(Value);
    else if (Name == "subject")
      Header.Subject = DisplayHeader(Value);
  }
  Header.MainType = Type.MainType;
  Header.SubType = Type.SubType;
  Header.Charset = Type.Charset;
  Header.Boundary = Type.Boundary;
}

bool ParseMailPreview(const std::string& Text, TMailContent& Content) {
  Content = TMailContent();
  const TMimeLines Lines = SplitLines(Text);
  int Cursor = 0;
  TPreviewHeader Header;
  ParsePreviewHeader(Lines, Cursor, Header);
  if (Header.From.empty() && Header.To.empty() && Header.Subject.empty()) return false;
  Content.From = Header.From;
  Content.To = Header.To;
  Content.Subject = Header.Subject;

  if (Header.MainType != mtMultipart) {
    if (Header.MainType != mtText) return true;
    if (Header.SubType != stPlain) {
      Content.Body = HtmlNotPreviewed;
      return true;
    }
    DecodeTransfer(Header.Encoding, false, JoinLines(Lines, static_cast<size_t>(Cursor), Lines.size()), Content.Body);
    ConvertCharset(Header.Charset, Content.Body);
    return true;
  }

  // Of the text parts, the last one before the walk ends is shown. A part that names no
  // transfer encoding is 7bit, as for the message itself.
  WalkMimeParts(Lines, Cursor, Header.Boundary, TMimePartRules{ViewerCharsetCode, meSevenBit},
                [&](const TMimePartHeader& Part, int& At, const std::string& Opening, const std::string& Closing) {
                  if (Part.MainType != mtText || Part.SubType != stPlain || !Part.Name.empty()) return true;
                  const size_t First = static_cast<size_t>(At);
                  // The line after the part header is taken whatever it holds.
                  size_t End = std::min(First + 1, Lines.size());
                  while (End < Lines.size() && Lines[End] != Opening && Lines[End] != Closing) ++End;
                  At = static_cast<int>(End);
                  if (DecodeTransfer(Part.Encoding, true, JoinLines(Lines, First, End), Content.Body))
                    ConvertCharset(Part.Charset, Content.Body);
                  return true;
                });
  return true;
}

std::string DecodeQuotedPrintable(const std::string& Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] != '=' || I + 2 >= Text.size()) {
      Out += Text[I];
      continue;
    }
    const char A = Text[I + 1], B = Text[I + 2];
    I += 2;
    if (A == '\r' && B == '\n') continue;  // soft line break
    const int Hi = HexDigitValue(A), Lo = HexDigitValue(B);
    if (Hi >= 0 && Lo >= 0)
      Out += static_cast<char>(Hi * 16 + Lo);
    else
      Out.append(1, '=').append(1, A).append(1, B);
  }
  return Out;
}

std::string DecodeBase64Lines(const std::string& Text) {
  std::string Out;
  for (const std::string& Line : SplitLines(Text)) {
    try {
      Out += DecodeBase64(Line);
    } catch (const std::exception&) {
    }
  }
  return Out;
}
