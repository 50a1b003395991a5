#include <gtest/gtest.h>

#include <iconv.h>

#include <cstring>
#include <random>

#include "engine/settings/ZQCipher.h"
#include "engine/store/MailData.h"
#include "engine/store/MailText.h"

namespace {

TMailRecord SampleRecord() {
  TMailRecord R;
  R.ID = "12";
  R.MailFrom = "<a@b.example>";
  R.Recipient = "c@d.example";
  R.Subject = "Hello";
  R.Size = 0x01020304;
  R.ReceiveTime = 46000.5;
  R.SentTime = 46001.25;
  R.Kind = mkReceived;
  R.State = msFailed;
  R.FailedAttempts = 3;
  R.MultiRecipient = 1;
  return R;
}

}  // namespace

TEST(MailRecord, LayoutIsFieldByFieldLittleEndian) {
  uint8_t B[MailRecordSize];
  std::memset(B, 0xEE, sizeof B);
  WriteMailRecord(SampleRecord(), B);
  EXPECT_EQ(B[0], 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(B + 1), 2), "12");
  EXPECT_EQ(B[11], 13);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(B + 12), 13), "<a@b.example>");
  EXPECT_EQ(B[112], 11);
  EXPECT_EQ(B[213], 5);
  EXPECT_EQ(B[294], 0x04);
  EXPECT_EQ(B[297], 0x01);
  double D = 46000.5;
  uint8_t DB[8];
  std::memcpy(DB, &D, 8);  // the test host is little-endian
  EXPECT_EQ(std::memcmp(B + 298, DB, 8), 0);
  EXPECT_EQ(B[314], mkReceived);
  EXPECT_EQ(B[315], msFailed);
  EXPECT_EQ(B[316], 3);
  EXPECT_EQ(B[320], 1);

  TMailRecord Back;
  ReadMailRecord(B, Back);
  EXPECT_EQ(Back.ID.str(), "12");
  EXPECT_EQ(Back.MailFrom.str(), "<a@b.example>");
  EXPECT_EQ(Back.Recipient.str(), "c@d.example");
  EXPECT_EQ(Back.Subject.str(), "Hello");
  EXPECT_EQ(Back.Size, 0x01020304);
  EXPECT_EQ(Back.ReceiveTime, 46000.5);
  EXPECT_EQ(Back.SentTime, 46001.25);
  EXPECT_EQ(Back.State, msFailed);
  EXPECT_EQ(Back.FailedAttempts, 3);
  EXPECT_EQ(Back.MultiRecipient, 1);  // kept as read, so a save writes it back
}

TEST(MailRecord, OversizedLengthByteIsLimitedToCapacity) {
  uint8_t B[MailRecordSize] = {};
  B[0] = 200;
  std::memset(B + 1, '7', 10);
  TMailRecord R;
  ReadMailRecord(B, R);
  EXPECT_EQ(R.ID.str(), "7777777777");
}

TEST(MailRecord, LongTextsAreCutAtACharacterBoundary) {
  TMailRecord R;
  std::string Subject(79, 'x');
  Subject += "\xC3\xA9";  // a two-byte letter across the 80-byte capacity
  R.Subject = Subject;
  EXPECT_EQ(R.Subject.str(), std::string(79, 'x'));
  R.Subject = std::string(90, 'y');
  EXPECT_EQ(R.Subject.size(), 80u);
  EXPECT_EQ(CutText("\xE2\x82\xAC\xE2\x82\xAC", 5), "\xE2\x82\xAC");
  EXPECT_EQ(CutText("\xF0\x9F\x98\x80", 3), "");
  // Bytes that are not UTF-8 (an 8-bit subject kept as received) lose only what is over.
  R.Subject = std::string(90, '\xA0');
  EXPECT_EQ(R.Subject.str(), std::string(80, '\xA0'));
  EXPECT_EQ(CutText("ab\xE9\xA0\xA0\xA0\xA0", 6), "ab\xE9\xA0\xA0\xA0");
}

TEST(MailData, SaveToRecordLimitsTheIndex) {
  TMailData M;
  M.ID = "5";
  M.Recipients = {"a@x", "b@x", "c@x"};
  TMailRecord R;
  M.SaveToRecord(5, R);
  EXPECT_EQ(R.Recipient.str(), "c@x");
  EXPECT_EQ(R.MultiRecipient, 1);
  M.SaveToRecord(-1, R);
  EXPECT_EQ(R.Recipient.str(), "a@x");
  EXPECT_EQ(M.GetRecipient(7), "c@x");

  TMailData Empty;
  EXPECT_EQ(Empty.GetRecipient(0), "");
  EXPECT_THROW(Empty.SaveToRecord(0, R), std::out_of_range);
}

TEST(MailData, LoadFromRecordSkipsABlankRecipientAndClearKeepsForceRelay) {
  TMailRecord R = SampleRecord();
  TMailData M;
  M.ForceRelay = true;
  M.Data = {"x"};
  M.LoadFromRecord(R);
  EXPECT_TRUE(M.ForceRelay);
  EXPECT_TRUE(M.Data.empty());
  ASSERT_EQ(M.Recipients.size(), 1u);
  EXPECT_EQ(M.ID, "12");
  EXPECT_EQ(M.FailedAttempts, 3);
  R.Recipient = "  ";
  M.LoadFromRecord(R);
  EXPECT_TRUE(M.Recipients.empty());
}

TEST(MailText, AddressHelpers) {
  EXPECT_EQ(ExtractAddress("<a@b.c>"), "a@b.c");
  EXPECT_EQ(ExtractAddress("<a@b.c"), "<a@b.c");
  EXPECT_EQ(ExtractAddress(""), "");
  EXPECT_EQ(ExtractDomain("<a@Example.COM>"), "Example.COM");
  EXPECT_EQ(ExtractDomain("nobody"), "");

  struct {
    const char* S;
    bool Valid;
  } Cases[] = {
      {"<a@b.c>", true}, {"a@b.c", true}, {"a @ b.c", true}, {"  a@b.c  ", true},
      {"a@", false},     {"@b.c", false}, {"a@b@c", false},  {"<a@b", false},
      {"<>", false},     {"", false},     {"   ", false},    {"abc", false},
  };
  for (auto& C : Cases) EXPECT_EQ(IsValidEmail(C.S), C.Valid) << C.S;
}

TEST(MailText, SubjectAndFromHeaders) {
  std::vector<std::string> L = {"From: Someone <me@here.example>", "SUBJECT:  first ", "\tsecond",
                                " third", "", "body"};
  EXPECT_EQ(GetSubjectHeader(L), "firstsecond");
  EXPECT_EQ(GetFromAddress(L), "me@here.example");

  std::vector<std::string> Late(50, "x");
  Late.push_back("Subject: too late");
  EXPECT_EQ(GetSubjectHeader(Late), "");
  Late[49] = "Subject: just in";
  EXPECT_EQ(GetSubjectHeader(Late), "just in");

  EXPECT_EQ(GetFromAddress({"From: a>b<c"}), "");
  EXPECT_EQ(GetFromAddress({"from: plain@addr.example"}), "plain@addr.example");
  EXPECT_EQ(GetFromAddress({"From: no address"}), "");
}

TEST(MailText, DecodeHeaderTable) {
  struct {
    const char* In;
    const char* Out;
  } Cases[] = {
      {"=?utf-8?B?w6k=?=", "\xC3\xA9"},                    // padding gives a NUL that goes
      {"=?UTF-8?b?w6k?=", "\xC3\xA9"},                     // a group reaching the "?"
      {"=?utf-8?Q?a_b=3F?=", "a b?"},                       // underscore and escape
      {"=?utf-8?Q?one?= =?utf-8?Q?two?=", "one two"},       // the blank between stays
      {"x =?iso-8859-1?Q?caf=E9?= y", "x caf\xC3\xA9 y"},  // iconv for other charsets
      {"=?us?Q?abc?=", "=?us?Q?abc?="},                     // charset name too short
      {"=?utf-8?Q?abc", "=?utf-8?Q?abc"},                   // unfinished word
      {"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},
      {"=?x-unknown-cs?Q?a=FFb?=", "a\xFF" "b"},            // unknown charset keeps bytes
      {"=?utf-8?Q?a=4?=", "a=4"},                           // "=" too near the end is kept
      {"plain text", "plain text"},
  };
  for (auto& C : Cases) EXPECT_EQ(DecodeHeader(C.In), C.Out) << C.In;
  // Decoded text is searched again.
  EXPECT_EQ(DecodeHeader("=?utf-8?Q?x=3D=3Futf-8=3FQ=3Fin=3F=3D?="), "xin");
  EXPECT_THROW(DecodeHeader("=?utf-8?Q?a=ZZb?="), EConvertError);
}

namespace {

struct TOtherCharset {};

// The decoding rules applied literally: S rebuilt around every decoded word and every search
// run over the whole rest. It knows no charset but UTF-8: a word in another charset that
// iconv knows (iconv reads "=?UTF-8" as UTF-8, for one) ends the comparison of that text.
std::string StepByStepDecode(const std::string& Text) {
  auto Hex = [](char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
  };
  const std::string Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string S = Text;
  size_t P = S.find("=?");
  while (P != std::string::npos) {
    size_t Q1 = S.find('?', P + 5);
    size_t Q2 = Q1 == std::string::npos ? Q1 : S.find('?', Q1 + 1);
    size_t E = Q2 == std::string::npos ? Q2 : S.find("?=", Q2 + 1);
    if (E != std::string::npos) {
      std::string Charset = S.substr(P + 2, Q1 - P - 2), Decoded;
      if (S[Q1 + 1] == 'Q' || S[Q1 + 1] == 'q') {
        for (size_t I = Q2 + 1; I < E; ++I) {
          if (S[I] == '_') {
            Decoded += ' ';
          } else if (S[I] == '=' && E - I >= 3) {
            if (Hex(S[I + 1]) < 0 || Hex(S[I + 2]) < 0) throw EConvertError("bad");
            Decoded += char(Hex(S[I + 1]) * 16 + Hex(S[I + 2]));
            I += 2;
          } else {
            Decoded += S[I];
          }
        }
      } else {
        for (size_t I = Q2 + 1; I < E && E + 2 - I >= 4; I += 4) {
          uint32_t V = 0;
          for (size_t K = 0; K < 4; ++K) {
            size_t At = Alphabet.find(S[I + K]);
            V = V << 6 | uint32_t(At == std::string::npos ? 0 : At);
          }
          Decoded += {char(V >> 16), char(V >> 8), char(V)};
        }
      }
      std::string Lower = Charset;
      for (char& C : Lower) C = char(std::tolower(static_cast<unsigned char>(C)));
      if (Lower == "utf-8") {
        Decoded = UTF8ToAnsi(Decoded);
      } else if (Charset.find('\0') == std::string::npos) {
        iconv_t CD = iconv_open("UTF-8", Charset.c_str());
        if (CD != reinterpret_cast<iconv_t>(-1)) {
          iconv_close(CD);
          throw TOtherCharset();
        }
      }
      std::erase(Decoded, '\0');
      S = S.substr(0, P) + Decoded + S.substr(E + 2);
    }
    P = S.find("=?", P + 1);
  }
  std::erase(S, '\0');
  return S;
}

}  // namespace

TEST(MailText, DecodeHeaderAgreesWithTheRulesAppliedLiterally) {
  // Pieces that make words, broken words, nested words and words that end early.
  const std::vector<std::string> Pieces = {"=?", "?=", "?", "=", "utf-8", "UTF-8", "zzz", "Q", "q", "B", "b",
                                           "_", "=3D", "=3F", "=3f", "=41", "w6k", "YWJj", "PT9", "a", " ", "\t",
                                           std::string(1, '\0'), "=?utf-8?Q?", "=?zzz?B?", "=?UTF-8?b?"};
  std::mt19937 Rng(20240611);
  int Thrown = 0, Skipped = 0;
  for (int Case = 0; Case < 20000; ++Case) {
    std::string S;
    for (int N = int(Rng() % 24); N > 0; --N) S += Pieces[Rng() % Pieces.size()];
    std::string Want, Got;
    bool WantThrow = false, GotThrow = false;
    try {
      Want = StepByStepDecode(S);
    } catch (const EConvertError&) {
      WantThrow = true;
    } catch (const TOtherCharset&) {
      ++Skipped;
      continue;
    }
    try {
      Got = DecodeHeader(S);
    } catch (const EConvertError&) {
      GotThrow = true;
    }
    Thrown += WantThrow;
    ASSERT_EQ(GotThrow, WantThrow) << S;
    if (!WantThrow) {
      ASSERT_EQ(Got, Want) << S;
    }
  }
  EXPECT_GT(Thrown, 0);
  EXPECT_LT(Thrown + Skipped, 15000);
}

TEST(MailText, UTF8ToAnsiKeepsValidTextAndMarksBrokenBytes) {
  EXPECT_EQ(UTF8ToAnsi("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(UTF8ToAnsi("a\xFF" "b"), "a?b");
  EXPECT_EQ(UTF8ToAnsi("a\xC3"), "a?");
  EXPECT_EQ(UTF8ToAnsi("\xC0\xAF"), "?");  // overlong
}
