#pragma once
// The attachment filter and the small MIME header reader it is built on. The reader knows a
// fixed set of types, subtypes, charsets and transfer encodings, folds only TAB-led
// continuation lines, and knows an attachment only by the "name" parameter of a part's
// Content-Type. The mail viewer's preview reads part headers with the same reader.
//
// All reading goes through one line cursor shared by the walk and the header readers; the
// last line of a message is never read.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using TMimeMainType = uint8_t;
constexpr TMimeMainType mtText = 0;
constexpr TMimeMainType mtImage = 1;
constexpr TMimeMainType mtAudio = 2;
constexpr TMimeMainType mtVideo = 3;
constexpr TMimeMainType mtApplication = 4;
constexpr TMimeMainType mtMultipart = 6;  // no type has the value 5
constexpr TMimeMainType mtOther = 7;

using TMimeSubType = uint8_t;
constexpr TMimeSubType stPlain = 0;  // under text
constexpr TMimeSubType stHtml = 1;
constexpr TMimeSubType stMixed = 2;  // under multipart
constexpr TMimeSubType stAlternative = 3;
constexpr TMimeSubType stOther = 4;

// The filter's charset codes; the viewer has a larger table of its own.
using TMimeCharset = uint8_t;
constexpr TMimeCharset csGB2312 = 0;
constexpr TMimeCharset csBig5 = 1;
constexpr TMimeCharset csOther = 4;
constexpr TMimeCharset csUSASCII = 5;

// A charset table: the code of a lower-cased charset name. An unknown name (the empty one
// too) gives the table's "other" code, which is also where a part header starts.
using TMimeCharsetMap = TMimeCharset (*)(const std::string& LowerName);
TMimeCharset FilterCharsetCode(const std::string& LowerName);

using TMimeEncoding = uint8_t;
constexpr TMimeEncoding meSevenBit = 0;
constexpr TMimeEncoding meEightBit = 1;
constexpr TMimeEncoding meBinary = 2;
constexpr TMimeEncoding meQuotedPrintable = 3;
constexpr TMimeEncoding meBase64 = 4;
constexpr TMimeEncoding meOther = 5;

constexpr size_t MaxMimeBoundary = 70;
constexpr size_t MaxMimeName = 255;

// The top-level header of a message.
struct TMimeHeader {
  TMimeMainType MainType = mtOther;
  TMimeSubType SubType = stOther;
  TMimeCharset Charset = csOther;
  std::string Boundary;  // at most 70 characters
};

// The header of one body part.
struct TMimePartHeader {
  TMimeMainType MainType = mtOther;
  TMimeSubType SubType = stOther;
  TMimeCharset Charset = csOther;
  std::string Name;  // Content-Type "name", at most 255 characters
  TMimeEncoding Encoding = meOther;
  std::string Boundary;  // at most 70 characters
};

using TMimeLines = std::vector<std::string>;

// Splits one parameter "name=value": both trimmed, every double quote removed from the
// value. Without "=" both are empty.
void SplitParam(const std::string& Text, std::string& Name, std::string& Value);

// The next field of the header at Cursor: its name (before the first ":", trimmed and
// lower-cased) and its value (trimmed, TAB-led continuation lines joined with one blank).
// Lines without ":" are skipped. False when the header ended: the empty line that ends it
// has been consumed, or the lines (but the last) ran out.
bool NextMimeHeaderField(const TMimeLines& Lines, int& Cursor, std::string& Name, std::string& Value);

// Calls Param for each ";"-separated parameter of Text, its name lower-cased (every ";"
// splits, also one inside quotes).
void ForEachMimeParam(const std::string& Text,
                      const std::function<void(const std::string& Name, const std::string& Value)>& Param);

// The transfer encoding a Content-Transfer-Encoding value names, compared exactly.
TMimeEncoding MimeEncodingCode(const std::string& Value);

// One Content-Type value into Part. The message reader (IsPart false) knows only the text
// and multipart main types and no "name" parameter.
void ApplyContentType(const std::string& Value, bool IsPart, TMimeCharsetMap Charsets, TMimePartHeader& Part);

// Reads the message header from line 0 (Cursor is set to 0 first) and leaves Cursor on the
// line after it.
void ParseMessageHeader(const TMimeLines& Lines, int& Cursor, TMimeHeader& Header);
// How a reader numbers charsets and what a part without a Content-Transfer-Encoding is.
struct TMimePartRules {
  TMimeCharsetMap Charsets = FilterCharsetCode;
  TMimeEncoding DefaultEncoding = meOther;
};

// Reads a part header from Cursor and leaves Cursor on the line after it.
void ParsePartHeader(const TMimeLines& Lines, int& Cursor, TMimePartHeader& Part,
                     const TMimePartRules& Rules = TMimePartRules());

// Called for each part of a multipart message that is not multipart itself, after its
// header was read (Cursor on the line after it). It may move Cursor on, up to the next
// line equal to Opening or Closing; false ends the walk.
using TMimePartVisitor = std::function<bool(const TMimePartHeader& Part, int& Cursor, const std::string& Opening,
                                            const std::string& Closing)>;
// The forward walk over the boundary lines of a multipart message from Cursor, with a stack
// of boundaries (a nested multipart part pushes its own). Ends at the outermost closing
// line or when the lines (but the last) run out: true, or false when OnPart ended it.
bool WalkMimeParts(const TMimeLines& Lines, int& Cursor, const std::string& Boundary, const TMimePartRules& Rules,
                   const TMimePartVisitor& OnPart);

// False when a part of a multipart message names a file whose extension is in BlockedExts
// (extensions without their dot, compared without case). Never raises on malformed input.
bool CheckAttachments(const TMimeLines& Lines, const std::vector<std::string>& BlockedExts);
