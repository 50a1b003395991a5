#include <gtest/gtest.h>

#include "engine/receiver/MailFilter.h"

namespace {
const std::vector<std::string> Blocked = {"exe", "COM", "vbs"};

// A multipart/mixed message with boundary "B" around the given part lines.
TMimeLines Mixed(const TMimeLines& Parts, const std::string& Last = "trailer") {
  TMimeLines L = {"From: a@b.c", "Content-Type: multipart/mixed; boundary=\"B\"", "", "preamble"};
  L.insert(L.end(), Parts.begin(), Parts.end());
  L.push_back(Last);
  return L;
}

struct TCase {
  const char* What;
  TMimeLines Lines;
  bool Allowed;
};
}  // namespace

TEST(MailFilter, SplitParam) {
  std::string N, V;
  SplitParam("  Name = \"a\"b\"c\"  ", N, V);
  EXPECT_EQ("Name", N);
  EXPECT_EQ("abc", V);
  SplitParam("x=y=z", N, V);
  EXPECT_EQ("x", N);
  EXPECT_EQ("y=z", V);
  SplitParam("novalue", N, V);
  EXPECT_EQ("", N);
  EXPECT_EQ("", V);
}

TEST(MailFilter, MessageHeader) {
  int Cursor = 7;
  TMimeHeader H;
  // Second Content-Type wins; the part-only types are "other" here; the cursor ends after the blank line.
  TMimeLines L = {"Subject: x", "CONTENT-TYPE : Text/HTML; Charset=\"GB2312\"", "", "body", "last"};
  ParseMessageHeader(L, Cursor, H);
  EXPECT_EQ(3, Cursor);
  EXPECT_EQ(mtText, H.MainType);
  EXPECT_EQ(stHtml, H.SubType);
  EXPECT_EQ(csGB2312, H.Charset);

  L = {"Content-Type: multipart/alternative; boundary=abc", "Content-Type: image/png; name=x", "", "x"};
  ParseMessageHeader(L, Cursor, H);
  EXPECT_EQ(mtOther, H.MainType);
  EXPECT_EQ(stAlternative, H.SubType);  // kept from the first line
  EXPECT_EQ("abc", H.Boundary);

  // text/plain without parameters leaves the subtype "other"; a value without "/" is ignored.
  L = {"Content-Type: text/plain", "Content-Type: garbage", "", "x"};
  ParseMessageHeader(L, Cursor, H);
  EXPECT_EQ(mtText, H.MainType);
  EXPECT_EQ(stOther, H.SubType);

  // A boundary is cut to 70 characters; a header that never ends stops before the last line.
  L = {"Content-Type: multipart/mixed; boundary=" + std::string(80, 'q'), "X: 1", "Content-Type: text/plain;"};
  ParseMessageHeader(L, Cursor, H);
  EXPECT_EQ(std::string(70, 'q'), H.Boundary);
  EXPECT_EQ(mtMultipart, H.MainType);
  EXPECT_EQ(2, Cursor);
}

TEST(MailFilter, PartHeader) {
  TMimeLines L = {"x", "--B", "Content-Type: application/octet-stream;", "\tname=\"report.EXE\"; charset=us-ascii",
                  "Content-Transfer-Encoding:  base64 ", "", "AAAA", "--B--"};
  int Cursor = 2;
  TMimePartHeader P;
  ParsePartHeader(L, Cursor, P);
  EXPECT_EQ(6, Cursor);
  EXPECT_EQ(mtApplication, P.MainType);
  EXPECT_EQ(stOther, P.SubType);
  EXPECT_EQ(csUSASCII, P.Charset);
  EXPECT_EQ("report.EXE", P.Name);
  EXPECT_EQ(meBase64, P.Encoding);

  const std::pair<const char*, TMimeEncoding> Encodings[] = {
      {"7bit", meSevenBit}, {"8bit", meEightBit}, {"binary", meBinary},
      {"quoted-printable", meQuotedPrintable}, {"Base64", meOther}, {"x-uue", meOther}};
  for (const auto& [Text, Code] : Encodings) {
    TMimeLines E = {std::string("Content-Transfer-Encoding: ") + Text, "", "end"};
    Cursor = 0;
    ParsePartHeader(E, Cursor, P);
    EXPECT_EQ(Code, P.Encoding) << Text;
  }
  // A 300-character name is cut to 255; every ";" splits, also inside quotes.
  TMimeLines N = {"Content-Type: image/gif; name=" + std::string(300, 'n'), "", "end"};
  Cursor = 0;
  ParsePartHeader(N, Cursor, P);
  EXPECT_EQ(mtImage, P.MainType);
  EXPECT_EQ(255u, P.Name.size());
}

TEST(MailFilter, CheckAttachmentsCases) {
  const std::vector<TCase> Cases = {
      {"no content type", {"Subject: x", "", "--B", "Content-Type: a/b; name=x.exe", "", "x"}, true},
      {"text message", {"Content-Type: text/plain; name=x.exe", "", "x", "y"}, true},
      {"blocked, capital extension",
       Mixed({"--B", "Content-Type: application/octet-stream; name=\"report.EXE\"", "", "AAAA", "--B--"}), false},
      {"allowed extension", Mixed({"--B", "Content-Type: application/pdf; name=report.pdf", "", "x", "--B--"}), true},
      {"name without a dot", Mixed({"--B", "Content-Type: application/x; name=exe", "", "x", "--B--"}), true},
      {"backslash after the last dot", Mixed({"--B", "Content-Type: application/x; name=a.exe\\c", "", "--B--"}), true},
      {"colon after the last dot", Mixed({"--B", "Content-Type: application/x; name=a.exe:c", "", "--B--"}), true},
      {"quoted name with a semicolon",
       Mixed({"--B", "Content-Type: application/x; name=\"a;b.exe\"", "", "x", "--B--"}), true},
      {"disposition filename only",
       Mixed({"--B", "Content-Type: application/x", "Content-Disposition: attachment; filename=\"a.exe\"", "", "--B--"}),
       true},
      {"message/rfc822 part is other: name not read",
       Mixed({"--B", "Content-Type: message/rfc822; name=a.exe", "", "--B--"}), true},
      {"boundary line with trailing blank",
       Mixed({"--B ", "Content-Type: application/x; name=a.exe", "", "--B--"}), true},
      {"nested multipart",
       Mixed({"--B", "Content-Type: multipart/alternative; boundary=Inner; name=x.exe", "", "--Inner",
              "Content-Type: text/plain", "", "hi", "--Inner", "Content-Type: application/x; name=\"evil.vbs\"", "",
              "--Inner--", "--B--"}),
       false},
      {"outer boundary not seen inside a nested level",
       Mixed({"--B", "Content-Type: multipart/alternative; boundary=Inner", "", "--B",
              "Content-Type: application/x; name=a.exe", "", "--B--"}),
       true},
      {"after the closing boundary",
       Mixed({"--B", "Content-Type: text/plain", "", "x", "--B--", "--B", "Content-Type: a/b; name=x.exe", ""}), true},
      {"last line never read",
       Mixed({"--B", "Content-Type: application/x;"}, "\tname=a.exe"), true},
      {"last line never read, not even as a boundary",
       {"Content-Type: multipart/mixed; boundary=B", "", "--B--", "--B", "Content-Type: a/b; name=x.exe", ""}, true},
      {"no boundary parameter: opening line is \"--\"",
       {"Content-Type: multipart/mixed;", "", "--", "Content-Type: application/x; name=a.com", "", "end"}, false},
  };
  for (const auto& C : Cases) EXPECT_EQ(C.Allowed, CheckAttachments(C.Lines, Blocked)) << C.What;
}

TEST(MailFilter, FoldedBoundaryOnlyWithTab) {
  const TMimeLines Parts = {"", "--B", "Content-Type: application/x; name=a.exe", "", "x", "--B--", "end"};
  TMimeLines Tab = {"Content-Type: multipart/mixed;", "\tboundary=\"B\""};
  Tab.insert(Tab.end(), Parts.begin(), Parts.end());
  EXPECT_FALSE(CheckAttachments(Tab, Blocked));
  TMimeLines Blank = {"Content-Type: multipart/mixed;", " boundary=\"B\""};
  Blank.insert(Blank.end(), Parts.begin(), Parts.end());
  EXPECT_TRUE(CheckAttachments(Blank, Blocked));
}

TEST(MailFilter, MalformedInputNeverRaises) {
  EXPECT_TRUE(CheckAttachments({}, Blocked));
  EXPECT_TRUE(CheckAttachments({"Content-Type: multipart/mixed; boundary=B"}, Blocked));
  TMimeLines Junk = {"Content-Type: multipart/mixed; boundary=", ":", ";;;;=;=", "", "--", "--", "----", "--", std::string(1, '\0'),
                     "--", "Content-Type: multipart/mixed", "", "----", "----", "x"};
  EXPECT_TRUE(CheckAttachments(Junk, Blocked));
  // Many parameters and a long folded value stay linear and do not raise.
  TMimeLines Many = {"Content-Type: multipart/mixed; " + std::string(100000, ';'), "", "x"};
  EXPECT_TRUE(CheckAttachments(Many, Blocked));
}
