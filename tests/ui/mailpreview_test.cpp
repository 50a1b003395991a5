// The mail viewer's preview parser as a table of small messages: headers, charsets,
// transfer encodings and the choice of the text part of a multipart mail.
#include <QtTest>
#include <string>
#include <vector>

#include "ui/viewer/MailPreview.h"
#include "ui/viewer/ViewMail.h"

Q_DECLARE_METATYPE(std::string)

namespace {
std::string Msg(const std::vector<std::string>& Lines) { return MailLinesText(Lines); }

const std::vector<std::string> Head = {"From: Ann <ann@example.org>", "To: bob@example.net", "Subject: Hello"};

std::vector<std::string> With(std::vector<std::string> Extra, const std::vector<std::string>& Body) {
  std::vector<std::string> L = Head;
  L.insert(L.end(), Extra.begin(), Extra.end());
  L.push_back("");
  L.insert(L.end(), Body.begin(), Body.end());
  return L;
}

const std::string JapaneseJIS = "\x1b\x24\x42\x25\x46\x25\x39\x25\x48\x1b\x28\x42";  // テスト
const std::string ChineseGB = "\xd6\xd0\xce\xc4";                                  // 中文
const std::string ChineseBig5 = "\xa4\xa4\xa4\xe5";                                // 中文
}  // namespace

class TestMailPreview : public QObject {
  Q_OBJECT
private slots:
  void Parse_data() {
    QTest::addColumn<std::string>("Message");
    QTest::addColumn<bool>("Ok");
    QTest::addColumn<std::string>("From");
    QTest::addColumn<std::string>("To");
    QTest::addColumn<std::string>("Subject");
    QTest::addColumn<std::string>("Body");
    const std::string A = "Ann <ann@example.org>", B = "bob@example.net", S = "Hello";
    auto Row = [&](const char* Name, const std::vector<std::string>& Lines, const std::string& Body) {
      QTest::newRow(Name) << Msg(Lines) << true << A << B << S << Body;
    };

    // Headers.
    QTest::newRow("no sender, recipient or subject")
        << Msg({"X-Mailer: test", "Content-Type: text/plain; charset=utf-8", "", "text"}) << false << std::string()
        << std::string() << std::string() << std::string();
    QTest::newRow("folded with a TAB, not with a blank")
        << Msg({"From: Ann", "\t<ann@example.org>", "To: bob@example.net", " (not joined)", "Subject: Hello", "\tagain",
                "", "x"})
        << true << std::string("Ann <ann@example.org>") << B << std::string("Hello again") << std::string("x\r\n");
    QTest::newRow("encoded words in From, To and Subject")
        << Msg({"From: =?utf-8?B?Wm/DqyBCcsO8bg==?= <zoe@example.org>", "To: =?ISO-8859-1?Q?J=F6rg?= <j@example.de>",
                "Subject: =?iso-2022-jp?B?GyRCJUYlOSVIGyhC?=", "", "x"})
        << true << std::string("Zoë Brün <zoe@example.org>") << std::string("Jörg <j@example.de>")
        << std::string("テスト") << std::string("x\r\n");
    QTest::newRow("a later header replaces an earlier one")
        << Msg({"Subject: first", "From: a@x", "Subject: second", "", "x"}) << true << std::string("a@x")
        << std::string() << std::string("second") << std::string("x\r\n");
    QTest::newRow("a malformed encoded word stays as written")
        << Msg({"Subject: =?utf-8?Q?bad=ZZ?=", "", "x"}) << true << std::string() << std::string()
        << std::string("=?utf-8?Q?bad=ZZ?=") << std::string("x\r\n");

    // Single part.
    Row("plain without a Content-Type", With({}, {"Hello Bob,", "", "bye."}), "Hello Bob,\r\n\r\nbye.\r\n");
    Row("quoted-printable with a soft break on the last line",
        With({"Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable"},
             {"caf=C3=A9 =", "bar=3D=zz=c3=a9", "end="}),
        "café bar==zzé\r\nend");
    Row("base64 in lines, a bad line left out",
        With({"Content-Type: text/plain; charset=\"UTF-8\"", "Content-Transfer-Encoding: base64"},
             {"R3LDvMOfZQ0K", "!!!", "YXVzIEvDtmxuDQo="}),
        "Grüße\r\naus Köln\r\n");
    Row("ISO-2022-JP", With({"Content-Type: text/plain; charset=ISO-2022-JP"}, {JapaneseJIS}), "テスト\r\n");
    Row("UTF-8 with a broken sequence", With({"Content-Type: text/plain; charset=utf-8"}, {"ok \xc3 end"}),
        "ok ? end\r\n");
    Row("GB2312 by its name", With({"Content-Type: text/plain; charset=gb2312", "Content-Transfer-Encoding: 8bit"},
                                  {ChineseGB}),
        "中文\r\n");
    Row("Big5 by its quoted name", With({"Content-Type: text/plain; charset=\"Big5\""}, {ChineseBig5}), "中文\r\n");
    Row("us-ascii and unknown charsets are shown as they are",
        With({"Content-Type: text/plain; charset=x-unknown"}, {"as is"}), "as is\r\n");
    Row("text/html with a charset", With({"Content-Type: text/html; charset=utf-8"}, {"<p>hi</p>"}), HtmlNotPreviewed);
    Row("text/html without parameters counts as plain", With({"Content-Type: text/html"}, {"<p>hi</p>"}),
        "<p>hi</p>\r\n");
    Row("not text", With({"Content-Type: image/png; name=a.png"}, {"iVBORw0KGgo="}), "");
    Row("binary encoding", With({"Content-Transfer-Encoding: binary"}, {"raw"}), "");

    // Multipart.
    Row("text and an attachment",
        With({"Content-Type: multipart/mixed; boundary=\"XX\""},
             {"preamble", "--XX", "Content-Type: text/plain; charset=us-ascii", "", "Hi there=", " Bob", "--XX",
              "Content-Type: application/octet-stream; name=\"tool.exe\"", "Content-Transfer-Encoding: base64", "",
              "TVqQAAMAAAAEAAAA", "--XX--", "epilogue"}),
        "Hi there Bob\r\n");
    Row("alternative: the plain part, not the HTML part",
        With({"Content-Type: multipart/alternative;", "\tboundary=alt"},
             {"--alt", "Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable", "",
              "Gr=C3=BC=C3=9Fe", "--alt", "Content-Type: text/html; charset=utf-8", "", "<b>Grüße</b>", "--alt--", ""}),
        "Grüße\r\n");
    Row("a text part with a name is an attachment",
        With({"Content-Type: multipart/mixed; boundary=XX"},
             {"--XX", "Content-Type: text/plain; charset=us-ascii; name=\"notes.txt\"", "", "secret", "--XX--", ""}),
        "");
    Row("a text/plain part without parameters is passed over",
        With({"Content-Type: multipart/mixed; boundary=XX"},
             {"--XX", "Content-Type: text/plain", "", "unseen", "--XX--", ""}),
        "");
    Row("of two text parts the second",
        With({"Content-Type: multipart/mixed; boundary=XX"},
             {"--XX", "Content-Type: text/plain; charset=us-ascii", "", "one", "--XX",
              "Content-Type: text/plain; charset=us-ascii", "", "two", "--XX--", ""}),
        "two\r\n");
    Row("nested boundaries",
        With({"Content-Type: multipart/mixed; boundary=outer"},
             {"--outer", "Content-Type: multipart/alternative; boundary=inner", "", "--inner",
              "Content-Type: text/plain; charset=iso-2022-jp", "Content-Transfer-Encoding: 7bit", "", JapaneseJIS,
              "--outer", "still inner", "--inner--", "--outer", "Content-Type: application/pdf; name=a.pdf", "",
              "JVBERi0=", "--outer--", ""}),
        "テスト\r\n--outer\r\nstill inner\r\n");
    Row("Base64 with a capital B does not replace the text",
        With({"Content-Type: multipart/mixed; boundary=XX"},
             {"--XX", "Content-Type: text/plain; charset=us-ascii", "", "kept", "--XX",
              "Content-Type: text/plain; charset=us-ascii", "Content-Transfer-Encoding: Base64", "", "bG9zdA==",
              "--XX--", ""}),
        "kept\r\n");
    Row("an unknown transfer encoding does not replace the text",
        With({"Content-Type: multipart/mixed; boundary=XX"},
             {"--XX", "Content-Type: text/plain; charset=us-ascii", "Content-Transfer-Encoding: 8bit", "", "kept", "--XX",
              "Content-Type: text/plain; charset=us-ascii", "Content-Transfer-Encoding: x-uuencode", "", "lost",
              "--XX--", ""}),
        "kept\r\n");
    Row("the chosen part's charset counts, not the message's",
        With({"Content-Type: multipart/mixed; boundary=XX; charset=iso-2022-jp"},
             {"--XX", "Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: base64", "",
              "R3LDvMOfZQ0K", "--XX--", ""}),
        "Grüße\r\n");
    Row("the lines run out before the closing boundary",
        With({"Content-Type: multipart/mixed; boundary=XX"}, {"--XX", "Content-Type: text/plain; charset=a", "", "to",
                                                             "the end"}),
        "to\r\nthe end\r\n");
  }

  void Parse() {
    QFETCH(std::string, Message);
    QFETCH(bool, Ok);
    TMailContent C;
    QCOMPARE(ParseMailPreview(Message, C), Ok);
    QFETCH(std::string, From);
    QFETCH(std::string, To);
    QFETCH(std::string, Subject);
    QFETCH(std::string, Body);
    QCOMPARE(QString::fromStdString(C.From), QString::fromStdString(From));
    QCOMPARE(QString::fromStdString(C.To), QString::fromStdString(To));
    QCOMPARE(QString::fromStdString(C.Subject), QString::fromStdString(Subject));
    QCOMPARE(QString::fromStdString(C.Body), QString::fromStdString(Body));
  }

  void HeaderFieldsAreCut() {
    TMailContent C;
    QVERIFY(ParseMailPreview(Msg({"Subject: " + std::string(300, 's'), "", "x"}), C));
    QCOMPARE(C.Subject.size(), size_t(255));
  }

  void HeaderStartValues() {
    TPreviewHeader H;
    int Cursor = 7;
    ParsePreviewHeader({"Subject: s", "Content-Type: text/html", "", "x"}, Cursor, H);
    QCOMPARE(Cursor, 3);
    QCOMPARE(int(H.MainType), int(mtText));
    QCOMPARE(int(H.SubType), int(stPlain));
    QCOMPARE(int(H.Charset), int(vcOther));
    QCOMPARE(int(H.Encoding), int(meSevenBit));
    ParsePreviewHeader({"Content-Type: multipart/related; boundary=\"b\"; charset=UTF-8", "", "x"}, Cursor, H);
    QCOMPARE(int(H.MainType), int(mtMultipart));
    QCOMPARE(int(H.SubType), int(stOther));
    QCOMPARE(int(H.Charset), int(vcUTF8));
    QCOMPARE(H.Boundary, std::string("b"));
  }

  void QuotedPrintablePairs() {
    QCOMPARE(DecodeQuotedPrintable("a=41=4a=4A"), std::string("aAJJ"));
    QCOMPARE(DecodeQuotedPrintable("=G1 and =\r\nend"), std::string("=G1 and end"));
    // Fewer than two characters after "=": copied.
    QCOMPARE(DecodeQuotedPrintable("x=4"), std::string("x=4"));
    QCOMPARE(DecodeQuotedPrintable("x="), std::string("x="));
  }
};

QTEST_GUILESS_MAIN(TestMailPreview)
#include "mailpreview_test.moc"
