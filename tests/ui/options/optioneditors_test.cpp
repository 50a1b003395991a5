// What every option list editor shares: its component names, the language file applied
// when it is created, its tab order, and a screenshot for a person to look at.
#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "OptionsTestSupport.h"
#include "UiTestSupport.h"
#include "engine/settings/LangDefs.h"
#include "support/TestEnv.h"
#include "ui/options/AccessCtrl.h"
#include "ui/options/AccessCtrlEdit.h"
#include "ui/options/AttFilter.h"
#include "ui/options/EditFileExt.h"
#include "ui/options/EditSMTP.h"
#include "ui/options/FROMAddrSet.h"
#include "ui/options/FromAddrEdit.h"
#include "ui/options/MailDomain.h"
#include "ui/options/SSIPBind.h"

namespace {
struct TFormCase {
  const char* FormName;
  const char* Caption;
  std::function<std::unique_ptr<QDialog>()> Create;
  QStringList Components;  // in tab order where they take the focus
  // Opens the dialog on sample data (the screenshot is taken while it runs).
  std::function<void(QDialog&)> Execute;
};

template <class T>
std::function<std::unique_ptr<QDialog>()> Make() {
  return [] { return std::make_unique<T>(nullptr); };
}

const TRelaySMTPItem Sample{"smtp.example.org", 587, true, "bob", "secret", "bob@example.org", "example.org|x.net"};

std::vector<TFormCase> Forms() {
  return {
      {"FormEditSMTPItem", "SMTP Server Information", Make<TFormEditSMTPItem>(),
       {"EditRelaySMTPHost", "RSERelaySMTPPort", "EditEmail", "CBRelaySMTPAuth", "EditRelaySMTPUsername",
        "EditRelaySMTPPassword", "EditFromEmail", "BtnOK", "BtnCancel", "LabelRelaySMTPUsername", "LabelRelaySMTPPassword"},
       [](QDialog& D) { static_cast<TFormEditSMTPItem&>(D).Execute(Sample); }},
      {"FormMailDomain", "Mail Domain", Make<TFormMailDomain>(), {"EditDomain", "BtnOK", "BtnCancel", "Label1"},
       [](QDialog& D) { static_cast<TFormMailDomain&>(D).Execute("example.org"); }},
      {"FormSMTPIPBind", "IP Address Settings", Make<TFormSMTPIPBind>(),
       {"CBSMTPMultiIPBind", "LVIPBind", "CBIPAddress", "EditPort", "BtnAdd", "BtnRemove", "BtnOK", "BtnCancel",
        "LabelIPAddress", "LabelTCPPort"},
       [](QDialog& D) {
         auto& F = static_cast<TFormSMTPIPBind&>(D);
         F.MultiIPBind = true;
         F.Bindings = "127.0.0.1:25;127.0.0.1:2525";
         F.Execute();
       }},
      {"FormConnectionCtrl", "Connection Control", Make<TFormConnectionCtrl>(),
       {"RBGrantList", "RBDenyList", "LVIPList", "BtnAdd", "BtnEdit", "BtnRemove", "BtnOK", "BtnCancel", "Label1", "Label2"},
       [](QDialog& D) {
         auto& F = static_cast<TFormConnectionCtrl&>(D);
         F.UseGranted = true;
         F.GrantList = "127.0.0.1;192.168.0.0:255.255.255.0";
         F.Execute();
       }},
      {"FormConnCtrlEdit", "IP Address (Subnet Mask)", Make<TFormConnCtrlEdit>(),
       {"RBSingle", "EditIPAddress", "RBGroup", "EditSubnetAddress", "EditSubnetMask", "BtnOK", "BtnCancel",
        "LabelIPAddress", "LabelSubnetAddress", "LabelSubnetMask"},
       [](QDialog& D) { static_cast<TFormConnCtrlEdit&>(D).Execute("192.168.0.0 (255.255.255.0)"); }},
      {"FormFROMAddrSet", "FROM Addresses Settings", Make<TFormFROMAddrSet>(),
       {"RBGrantList", "RBDenyList", "LVIPList", "BtnAdd", "BtnEdit", "BtnRemove", "BtnOK", "BtnCancel", "Label1", "Label2"},
       [](QDialog& D) {
         auto& F = static_cast<TFormFROMAddrSet&>(D);
         F.UseGranted = true;
         F.GrantList = "bob@example.org;example.net";
         F.Execute();
       }},
      {"FormFromAddrEdit", "FROM Address/Domain Name", Make<TFormFromAddrEdit>(),
       {"RBAddress", "EditAddress", "RBDomainName", "EditDomainName", "BtnOK", "BtnCancel"},
       [](QDialog& D) { static_cast<TFormFromAddrEdit&>(D).Execute("bob@example.org"); }},
      {"FormAttachmentFilter", "Attachment Filter", Make<TFormAttachmentFilter>(),
       {"CBUseAttachmentFilter", "LVFileExt", "BtnSelectAll", "BtnSelectNone", "BtnAdd", "BtnEdit", "BtnRemove",
        "BtnReset", "BtnOK", "BtnCancel"},
       [](QDialog& D) {
         static_cast<TFormAttachmentFilter&>(D).Execute(true, "1:bat;1:com;1:exe;1:js;1:pif;1:scr;1:vbs;0:zip");
       }},
      {"FormEditFileExt", "File Extension", Make<TFormEditFileExt>(), {"EditFileExtension", "BtnOK", "BtnCancel", "Label1"},
       [](QDialog& D) { static_cast<TFormEditFileExt&>(D).Execute("doc"); }},
  };
}

// The named widgets that take the focus with Tab, in the order Tab visits them.
QStringList TabOrder(QWidget* Form, const QStringList& Names) {
  QStringList Order;
  QWidget* W = Form;
  for (int Steps = 0; Steps < 200; ++Steps) {
    W = W->nextInFocusChain();
    if (W == Form) break;
    if ((W->focusPolicy() & Qt::TabFocus) && Names.contains(W->objectName()) && !Order.contains(W->objectName()))
      Order << W->objectName();
  }
  return Order;
}
}  // namespace

class TestOptionEditors : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { QuietSizeHintNotes(); }
  void init() { ResetModalSteps(); }
  void cleanup() { QVERIFY(!ModalStepsFailed()); }

  void ComponentsCaptionsAndTabOrder() {
    TTestEnv Env;
    for (const auto& C : Forms()) {
      auto Form = C.Create();
      QCOMPARE(Form->objectName(), QString(C.FormName));
      QCOMPARE(Form->windowTitle(), QString(C.Caption));
      for (const auto& Name : C.Components) QVERIFY2(Form->findChild<QWidget*>(Name), qPrintable(C.FormName + (":" + Name)));
      QStringList Focusable;
      for (const auto& Name : C.Components)
        if (Form->findChild<QWidget*>(Name)->focusPolicy() & Qt::TabFocus) Focusable << Name;
      QCOMPARE(TabOrder(Form.get(), C.Components), Focusable);
      auto* OK = Form->findChild<QPushButton*>("BtnOK");
      QVERIFY(OK->isDefault());
      // A screen reader can name every input: after its label, its button or its window.
      for (QWidget* W : Form->findChildren<QWidget*>()) {
        const bool Input = qobject_cast<QLineEdit*>(W) || qobject_cast<QTreeWidget*>(W) ||
                           qobject_cast<QComboBox*>(W) || qobject_cast<QAbstractSpinBox*>(W);
        if (!Input || W->objectName().isEmpty() || W->objectName().startsWith("qt_")) continue;
        QAccessibleInterface* A = QAccessible::queryAccessibleInterface(W);
        QVERIFY2(A && !A->text(QAccessible::Name).isEmpty(), qPrintable(W->objectName()));
      }
    }
  }

  // The language file is applied when a window is created; column captions then come from
  // the message texts.
  void LanguageFileAppliesAtCreation() {
    TTestEnv Env;
    std::string Ini = "[Info]\nFontSize=12\n";
    for (const auto& C : Forms())
      Ini += std::string("[") + C.FormName + "]\nCaption=T " + C.FormName + "\nBtnCancel.Caption=Abbrechen\n";
    Env.WriteFile(Env.ProgramDir() + "Language/English.ini", Ini);
    LangStrings.Set(51, "Adresse");
    LangStrings.Set(59, "Endung");
    LangStrings.Set(62, "Rechner");
    LangStrings.Set(88, "Absender");
    for (const auto& C : Forms()) {
      auto Form = C.Create();
      QCOMPARE(Form->windowTitle(), QString("T ") + C.FormName);
      QCOMPARE(Form->findChild<QAbstractButton*>("BtnCancel")->text(), QString("Abbrechen"));
      QCOMPARE(Form->font().pointSize(), 12);
    }
    const std::pair<std::function<std::unique_ptr<QDialog>()>, QString> Columns[] = {
        {Make<TFormSMTPIPBind>(), "Adresse"},
        {Make<TFormAttachmentFilter>(), "Endung"},
        {Make<TFormConnectionCtrl>(), "Rechner"},
        {Make<TFormFROMAddrSet>(), "Absender"}};
    for (const auto& [Create, Caption] : Columns) {
      auto Form = Create();
      const auto* View = Form->findChild<QTreeWidget*>();
      QVERIFY(View->headerItem()->text(0) == Caption || View->headerItem()->text(1) == Caption);
    }
    LangStrings.ResetToDefaults();
  }

  // The refusals of input that a stored list could not hold come from the message table,
  // so that the language file's [Common] section replaces them like every other text.
  void RefusalsComeFromTheLanguageFile() {
    TTestEnv Env;
    std::string Ini = "[Common]\n99=Endung %s?\n";
    for (int N = 101; N <= 107; ++N) Ini += std::to_string(N) + "=Text " + std::to_string(N) + "\n";
    Env.WriteFile(Env.ProgramDir() + "Language/Test.ini", Ini);
    LoadLanguageFile(Env.ProgramDir() + "Language/Test.ini");
    struct TCase {
      std::function<std::unique_ptr<QDialog>()> Create;
      std::function<void(QDialog&)> Execute;
      const char* Edit;
      const char* Radio;  // clicked before typing, when not nullptr
      QString Typed;
      QString Box;
    };
    auto SMTP = [](QDialog& D) { static_cast<TFormEditSMTPItem&>(D).Execute(Sample); };
    auto FromAddr = [](QDialog& D) { static_cast<TFormFromAddrEdit&>(D).Execute(""); };
    const TCase Cases[] = {
        {Make<TFormEditFileExt>(), [](QDialog& D) { static_cast<TFormEditFileExt&>(D).Execute(""); },
         "EditFileExtension", nullptr, "a.b", "Endung a.b?"},
        {Make<TFormEditSMTPItem>(), SMTP, "EditRelaySMTPHost", nullptr, "a:b", "Text 101"},
        {Make<TFormEditSMTPItem>(), SMTP, "EditEmail", nullptr, "a;b@x.org", "Text 102"},
        {Make<TFormEditSMTPItem>(), SMTP, "EditRelaySMTPUsername", nullptr, "u;", "Text 103"},
        {Make<TFormEditSMTPItem>(), SMTP, "EditRelaySMTPPassword", nullptr, "p:", "Text 104"},
        {Make<TFormMailDomain>(), [](QDialog& D) { static_cast<TFormMailDomain&>(D).Execute(""); }, "EditDomain",
         nullptr, "a;b", "Text 105"},
        {Make<TFormFromAddrEdit>(), FromAddr, "EditAddress", nullptr, "a;b@x.org", "Text 106"},
        {Make<TFormFromAddrEdit>(), FromAddr, "EditDomainName", "RBDomainName", "a;b", "Text 107"},
    };
    for (const auto& C : Cases) {
      TRecordingBoxes Boxes;
      auto Form = C.Create();
      OnNextModal([&](QWidget* W) {
        if (C.Radio) Click(W->findChild<QAbstractButton*>(C.Radio));
        Type(W->findChild<QLineEdit*>(C.Edit), C.Typed);
        Click(W->findChild<QPushButton*>("BtnOK"));
        QVERIFY2(W->isVisible(), C.Edit);
        static_cast<QDialog*>(W)->reject();
      });
      C.Execute(*Form);
      QCOMPARE(Boxes.Boxes.size(), size_t(1));
      QCOMPARE(Boxes.Boxes[0].Text, C.Box);
    }
    LangStrings.ResetToDefaults();
  }

  void Screenshots() {
    TTestEnv Env;
    for (const auto& C : Forms()) {
      auto Form = C.Create();
      OnNextModal([&](QWidget* W) {
        SaveScreenshot(W, C.FormName);
        // Every text fits its control.
        for (auto* L : W->findChildren<QLabel*>())
          QVERIFY2(L->width() >= L->sizeHint().width(), qPrintable(L->objectName()));
        for (auto* B : W->findChildren<QAbstractButton*>())
          QVERIFY2(B->width() >= B->sizeHint().width(), qPrintable(B->objectName()));
        static_cast<QDialog*>(W)->reject();
      });
      C.Execute(*Form);
    }
  }
};

QTEST_MAIN(TestOptionEditors)
#include "optioneditors_test.moc"
