// The relay server editor and the relay domain editor, driven through their widgets.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include "OptionsTestSupport.h"
#include "UiTestSupport.h"
#include "engine/settings/LangDefs.h"
#include "support/TestEnv.h"
#include "ui/options/EditSMTP.h"
#include "ui/options/MailDomain.h"

namespace {
const int Open = -1;  // the editor stayed open after OK

struct TServerCase {
  const char* Name = nullptr;
  TRelaySMTPItem Given = {};
  // Texts typed over the fields; nullptr leaves a field as it is.
  const char* Host = nullptr;
  const char* Email = nullptr;
  const char* User = nullptr;
  const char* Password = nullptr;
  const char* From = nullptr;
  const char* Port = nullptr;
  bool ClickAuth = false;
  bool Duplicate = false;  // what the caller's duplicate test answers
  int Result = QDialog::Accepted;
  QString Box = {};  // the error shown, empty for none
  TRelaySMTPItem Expected = {};
};

const TRelaySMTPItem Stored{"mail.example.org", 587, true, "bob", "secret", "bob@example.org", "example.org|alice@x.net"};

TRelaySMTPItem With(TRelaySMTPItem I, std::function<void(TRelaySMTPItem&)> Change) {
  Change(I);
  return I;
}

// Runs the editor on Given, types the case's fields and presses OK; an editor that stays
// open is cancelled. Returns the modal result, or Open.
int RunServerEditor(TFormEditSMTPItem& Form, const TServerCase& C) {
  int Outcome = QDialog::Accepted;
  OnNext<TFormEditSMTPItem>([&](TFormEditSMTPItem& F) {
    const std::pair<QLineEdit*, const char*> Fields[] = {{F.EditRelaySMTPHost, C.Host},
                                                         {F.EditEmail, C.Email},
                                                         {F.EditRelaySMTPUsername, C.User},
                                                         {F.EditRelaySMTPPassword, C.Password},
                                                         {F.EditFromEmail, C.From}};
    if (C.ClickAuth) Click(F.CBRelaySMTPAuth);
    for (const auto& [Edit, Text] : Fields)
      if (Text) Type(Edit, QString::fromUtf8(Text));
    if (C.Port) {
      F.RSERelaySMTPPort->selectAll();
      QTest::keyClicks(F.RSERelaySMTPPort, QString::fromUtf8(C.Port));
    }
    Click(F.BtnOK);
    if (F.isVisible()) {
      Outcome = Open;
      Click(F.BtnCancel);
    }
  });
  const int R = Form.Execute(C.Given);
  return Outcome == Open ? Open : R;
}
}  // namespace

class TestRelayEditors : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { QuietSizeHintNotes(); }
  void init() { ResetModalSteps(); }
  void cleanup() { QVERIFY(!ModalStepsFailed()); }

  void NewServerStartsWithPort25AndNothingToConfirm() {
    TTestEnv Env;
    TFormEditSMTPItem Form(nullptr);
    QVERIFY(!Form.OnCheckDuplicate);
    OnNext<TFormEditSMTPItem>([](TFormEditSMTPItem& F) {
      QCOMPARE(F.RSERelaySMTPPort->value(), 25);
      QCOMPARE(F.RSERelaySMTPPort->minimum(), 1);
      QCOMPARE(F.RSERelaySMTPPort->maximum(), 65535);
      QVERIFY(!F.BtnOK->isEnabled());
      QVERIFY(F.BtnOK->isDefault());
      QVERIFY(IsSwitchedOff(F.EditRelaySMTPUsername));
      QVERIFY(IsSwitchedOff(F.EditRelaySMTPPassword));
      QVERIFY(!F.LabelRelaySMTPUsername->isEnabled() && !F.LabelRelaySMTPPassword->isEnabled());
      Type(F.EditRelaySMTPHost, "   ");
      QVERIFY(!F.BtnOK->isEnabled());
      Type(F.EditRelaySMTPHost, "relay.example.net");
      QVERIFY(F.BtnOK->isEnabled());
      Click(F.CBRelaySMTPAuth);
      QVERIFY(IsSwitchedOn(F.EditRelaySMTPUsername) && IsSwitchedOn(F.EditRelaySMTPPassword));
      QVERIFY(F.LabelRelaySMTPUsername->isEnabled());
      QCOMPARE(F.EditRelaySMTPPassword->echoMode(), QLineEdit::Password);
      Type(F.EditRelaySMTPPassword, "secret");
      QCOMPARE(F.EditRelaySMTPPassword->displayText(), QString("******"));
      Click(F.BtnCancel);
    });
    QCOMPARE(Form.Execute(TRelaySMTPItem{}), int(QDialog::Rejected));
  }

  void StoredServerFillsTheFields() {
    TTestEnv Env;
    TFormEditSMTPItem Form(nullptr);
    OnNext<TFormEditSMTPItem>([](TFormEditSMTPItem& F) {
      QCOMPARE(F.EditRelaySMTPHost->text(), QString("mail.example.org"));
      QCOMPARE(F.RSERelaySMTPPort->value(), 587);
      QVERIFY(F.CBRelaySMTPAuth->isChecked());
      QVERIFY(IsSwitchedOn(F.EditRelaySMTPUsername));
      QCOMPARE(F.EditRelaySMTPUsername->text(), QString("bob"));
      QCOMPARE(F.EditRelaySMTPPassword->text(), QString("secret"));
      QCOMPARE(F.EditEmail->text(), QString("bob@example.org"));
      QCOMPARE(F.EditFromEmail->text(), QString("example.org;alice@x.net"));
      Click(F.BtnCancel);
    });
    QCOMPARE(Form.Execute(Stored), int(QDialog::Rejected));
    QVERIFY(Form.OldItem == Stored);
  }

  void OkChecksAndResults() {
    TTestEnv Env;
    const QString Dup = "The duplicate entry already exists in list.";
    const std::string Long(300, 'h');
    const std::string Long100 = std::string(94, 'm') + "@x.org" + std::string(10, 'z');
    const TServerCase Cases[] = {
        {.Name = "unchanged closes with Cancel", .Given = Stored, .Result = QDialog::Rejected},
        {.Name = "blanks around the host are no change", .Given = Stored, .Host = "  mail.example.org  ",
         .Result = QDialog::Rejected},
        {.Name = "new server", .Host = " relay.example.net ", .Email = " me@example.net ", .From = " a.com;b.org ",
         .Port = "2525", .Expected = {"relay.example.net", 2525, false, "", "", "me@example.net", "a.com|b.org"}},
        {.Name = "only the password differs", .Given = Stored, .Password = "other",
         .Expected = With(Stored, [](auto& I) { I.Password = "other"; })},
        {.Name = "user and password stay when the box is cleared", .Given = Stored, .ClickAuth = true,
         .Expected = With(Stored, [](auto& I) { I.Auth = false; })},
        {.Name = "the caller's duplicate", .Given = Stored, .Host = "other.example.org", .Duplicate = true,
         .Result = Open, .Box = Dup},
        {.Name = "an unchanged duplicate is no change", .Given = Stored, .Duplicate = true, .Result = QDialog::Rejected},
        {.Name = "a FROM list may hold ':' in its last field", .Given = Stored, .From = "x:y.org",
         .Expected = With(Stored, [](auto& I) { I.FromEmail = "x:y.org"; })},
        {.Name = "texts cut to their capacity", .Host = Long.c_str(), .Email = Long100.c_str(),
         .Expected = {std::string(255, 'h'), 25, false, "", "", std::string(94, 'm') + "@x.org", ""}},
        {.Name = "blank mail address", .Given = Stored, .Email = "  ",
         .Expected = With(Stored, [](auto& I) { I.Email = ""; })},
        // A ":" or ";" would shift the later fields of the stored entry.
        {.Name = "host with ':'", .Host = "relay.example.net:25", .Result = Open,
         .Box = "The host name can not contain ':' or ';'."},
        {.Name = "mail address with ';'", .Given = Stored, .Email = "a;b@example.org", .Result = Open,
         .Box = "The mail address can not contain ':' or ';'."},
        {.Name = "user name with ':'", .Given = Stored, .User = "bob:1", .Result = Open,
         .Box = "The user name can not contain ':' or ';'."},
        {.Name = "password with ';'", .Given = Stored, .Password = "se;cret", .Result = Open,
         .Box = "The password can not contain ':' or ';'."},
        {.Name = "mail address that is none", .Given = Stored, .Email = "bob.example.org", .Result = Open,
         .Box = "bob.example.org is not a valid mail address. You must set a valid mail address or leave it blank."},
        // An empty FROM entry would take the mails of senders without a domain.
        {.Name = "a FROM list ending in ';'", .Given = Stored, .From = "a.com;",
         .Expected = With(Stored, [](auto& I) { I.FromEmail = "a.com"; })},
        {.Name = "empty FROM entries anywhere", .Given = Stored, .From = ";a.com;; ;b.org;",
         .Expected = With(Stored, [](auto& I) { I.FromEmail = "a.com|b.org"; })},
        {.Name = "a FROM list of separators only", .Given = Stored, .From = " ; ;",
         .Expected = With(Stored, [](auto& I) { I.FromEmail = ""; })},
        // A stored port outside the range is no silent clamp: OK refuses it until mended.
        {.Name = "stored port 0", .Given = With(Stored, [](auto& I) { I.Port = 0; }), .Result = Open,
         .Box = "Please enter a valid TCP Port number."},
        {.Name = "stored port 70000", .Given = With(Stored, [](auto& I) { I.Port = 70000; }), .Result = Open,
         .Box = "Please enter a valid TCP Port number."},
        {.Name = "stored port 0 mended", .Given = With(Stored, [](auto& I) { I.Port = 0; }), .Port = "2525",
         .Expected = With(Stored, [](auto& I) { I.Port = 2525; })},
    };
    for (const auto& C : Cases) {
      TRecordingBoxes Boxes;
      TFormEditSMTPItem Form(nullptr);
      std::vector<TRelaySMTPItem> Asked;
      Form.OnCheckDuplicate = [&](const TRelaySMTPItem& I) {
        Asked.push_back(I);
        return C.Duplicate;
      };
      const int R = RunServerEditor(Form, C);
      QVERIFY2(R == C.Result, C.Name);
      QVERIFY2(Boxes.Boxes.size() == (C.Box.isEmpty() ? 0u : 1u), C.Name);
      if (!C.Box.isEmpty()) {
        QCOMPARE(Boxes.Boxes[0].Text, C.Box);
        QVERIFY(Boxes.Boxes[0].Kind == TBoxKind::Error);
      }
      if (C.Result == QDialog::Accepted) {
        QVERIFY2(Form.NewItem == C.Expected, C.Name);
        QVERIFY2(Asked.size() == 1 && Asked[0] == C.Expected, C.Name);
      }
    }
  }

  // The field shows a stored port outside its range as it is, not clamped.
  void StoredPortOutsideTheRangeIsShownAsStored() {
    TTestEnv Env;
    for (int Port : {0, -5, 70000}) {
      TFormEditSMTPItem Form(nullptr);
      OnNext<TFormEditSMTPItem>([&](TFormEditSMTPItem& F) {
        QCOMPARE(F.RSERelaySMTPPort->value(), Port);
        QCOMPARE(F.RSERelaySMTPPort->text(), QString::number(Port));
        Click(F.BtnCancel);
      });
      QCOMPARE(Form.Execute(With(Stored, [&](auto& I) { I.Port = Port; })), int(QDialog::Rejected));
    }
  }

  void BlankHostIsRefused() {
    TTestEnv Env;
    TRecordingBoxes Boxes;
    TFormEditSMTPItem Form(nullptr);
    OnNext<TFormEditSMTPItem>([](TFormEditSMTPItem& F) {
      // The OK button is off for a blank host; its handler refuses one as well.
      F.BtnOKClick();
      QVERIFY(F.isVisible());
      Click(F.BtnCancel);
    });
    Form.Execute(TRelaySMTPItem{});
    QCOMPARE(Boxes.Boxes.size(), size_t(1));
    QCOMPARE(Boxes.Boxes[0].Text, QString("You must set an available relay SMTP server."));
  }

  void ResultOfOneEditIsTheNextEditsStart() {
    TTestEnv Env;
    TRelaySMTPItem Item;
    {
      TFormEditSMTPItem Form(nullptr);
      QCOMPARE(RunServerEditor(Form, {.Name = "first", .Host = "relay.example.net", .From = "a.com;b.org"}),
               int(QDialog::Accepted));
      Item = Form.NewItem;
    }
    QCOMPARE(Item.FromEmail, std::string("a.com|b.org"));
    TFormEditSMTPItem Form(nullptr);
    QCOMPARE(RunServerEditor(Form, {.Name = "again", .Given = Item, .Host = "relay.example.net", .Result = QDialog::Rejected}), int(QDialog::Rejected));
  }

  void DomainEditor() {
    TTestEnv Env;
    struct TCase {
      const char* Name;
      const char* Given;
      const char* Typed;  // nullptr: leave the field as it is
      bool Duplicate;
      int Result;
      QString Box;
      const char* Domain;
    } Cases[] = {
        {"new domain in lower case", "", "Example.COM", false, QDialog::Accepted, {}, "example.com"},
        {"unchanged", "example.com", nullptr, false, QDialog::Rejected, {}, nullptr},
        {"upper-case stored domain shown lower", "Example.com", nullptr, false, QDialog::Rejected, {}, nullptr},
        {"typed again", "example.com", "example.com", true, QDialog::Rejected, {}, nullptr},
        {"a trailing blank is a change", "example.com", "example.com ", false, QDialog::Accepted, {}, "example.com "},
        {"blank", "", "   ", false, Open, "Please enter a valid mail domain!", nullptr},
        {"duplicate", "example.com", "example.org", true, Open, "The duplicate entry already exists in list.", nullptr},
        {"';' would split the list", "", "a.com;b.com", false, Open, "The mail domain can not contain ';'.", nullptr},
        {"syntax is not checked", "", "not a domain", false, QDialog::Accepted, {}, "not a domain"},
    };
    for (const auto& C : Cases) {
      TRecordingBoxes Boxes;
      TFormMailDomain Form(nullptr);
      QVERIFY(!Form.OnCheckDuplicate);
      Form.OnCheckDuplicate = [&](const std::string&) { return C.Duplicate; };
      int Outcome = QDialog::Accepted;
      OnNext<TFormMailDomain>([&](TFormMailDomain& F) {
        QCOMPARE(F.EditDomain->text(), QString::fromUtf8(C.Given).toLower());
        if (C.Typed) Type(F.EditDomain, QString::fromUtf8(C.Typed));
        Click(F.BtnOK);
        if (F.isVisible()) {
          Outcome = Open;
          Click(F.BtnCancel);
        }
      });
      const int R = Form.Execute(C.Given);
      QVERIFY2((Outcome == Open ? Open : R) == C.Result, C.Name);
      QVERIFY2(Boxes.Boxes.size() == (C.Box.isEmpty() ? 0u : 1u), C.Name);
      if (!C.Box.isEmpty()) QCOMPARE(Boxes.Boxes[0].Text, C.Box);
      if (C.Domain) QCOMPARE(Form.Domain, std::string(C.Domain));
    }
  }
};

QTEST_MAIN(TestRelayEditors)
#include "editsmtp_test.moc"
