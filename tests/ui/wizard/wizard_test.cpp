// The configuration wizard driven through its buttons over a registry file of the test's:
// the mail account scan and rewrite, the DNS page, the relay list, Finish and Cancel, and
// the first start of the main window.
#include "ui/wizard/Wizard.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "OptionsTestSupport.h"
#include "UiTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "platform/AutoStart.h"
#include "platform/Registry.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/TestEnv.h"
#include "ui/main/FormMain.h"
#include "ui/options/EditSMTP.h"
#include "ui/options/FormOptions.h"

namespace {
const std::string SettingsHeader = "[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n";
const std::string ManagerHeader = "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager]\r\n";

std::string AccountKey(const std::string& Name, const std::string& Values) {
  return "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts\\" + Name + "]\r\n" + Values +
         "\r\n";
}

std::string Str(const char* Name, const std::string& Value) {
  return std::string("\"") + Name + "\"=\"" + Value + "\"\r\n";
}

// The accounts of the edge cases: one with every value, one already on our server, one
// without the two optional values, one without a server, one with an empty server.
const std::string Accounts =
    AccountKey("00000001", Str("Account Name", "Work") + Str("SMTP Server", "smtp.work.example") +
                               RegistryDword("SMTP Port", 587) + RegistryDword("SMTP Secure Connection", 1) +
                               RegistryDword("SMTP Use Sicily", 2)) +
    AccountKey("00000002",
               Str("Account Name", "Old") + Str("SMTP Server", "LOCALHOST") + RegistryDword("SMTP Port", 25)) +
    AccountKey("00000003", Str("Account Name", "Home") + Str("SMTP Server", "mail.home.example")) +
    AccountKey("00000004", Str("Account Name", "News only")) +
    AccountKey("00000005", Str("Account Name", "Empty") + Str("SMTP Server", ""));

// Settings and accounts as given, then read as the program reads them at start.
void Start(TTestEnv& Env, const std::string& Settings, const std::string& Rest) {
  Env.WriteRegistry(SettingsHeader + Settings + "\r\n" + Rest);
  TRegistry::ResetForTests();
  InitSettings();
}

struct TValue {
  bool Exists;
  std::string Text;
  int Number;
};

TValue Value(const std::string& Key, const std::string& Name) {
  TRegistry Reg;
  if (!Reg.OpenKey(Key, false) || !Reg.ValueExists(Name)) return {false, "", 0};
  if (Reg.GetDataType(Name) == TRegDataType::rdInteger) return {true, "", Reg.ReadInteger(Name)};
  return {true, Reg.ReadString(Name), 0};
}

std::string Account(const std::string& Name) { return std::string(AccountsKey) + "\\" + Name; }

void GoToStep(TFormWizard& W, int Step) {
  while (W.Step() < Step) Click(W.BtnNext);
  while (W.Step() > Step) Click(W.BtnBack);
}

QStringList Checked(QTreeWidget* View) {
  QStringList R;
  for (int I = 0; I < View->topLevelItemCount(); ++I)
    if (View->topLevelItem(I)->checkState(0) == Qt::Checked) R << View->topLevelItem(I)->text(0);
  return R;
}
}  // namespace

class TestWizard : public QObject {
  Q_OBJECT
  std::unique_ptr<TTestEnv> Env;
  std::unique_ptr<TRecordingBoxes> Boxes;

private slots:
  void initTestCase() { QuietSizeHintNotes(); }
  void init() {
    ResetModalSteps();
    Env = std::make_unique<TTestEnv>();
    Boxes = std::make_unique<TRecordingBoxes>();
  }
  void cleanup() {
    QVERIFY(!ModalStepsFailed());
    Boxes.reset();
    Env.reset();
  }

  void PagesButtonsAndScreenshots() {
    Start(*Env, "", ManagerHeader + Str("Default Mail Account", "00000001") + Accounts);
    TFormWizard W(nullptr);
    W.show();
    QCOMPARE(W.windowTitle(), QString("Quillon Configuration Wizard"));
    QCOMPARE(W.LVAccounts->headerItem()->text(0), QString("Account Name"));
    QCOMPARE(W.LVAccounts->headerItem()->text(1), QString("Program"));
    QCOMPARE(W.LVSMTPList->headerItem()->text(0), QString("Host"));
    QCOMPARE(W.LVSMTPList->headerItem()->text(1), QString("Port"));
    QCOMPARE(W.Label2->font().pointSize(), 14);
    QVERIFY(W.Label2->font().bold() && W.Label1->font().bold() && W.Label11->font().bold());
    QCOMPARE(W.ImageWelcome->pixmap().size(), QSize(150, 320));
    QCOMPARE(W.ImageStep4->pixmap().size(), QSize(50, 50));
    const QStringList Names = {"welcome", "dns", "accounts", "relay", "general", "finish"};
    const QRect NextPlace = W.BtnNext->geometry();
    for (int Step = 1; Step <= 6; ++Step) {
      GoToStep(W, Step);
      QCOMPARE(W.Step(), Step);
      for (int I = 1; I <= 6; ++I)
        QCOMPARE(W.findChild<QWidget*>(QString("PanelStep%1").arg(I))->isVisible(), I == Step);
      QCOMPARE(W.BtnBack->isEnabled(), Step != 1);
      QCOMPARE(W.BtnNext->isVisible(), Step != 6);
      QCOMPARE(W.BtnFinish->isVisible(), Step == 6);
      QVERIFY((Step == 6 ? W.BtnFinish : W.BtnNext)->isDefault());
      SaveScreenshot(&W, QString("%1-%2").arg(Step).arg(Names[Step - 1]), "wizard");
    }
    // Finish stands where Next stood.
    QCOMPARE(W.BtnFinish->geometry(), NextPlace);
    Click(W.BtnCancel);
    QCOMPARE(W.result(), int(QDialog::Rejected));
  }

  void AccountScan_data() {
    QTest::addColumn<QString>("Manager");
    QTest::addColumn<QStringList>("Rows");
    QTest::addColumn<QStringList>("Checked");
    const QString WithDefault = QString::fromStdString(ManagerHeader + Str("Default Mail Account", "00000003"));
    QTest::newRow("no default account") << QString::fromStdString(ManagerHeader) << QStringList() << QStringList();
    QTest::newRow("empty default account")
        << QString::fromStdString(ManagerHeader + Str("Default Mail Account", "")) << QStringList() << QStringList();
    QTest::newRow("no account manager") << QString() << QStringList() << QStringList();
    QTest::newRow("accounts") << WithDefault << QStringList({"Work", "Old", "Home"}) << QStringList({"Work", "Home"});
  }
  void AccountScan() {
    QFETCH(QString, Manager);
    QFETCH(QStringList, Rows);
    QFETCH(QStringList, Checked);
    Start(*Env, "", Manager.toStdString() + Accounts);
    TFormWizard W(nullptr);
    W.show();
    GoToStep(W, 3);
    QCOMPARE(Column(W.LVAccounts, 0), Rows);
    QCOMPARE(::Checked(W.LVAccounts), Checked);
    for (const QString& P : Column(W.LVAccounts, 1)) QCOMPARE(P, QString("Outlook Express"));
    QCOMPARE(W.Label23->isVisible(), Rows.isEmpty());
    QCOMPARE(W.Label23->text(), QString("* No mail account detected!"));
  }

  // Values of the wrong type count as missing; long texts are cut to 100 bytes.
  void AccountRecords() {
    const std::string Odd =
        AccountKey("00000006", RegistryDword("Account Name", 7) + Str("SMTP Server", std::string(120, 's')) +
                                   Str("SMTP Port", "587") + RegistryDword("SMTP Use Sicily", 0));
    Start(*Env, "", ManagerHeader + Str("Default Mail Account", "00000001") + Accounts + Odd);
    const std::vector<TMailAccountInfo> A = ReadOEAccounts();
    QCOMPARE(A.size(), size_t(4));
    QCOMPARE(A[0].KeyName, std::string("00000001"));
    QCOMPARE(A[0].AccountName, std::string("Work"));
    QVERIFY(A[0].SMTPPort == 587 && A[0].SMTPSecureConnection == 1 && A[0].SMTPUseSicily == 2);
    QVERIFY(A[2].SMTPPort == -1 && A[2].SMTPSecureConnection == -1 && A[2].SMTPUseSicily == -1);
    QCOMPARE(A[3].AccountName, std::string());
    QCOMPARE(A[3].SMTPServer, std::string(100, 's'));
    QVERIFY(A[3].SMTPPort == -1 && A[3].SMTPSecureConnection == -1 && A[3].SMTPUseSicily == 0);
    for (const TMailAccountInfo& I : A) QCOMPARE(int(I.Kind), 0);
  }

  // Finish with the accounts checked as found, the boxes as they start, the DNS page as it
  // loads on a first start (no DNS values stored yet).
  void FinishRewritesTheCheckedAccountsAndKeepsTheirValues() {
    Start(*Env, RegistryDword("SMTPPort", 2525), ManagerHeader + Str("Default Mail Account", "00000001") + Accounts);
    {
      TFormWizard W(nullptr);
      W.show();
      GoToStep(W, 2);
      QVERIFY(W.RBAutoDetectDNS->isChecked());
      QCOMPARE(W.EditDNSPrimary->text(), QString(DefaultDNSPrimary));
      QCOMPARE(W.EditDNSSecondary->text(), QString(DefaultDNSSecondary));
      GoToStep(W, 6);
      Click(W.BtnFinish);
      QCOMPARE(W.result(), int(QDialog::Accepted));
      QVERIFY(!W.isVisible());
    }
    QVERIFY(Boxes->Boxes.empty());
    const std::string Work = Account("00000001"), Old = Account("00000002"), Home = Account("00000003");
    QCOMPARE(Value(Work, "SMTP Server").Text, std::string("localhost"));
    QCOMPARE(Value(Work, "SMTP Port").Number, 2525);
    QCOMPARE(Value(Work, "SMTP Secure Connection").Number, 0);
    QCOMPARE(Value(Work, "SMTP Use Sicily").Number, 0);
    QCOMPARE(Value(Work, "Quillon Old SMTP Server").Text, std::string("smtp.work.example"));
    QCOMPARE(Value(Work, "Quillon Old SMTP Port").Number, 587);
    QCOMPARE(Value(Work, "Quillon Old SMTP Secure Connection").Number, 1);
    QCOMPARE(Value(Work, "Quillon Old SMTP Use Sicily").Number, 2);
    // Only values that were there are written, and only those are kept.
    QCOMPARE(Value(Home, "SMTP Server").Text, std::string("localhost"));
    QCOMPARE(Value(Home, "SMTP Port").Number, 2525);
    QVERIFY(!Value(Home, "SMTP Secure Connection").Exists && !Value(Home, "SMTP Use Sicily").Exists);
    QCOMPARE(Value(Home, "Quillon Old SMTP Server").Text, std::string("mail.home.example"));
    QVERIFY(!Value(Home, "Quillon Old SMTP Port").Exists);
    // Unchecked: untouched.
    QCOMPARE(Value(Old, "SMTP Server").Text, std::string("LOCALHOST"));
    QVERIFY(!Value(Old, "Quillon Old SMTP Server").Exists);
    // The boxes start checked; the DNS fields kept the settings in force.
    QCOMPARE(Value(SettingsKey, "DNSPrimary").Text, std::string(DefaultDNSPrimary));
    QCOMPARE(Value(SettingsKey, "DNSSecondary").Text, std::string(DefaultDNSSecondary));
    QCOMPARE(Value(SettingsKey, "AutoDetectDNS").Number, 1);
    QCOMPARE(Value(SettingsKey, "RelayToSMTP").Number, 1);
    QCOMPARE(Value(SettingsKey, "AutoRun").Number, 1);
    QCOMPARE(Value(SettingsKey, "MinToTray").Number, 0);
    QCOMPARE(Value(SettingsKey, "WizardAlreadyRun").Number, 1);
    QVERIFY(AutostartEntryExists());

    // The user points the account at another server; a second run keeps the first copy.
    {
      TRegistry Reg;
      QVERIFY(Reg.OpenKey(Work, false));
      Reg.WriteString("SMTP Server", "smtp.other.example");
    }
    {
      TFormWizard W(nullptr);
      W.show();
      QCOMPARE(::Checked(W.LVAccounts), QStringList({"Work"}));
      GoToStep(W, 6);
      Click(W.BtnFinish);
    }
    QCOMPARE(Value(Work, "SMTP Server").Text, std::string("localhost"));
    QCOMPARE(Value(Work, "Quillon Old SMTP Server").Text, std::string("smtp.work.example"));
    QCOMPARE(Value(Work, "Quillon Old SMTP Port").Number, 587);
  }

  void NoCheckedAccountAndTheRunningMailClientNotice() {
    Start(*Env, "", ManagerHeader + Str("Default Mail Account", "00000001") + Accounts);
    TFormWizard W(nullptr);
    W.OutlookExpressRunning = [] { return true; };
    W.show();
    GoToStep(W, 3);
    for (int I = 0; I < W.LVAccounts->topLevelItemCount(); ++I)
      W.LVAccounts->topLevelItem(I)->setCheckState(0, Qt::Unchecked);
    GoToStep(W, 6);
    Click(W.BtnFinish);
    QCOMPARE(W.result(), int(QDialog::Accepted));
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QVERIFY(Boxes->Boxes[0].Kind == TBoxKind::Information);
    QVERIFY(Boxes->Boxes[0].Text.startsWith("Quillon detected Outlook Express is running."));
    QCOMPARE(Value(Account("00000001"), "SMTP Server").Text, std::string("smtp.work.example"));
    QVERIFY(!Value(Account("00000001"), "Quillon Old SMTP Server").Exists);
    QVERIFY(!IsOutlookExpressRunning());
  }

  void DNSPage() {
    Start(*Env, RegistryDword("AutoDetectDNS", 0) + Str("DNSPrimary", "10.1.1.1") + Str("DNSSecondary", "10.1.1.2"),
          "");
    TFormWizard W(nullptr);
    std::vector<std::string> System;
    W.GetSystemDNSServers = [&](std::vector<std::string>& L) { L = System; };
    W.show();
    GoToStep(W, 2);
    QVERIFY(W.RBSpecifyDNS->isChecked());
    QCOMPARE(W.EditDNSPrimary->text(), QString("10.1.1.1"));
    QCOMPARE(W.EditDNSSecondary->text(), QString("10.1.1.2"));
    QVERIFY(W.BtnNext->isEnabled());
    Type(W.EditDNSPrimary, "   ");
    QVERIFY(!W.BtnNext->isEnabled());
    Click(W.RBAutoDetectDNS);
    QVERIFY(W.BtnNext->isEnabled());
    Click(W.RBSpecifyDNS);
    QVERIFY(!W.BtnNext->isEnabled());
    Click(W.BtnBack);
    QVERIFY(W.BtnNext->isEnabled());
    Click(W.BtnNext);
    QVERIFY(!W.BtnNext->isEnabled());

    // Detect: none changes nothing; one fills the primary field only; two fill both.
    Click(W.RBAutoDetectDNS);
    Click(W.BtnDetectDNS);
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Text, QString("No DNS server detected!"));
    QVERIFY(W.RBAutoDetectDNS->isChecked());
    QCOMPARE(W.EditDNSPrimary->text(), QString("   "));
    System = {"127.0.0.53"};
    Click(W.BtnDetectDNS);
    QVERIFY(W.RBSpecifyDNS->isChecked());
    QCOMPARE(W.EditDNSPrimary->text(), QString("127.0.0.53"));
    QCOMPARE(W.EditDNSSecondary->text(), QString("10.1.1.2"));
    System = {"127.0.0.2", "127.0.0.3"};
    Click(W.BtnDetectDNS);
    QCOMPARE(W.EditDNSPrimary->text(), QString("127.0.0.2"));
    QCOMPARE(W.EditDNSSecondary->text(), QString("127.0.0.3"));
    Click(W.RBAutoDetectDNS);
    Click(W.BtnUseDefaultDNS);
    QVERIFY(W.RBSpecifyDNS->isChecked());
    QCOMPARE(W.EditDNSPrimary->text(), QString(DefaultDNSPrimary));
    QCOMPARE(W.EditDNSSecondary->text(), QString(DefaultDNSSecondary));

    // Stored as typed.
    Type(W.EditDNSPrimary, " 127.0.0.9 ");
    Type(W.EditDNSSecondary, "");
    GoToStep(W, 6);
    Click(W.BtnFinish);
    QCOMPARE(Value(SettingsKey, "DNSPrimary").Text, std::string(" 127.0.0.9 "));
    QCOMPARE(Value(SettingsKey, "DNSSecondary").Text, std::string());
    QCOMPARE(Value(SettingsKey, "AutoDetectDNS").Number, 0);
  }

  // In the automatic mode a blank primary server is never saved: the server in force stays,
  // or the default pair comes in; the options dialog can then be applied.
  void MendBlankPrimaryInAutomaticModeIsNeverSaved() {
    struct {
      const char* Name;
      std::string Stored;
      const char* Typed;  // typed over the primary field, nullptr to leave it
      std::string Primary, Secondary;
    } Cases[] = {
        {"stored blank", Str("DNSPrimary", "") + Str("DNSSecondary", ""), nullptr, DefaultDNSPrimary,
         DefaultDNSSecondary},
        {"stored blank, a secondary of its own", Str("DNSPrimary", "  ") + Str("DNSSecondary", "127.0.0.3"), nullptr,
         DefaultDNSPrimary, "127.0.0.3"},
        {"typed blank over the server in force", Str("DNSPrimary", "127.0.0.9") + Str("DNSSecondary", "127.0.0.3"),
         "", "127.0.0.9", "127.0.0.3"},
    };
    for (const auto& C : Cases) {
      Start(*Env, RegistryDword("AutoDetectDNS", 1) + C.Stored, "");
      {
        TFormWizard W(nullptr);
        W.show();
        GoToStep(W, 2);
        QVERIFY2(W.RBAutoDetectDNS->isChecked(), C.Name);
        if (C.Typed) Type(W.EditDNSPrimary, C.Typed);
        QVERIFY2(W.BtnNext->isEnabled(), C.Name);
        GoToStep(W, 6);
        Click(W.BtnFinish);
        QVERIFY2(W.result() == QDialog::Accepted, C.Name);
      }
      QVERIFY2(Value(SettingsKey, "DNSPrimary").Text == C.Primary, C.Name);
      QVERIFY2(Value(SettingsKey, "DNSSecondary").Text == C.Secondary, C.Name);
      QVERIFY2(::DNSPrimary.get() == C.Primary, C.Name);
      TFormOptions Options(nullptr);
      Options.show();
      Click(Options.findChild<QCheckBox*>("CBAutoStartServer"));
      Click(Options.findChild<QPushButton*>("BtnApply"));
      QVERIFY2(Boxes->Boxes.empty(), C.Name);
      QVERIFY2(!Options.findChild<QPushButton*>("BtnApply")->isEnabled(), C.Name);
    }
  }

  void RelayList() {
    const std::string Stored =
        "relay1.example:25:me@example.org:1:bob:secret:example.org|x:y.net;relay2.example:587::0:::;relay3.example:"
        "2525::0:::";
    Start(*Env, Str("RelaySMTPList", Stored + ";bad:25:::;  :25::0:::"), "");
    TFormWizard W(nullptr);
    W.show();
    GoToStep(W, 4);
    QVERIFY(W.CBRelayToSMTP->isChecked());
    QCOMPARE(Column(W.LVSMTPList, 0), QStringList({"relay1.example", "relay2.example", "relay3.example"}));
    QCOMPARE(Column(W.LVSMTPList, 1), QStringList({"25", "587", "2525"}));
    // Up on the first row and Down on the last do nothing.
    SelectRow(W.LVSMTPList, 0);
    Click(W.BtnSMTPUp);
    SelectRow(W.LVSMTPList, 2);
    Click(W.BtnSMTPDown);
    QCOMPARE(Column(W.LVSMTPList, 0), QStringList({"relay1.example", "relay2.example", "relay3.example"}));
    GoToStep(W, 6);
    Click(W.BtnFinish);
    QCOMPARE(Value(SettingsKey, "RelaySMTPList").Text, Stored);

    // Add, a refused duplicate, edit by double click, move, remove.
    TFormWizard W2(nullptr);
    W2.show();
    GoToStep(W2, 4);
    OnNext<TFormEditSMTPItem>([](TFormEditSMTPItem& F) {
      QCOMPARE(F.parentWidget()->objectName(), QString("FormWizard"));
      Type(F.EditRelaySMTPHost, "relay4.example");
      Click(F.BtnOK);
    });
    Click(W2.BtnSMTPAdd);
    OnNext<TFormEditSMTPItem>([](TFormEditSMTPItem& F) {
      Type(F.EditRelaySMTPHost, "relay2.example");
      F.RSERelaySMTPPort->setValue(587);
      Click(F.BtnOK);
      QVERIFY(F.isVisible());
      Click(F.BtnCancel);
    });
    Click(W2.BtnSMTPAdd);
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Text, QString("The duplicate entry already exists in list."));
    OnNext<TFormEditSMTPItem>([](TFormEditSMTPItem& F) {
      QCOMPARE(F.EditRelaySMTPHost->text(), QString("relay3.example"));
      F.RSERelaySMTPPort->setValue(465);
      Click(F.BtnOK);
    });
    SelectRow(W2.LVSMTPList, 2);
    const QRect Row3 = W2.LVSMTPList->visualItemRect(W2.LVSMTPList->topLevelItem(2));
    QTest::mouseDClick(W2.LVSMTPList->viewport(), Qt::LeftButton, Qt::NoModifier, Row3.center());
    QCOMPARE(Column(W2.LVSMTPList, 1), QStringList({"25", "587", "465", "25"}));
    SelectRow(W2.LVSMTPList, 3);
    Click(W2.BtnSMTPUp);
    QCOMPARE(W2.LVSMTPList->currentItem()->text(0), QString("relay4.example"));
    Click(W2.BtnSMTPUp);
    SelectRow(W2.LVSMTPList, 0);
    Click(W2.BtnSMTPDown);
    SelectRow(W2.LVSMTPList, 3);
    Click(W2.BtnSMTPRemove);
    QCOMPARE(Column(W2.LVSMTPList, 0), QStringList({"relay4.example", "relay1.example", "relay2.example"}));
    QVERIFY(W2.LVSMTPList->selectedItems().isEmpty());
    Click(W2.CBRelayToSMTP);
    GoToStep(W2, 6);
    Click(W2.BtnFinish);
    QCOMPARE(Value(SettingsKey, "RelaySMTPList").Text,
             std::string("relay4.example:25::0:::;relay1.example:25:me@example.org:1:bob:secret:example.org|x:y.net;"
                         "relay2.example:587::0:::"));
    QCOMPARE(Value(SettingsKey, "RelayToSMTP").Number, 0);
  }

  // The very first start: no settings file yet.
  void CancelAtTheFirstStartMarksTheWizardRun() {
    TRegistry::ResetForTests();
    InitSettings();
    QVERIFY(!Value(SettingsKey, "WizardAlreadyRun").Exists);
    TFormWizard W(nullptr);
    QCOMPARE(Value(SettingsKey, "WizardAlreadyRun").Number, 1);
    W.show();
    GoToStep(W, 5);
    Click(W.BtnCancel);
    QCOMPARE(W.result(), int(QDialog::Rejected));
    // Nothing else was saved.
    QVERIFY(!Value(SettingsKey, "DNSPrimary").Exists && !Value(SettingsKey, "AutoRun").Exists);
    QVERIFY(!AutostartEntryExists());
  }

  // The autostart entry cannot be written: the error is shown and the wizard stays on its
  // last page, with the settings it saved before.
  void FailureDuringFinishKeepsTheLastPage() {
    Start(*Env, "", "");
    Env->WriteFile(Env->ConfigHome() + "autostart", "not a folder");
    TFormWizard W(nullptr);
    W.show();
    GoToStep(W, 6);
    Click(W.BtnFinish);
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QVERIFY(Boxes->Boxes[0].Kind == TBoxKind::Error);
    QVERIFY(W.isVisible());
    QCOMPARE(W.Step(), 6);
    QVERIFY(W.BtnFinish->isVisible());
    QCOMPARE(Value(SettingsKey, "RelayToSMTP").Number, 1);
    Click(W.BtnCancel);
  }

  void UnreadableRegistry() {
    Start(*Env, "", "");
    Env->WriteRegistry("not a registry file\r\n");
    TRegistry::ResetForTests();
    TFormWizard W(nullptr);
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Text, QString("Error reading registry!"));
    QCOMPARE(Boxes->Boxes[0].Caption, QString("Error"));
    QCOMPARE(W.EditDNSPrimary->text(), QString(DefaultDNSPrimary));
    QVERIFY(W.Label23->isVisibleTo(W.PanelStep3));
  }

  // The first start of the program: the wizard comes before any engine object, and what it
  // saves is in force for the server that starts after it.
  void FirstStartOfTheProgram() {
    const int Port = FreeLoopbackPort();
    WriteHarnessRegistry(*Env, Port, "127.0.0.1",
                         RegistryDword("AutoStartServer", 1) + RegistryDword("SMTPMultiIPBind", 1) +
                             "\"SMTPMultiIPBinds\"=\"127.0.0.1:" + std::to_string(Port) + "\"\r\n");
    TRegistry::ResetForTests();
    InitSettings();
    TFormMain F(false);
    bool Shown = false;
    OnNext<TFormWizard>([&](TFormWizard& W) {
      Shown = true;
      QCOMPARE(W.parentWidget(), &F);
      QCOMPARE(FormWizard, &W);
      QVERIFY(!F.MailStore());
      QVERIFY(!F.ServerRunning());
      GoToStep(W, 2);
      Click(W.RBSpecifyDNS);
      Type(W.EditDNSPrimary, "127.0.0.7");
      GoToStep(W, 6);
      Click(W.BtnFinish);
    });
    F.Initialize();
    QVERIFY(Shown);
    QVERIFY(!FormWizard);
    QVERIFY(F.IsWizardAlreadyRun());
    QVERIFY(F.MailStore());
    QVERIFY(F.ServerRunning());
    QTRY_VERIFY(LogLines(F).contains("Primary DNS Server: 127.0.0.7 , Secondary DNS Server: 127.0.0.1"));
  }

  void ToolsMenuRunsTheWizard() {
    WriteWindowSettings(*Env, FreeLoopbackPort(), "127.0.0.1", false);
    TFormMain F(false);
    F.Initialize();
    QAction* Command = F.findChild<QAction*>("ConfigureWizard1");
    QVERIFY(Command->isEnabled());
    bool Shown = false;
    OnNext<TFormWizard>([&](TFormWizard& W) {
      Shown = true;
      QCOMPARE(W.parentWidget(), &F);
      QCOMPARE(FormWizard, &W);
      QCOMPARE(W.Step(), 1);
      Click(W.BtnCancel);
    });
    Command->trigger();
    QVERIFY(Shown);
    QVERIFY(!FormWizard);
  }

  // Last: the language file's texts stay in force for the rest of the process.
  void LanguageFile() {
    Env->WriteFile(Env->ProgramDir() + "Language/English.ini",
                   "[Info]\nLanguage=English\nFontSize=11\n[Common]\n67=Konto\n"
                   "[FormWizard]\nLabel2.Caption=Willkommen\nLabel11.Caption=DNS-Server\nBtnNext.Caption=&Weiter >\n");
    Start(*Env, "", "");
    TFormWizard W(nullptr);
    QCOMPARE(W.Label2->text(), QString("Willkommen"));
    QCOMPARE(W.Label11->text(), QString("DNS-Server"));
    QCOMPARE(W.BtnNext->text(), QString("&Weiter >"));
    QCOMPARE(W.LVAccounts->headerItem()->text(0), QString("Konto"));
    // The headings take the language file's font: bold, the page headings at 14 points.
    QCOMPARE(W.Label11->font().pointSize(), 11);
    QVERIFY(W.Label11->font().bold());
    QCOMPARE(W.Label2->font().pointSize(), 14);
    QCOMPARE(W.CBAutoRun->font().pointSize(), 11);
  }
};

QTEST_MAIN(TestWizard)
#include "wizard_test.moc"
