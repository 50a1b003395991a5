#pragma once
// The mail viewer's preview: sender, recipient, subject and the one readable text of a
// message. Built on the attachment filter's MIME header reader, with the headers a reader
// wants, a larger charset table, transfer-encoding decoding and charset conversion. The
// result is UTF-8 text. No Qt here: the window only shows what this returns.
#include <string>

#include "engine/receiver/MailFilter.h"

// The viewer's charset codes (top-level and part headers alike).
constexpr TMimeCharset vcGB2312 = 0;
constexpr TMimeCharset vcBig5 = 1;
constexpr TMimeCharset vcUSASCII = 2;
constexpr TMimeCharset vcISO2022JP = 3;
constexpr TMimeCharset vcOther = 5;
constexpr TMimeCharset vcUTF8 = 6;

TMimeCharset ViewerCharsetCode(const std::string& LowerName);

struct TMailContent {
  std::string From;
  std::string To;
  std::string Subject;
  std::string Body;
};

// The top-level header as the preview reads it: without a Content-Type a message is
// text/plain in 7bit.
struct TPreviewHeader {
  TMimeMainType MainType = mtText;
  TMimeSubType SubType = stPlain;
  TMimeCharset Charset = vcOther;
  TMimeEncoding Encoding = meSevenBit;
  std::string Boundary;  // at most 70 characters
  std::string From;      // decoded, at most 255 characters each
  std::string To;
  std::string Subject;
};

// The body text of a text/html (or other non-plain) single-part message.
extern const char* const HtmlNotPreviewed;

// False when the message has no From, To and Subject header (no preview).
bool ParseMailPreview(const std::string& Text, TMailContent& Content);
// Reads the top-level header from line 0 and leaves Cursor on the line after it.
void ParsePreviewHeader(const TMimeLines& Lines, int& Cursor, TPreviewHeader& Header);

// "=XX" escapes and soft line breaks; a bad pair stays as written.
std::string DecodeQuotedPrintable(const std::string& Text);
// Each line decoded on its own and the pieces appended; a line that does not decode is left out.
std::string DecodeBase64Lines(const std::string& Text);
