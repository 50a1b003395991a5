// The options dialog driven through its widgets: opening leaves it unmodified, every check
// and its message, what apply saves (and what it must not), the restart question over a
// real engine on loopback, the enabling rules, the DNS buttons, and a picture of each page.
#include <QPlainTextEdit>
#include <QtTest>
#include <memory>

#include "OptionsDriver.h"
#include "UiTestSupport.h"
#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "platform/Registry.h"
#include "support/LineClient.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"
#include "ui/common/ZQDiag.h"
#include "ui/main/FormMain.h"
#include "ui/options/FormOptions.h"

class TestFormOptions : public QObject, TOptionsFixture {
  Q_OBJECT

private slots:
  void initTestCase() { QuietSizeHintNotes(); }
  void init() { Start(); }
  void cleanup() { Stop(); }

  void OpensUnmodifiedAndOKWithoutChangesWritesNothing() {
    Settings("\"SMTPPort\"=dword:0000001a\r\n\"RelayToSMTP\"=dword:00000001\r\n"
             "\"RelaySMTPList\"=\"relay.test:587:me@test:1:user:pw:a.test|b.test\"\r\n"
             "\"RelayDomainList\"=\"b.test;a.test\"\r\n\"UseSocksProxy\"=dword:00000001\r\n");
    const std::string Before = Registry();
    auto F = Open();
    QCOMPARE(F->windowTitle(), QString("Options"));
    auto* Tabs = Control<QTabWidget>(F.get(), "PCOptions");
    QStringList Pages, Captions;
    for (int I = 0; I < Tabs->count(); ++I) Pages << Tabs->widget(I)->objectName(), Captions << Tabs->tabText(I);
    QCOMPARE(Pages, QStringList({"TSGeneral", "TabSheet2", "TabSheet4", "TabSheet3", "TSSMTPRelay", "TabSheet1"}));
    QCOMPARE(Captions, QStringList({"General", "DNS", "Proxy", "Server", "SMTP Relay", "Advanced"}));
    QCOMPARE(Tabs->currentIndex(), 0);
    QVERIFY(!Control<QPushButton>(F.get(), "BtnApply")->isEnabled());
    QVERIFY(!F->Modified());
    QVERIFY(Control<QPushButton>(F.get(), "BtnOK")->isDefault());
    QCOMPARE(Control<QLineEdit>(F.get(), "EditSMTPPort")->text(), QString("26"));
    QCOMPARE(Control<QSpinBox>(F.get(), "RSESenderMaxThreadCount")->maximum(), 15);
    QCOMPARE(Control<QSpinBox>(F.get(), "RSESMTPMaxConnections")->maximum(), 10);
    QCOMPARE(Control<QSpinBox>(F.get(), "RSESMTPRcptLimit")->maximum(), 5000);

    Press(Control<QPushButton>(F.get(), "BtnOK"));
    QCOMPARE(F->result(), int(QDialog::Accepted));
    QVERIFY(!F->isVisible());
    QCOMPARE(Texts(), QStringList());
    QCOMPARE(Registry(), Before);
  }

  // Tab moves through a page row by row.
  void TabOrder() {
    Settings("");
    auto F = Open();
    auto Chain = [&](const char* First, int Count) {
      QStringList Names;
      for (QWidget* W = Control<QWidget>(F.get(), First); Names.size() < Count; W = W->nextInFocusChain())
        if ((W->focusPolicy() & Qt::TabFocus) && !W->objectName().isEmpty() && !W->objectName().startsWith("qt_"))
          Names << W->objectName();
      return Names;
    };
    QCOMPARE(Chain("RBAutoDetectDNS", 8), QStringList({"RBAutoDetectDNS", "BtnAutoDetectDNS", "RBSpecifyDNS",
                                                       "EditDNSPrimary", "EditDNSSecondary", "BtnUseDefaultDNS",
                                                       "RSEDNSQueryTimeout", "MemoDNSDetectResult"}));
    QCOMPARE(Chain("EditSMTPPort", 19),
             QStringList({"EditSMTPPort", "RSESMTPMaxConnections", "CBLocalUserOnly", "CBSMTPAuthLogin",
                          "EditSMTPLoginUsername", "EditSMTPLoginPassword", "CBAuthByFrom", "CBSMTPRcptLimit",
                          "RSESMTPRcptLimit", "BtnIPAdrSetting", "BtnConnectionCtrl", "BtnAttFilter",
                          "BtnFromAddrSetting", "RSESenderMaxThreadCount", "RSESenderConntecTimeout",
                          "EditSenderHostname", "CBSenderPauseAfterSent", "RSESenderPauseMailCount",
                          "RSESenderPauseTime"}));
    QCOMPARE(Chain("BtnOK", 3), QStringList({"BtnOK", "BtnCancel", "BtnApply"}));
  }

  // The language file comes first; column and row texts come from the message table.
  void LanguageFileReplacesTheTexts() {
    Env->WriteFile(Env->ProgramDir() + "Language/Test.ini",
                   "[Info]\r\nLanguage=Test\r\n[Common]\r\n63=Rechner\r\n85=Gesendet\r\n[FormOptions]\r\n"
                   "Caption=Einstellungen\r\nCBAutoRun.Caption=Mit dem Desktop starten\r\n"
                   "TSGeneral.Caption=Allgemein\r\n"
                   "CBDelMessageAfterSent.Caption=Alte Mails l\xc3\xb6schen nach:\r\nEditSMTPPort.Text=2500\r\n");
    Settings("\"LanguageName\"=\"Test.ini\"\r\n");
    auto F = Open();
    QCOMPARE(F->windowTitle(), QString("Einstellungen"));
    QCOMPARE(Control<QCheckBox>(F.get(), "CBAutoRun")->text(), QString("Mit dem Desktop starten"));
    QCOMPARE(Control<QTabWidget>(F.get(), "PCOptions")->tabText(0), QString("Allgemein"));
    QCOMPARE(Control<QTreeWidget>(F.get(), "LVSMTPList")->headerItem()->text(0), QString("Rechner"));
    QCOMPARE(Control<QTreeWidget>(F.get(), "LVSoundEvent")->topLevelItem(0)->text(0), QString("Gesendet"));
    QCOMPARE(Control<QSpinBox>(F.get(), "RSEDelMessageDelay")->accessibleName(), QString("Alte Mails löschen nach:"));
    // The settings are loaded after the language file.
    QCOMPARE(Control<QLineEdit>(F.get(), "EditSMTPPort")->text(), QString("25"));
    QVERIFY(!F->Modified());
  }

  void Validation_data() {
    QTest::addColumn<bool>("Proxy");
    QTest::addColumn<QString>("ProxyHost");
    QTest::addColumn<QString>("ProxyPort");
    QTest::addColumn<QString>("SMTPPort");
    QTest::addColumn<bool>("AutoDNS");
    QTest::addColumn<QString>("Primary");
    QTest::addColumn<int>("Notice");  // 0 off, 1 to the sender, 2 to the special address
    QTest::addColumn<QString>("Address");
    QTest::addColumn<QString>("Message");  // empty: accepted
    const QString Smtp = "'%1' is not valid value of SMTP port", Socks = "'%1' is not valid value of socks port";
    auto Row = [](const char* Name) -> QTestData& { return QTest::newRow(Name); };
    Row("SMTP port 1") << false << "" << "" << "1" << true << "127.0.0.1" << 0 << "" << "";
    Row("SMTP port 65535") << false << "" << "" << "65535" << true << "127.0.0.1" << 0 << "" << "";
    for (const char* Bad : {"0", "65536", "-25", "25a", "abc", ""})
      Row(qPrintable(QString("SMTP port '%1'").arg(Bad)))
          << false << "" << "" << Bad << true << "127.0.0.1" << 0 << "" << Smtp.arg(Bad);
    Row("proxy off: blank host, bad port") << false << "" << "x" << "25" << true << "127.0.0.1" << 0 << "" << "";
    Row("proxy on: blank host") << true << "  " << "1080" << "25" << true << "127.0.0.1" << 0 << ""
                                << "You must set an available Socks Proxy server.";
    Row("proxy on: port 1") << true << "127.0.0.1" << "1" << "25" << true << "127.0.0.1" << 0 << "" << "";
    Row("proxy on: port 65535") << true << "127.0.0.1" << "65535" << "25" << true << "127.0.0.1" << 0 << "" << "";
    for (const char* Bad : {"0", "65536", "-25", "10a8"})
      Row(qPrintable(QString("proxy port '%1'").arg(Bad)))
          << true << "127.0.0.1" << Bad << "25" << true << "127.0.0.1" << 0 << "" << Socks.arg(Bad);
    Row("proxy port before SMTP port") << true << "127.0.0.1" << "0" << "0" << true << "127.0.0.1" << 0 << ""
                                       << Socks.arg("0");
    Row("SMTP port before DNS") << false << "" << "" << "0" << true << "" << 0 << "" << Smtp.arg("0");
    Row("automatic DNS, blank primary") << false << "" << "" << "25" << true << " " << 0 << ""
                                        << "You must set Primary DNS Server!";
    Row("specified DNS, blank primary") << false << "" << "" << "25" << false << "" << 0 << ""
                                        << "You must set Primary DNS Server!";
    Row("specified DNS") << false << "" << "" << "25" << false << "127.0.0.1" << 0 << "" << "";
    Row("notices off, bad address") << false << "" << "" << "25" << true << "127.0.0.1" << 0 << "x" << "";
    Row("notices to the sender, blank address") << false << "" << "" << "25" << true << "127.0.0.1" << 1 << ""
                                                << "";
    Row("special address blank") << false << "" << "" << "25" << true << "127.0.0.1" << 2 << "  "
                                 << "You must set an available mail address to send notify mail.";
    Row("special address without @")
        << false << "" << "" << "25" << true << "127.0.0.1" << 2 << "postmaster"
        << "postmaster is not a valid mail address. You must set an available mail address to send notify mail.";
    Row("special address valid") << false << "" << "" << "25" << true << "127.0.0.1" << 2 << "admin@example.com"
                                 << "";
  }

  void Validation() {
    QFETCH(bool, Proxy);
    QFETCH(QString, ProxyHost);
    QFETCH(QString, ProxyPort);
    QFETCH(QString, SMTPPort);
    QFETCH(bool, AutoDNS);
    QFETCH(QString, Primary);
    QFETCH(int, Notice);
    QFETCH(QString, Address);
    QFETCH(QString, Message);
    Settings("\"SocksPort\"=dword:00000438\r\n");
    const std::string Before = Registry();
    auto F = Open();
    QWidget* W = F.get();
    // Fields are typed while they are enabled, then the switches take their final state.
    SetChecked(Control<QCheckBox>(W, "CBUseSocksProxy"), true);
    Enter(Control<QLineEdit>(W, "EditSocksHost"), ProxyHost);
    Enter(Control<QLineEdit>(W, "EditSocksPort"), ProxyPort);
    SetChecked(Control<QCheckBox>(W, "CBUseSocksProxy"), Proxy);
    Enter(Control<QLineEdit>(W, "EditSMTPPort"), SMTPPort);
    Press(Control<QRadioButton>(W, "RBSpecifyDNS"));
    Enter(Control<QLineEdit>(W, "EditDNSPrimary"), Primary);
    Press(Control<QRadioButton>(W, AutoDNS ? "RBAutoDetectDNS" : "RBSpecifyDNS"));
    SetChecked(Control<QCheckBox>(W, "CBSendNotifyMail"), true);
    Press(Control<QRadioButton>(W, "RBNotifySpecialMail"));
    Enter(Control<QLineEdit>(W, "EditSpecialNotifyMail"), Address);
    if (Notice == 1) Press(Control<QRadioButton>(W, "RBNotifyMailSender"));
    SetChecked(Control<QCheckBox>(W, "CBSendNotifyMail"), Notice != 0);

    auto* Apply = Control<QPushButton>(W, "BtnApply");
    QVERIFY(Apply->isEnabled());
    Press(Apply);
    if (Message.isEmpty()) {
      QCOMPARE(Texts(), QStringList());
      QVERIFY(!Apply->isEnabled());
      QVERIFY(Stored("\"SMTPPort\"=dword:" + Dword(SMTPPort.toInt())));
    } else {
      QCOMPARE(Texts(), QStringList({Message}));
      QVERIFY(Boxes->Boxes[0].Kind == TBoxKind::Error);
      QCOMPARE(Boxes->Boxes[0].Caption, QString("Quillon"));
      QVERIFY(Apply->isEnabled());
      QCOMPARE(Registry(), Before);
      QCOMPARE(::SMTPPort.load(), 25);
      // OK refuses the same way and keeps the dialog open.
      Boxes->Boxes.clear();
      Press(Control<QPushButton>(W, "BtnOK"));
      QCOMPARE(Texts(), QStringList({Message}));
      QVERIFY(F->isVisible());
    }
  }

  // Each control alone enables Apply, and OK saves what it shows.
  void EveryControlMarksAndOKSavesIt() {
    struct TCase {
      const char* Name;
      std::string Settings;
      std::function<void(QWidget*)> Change;
      std::string Line;
    };
    const std::string Notices = "\"SendNotifyMail\"=dword:00000001\r\n\"NotifyMailSender\"=dword:00000000\r\n"
                                "\"SpecialNotifyMail\"=\"a@test.x\"\r\n";
    const std::vector<TCase> Cases = {
        {"special address alone", Notices,
         [](QWidget* W) { Enter(Control<QLineEdit>(W, "EditSpecialNotifyMail"), "b@test.x"); },
         "\"SpecialNotifyMail\"=\"b@test.x\""},
        {"delete notified mail alone", Notices, [](QWidget* W) { Press(Control<QCheckBox>(W, "CBDelNotifiedMail")); },
         "\"DelNotifiedMail\"=dword:00000000"},
        {"minimize to tray checked stores MinToTray false", "\"MinToTray\"=dword:00000001\r\n",
         [](QWidget* W) { SetChecked(Control<QCheckBox>(W, "CBMinToTray"), true); }, "\"MinToTray\"=dword:00000000"},
        {"minimize to tray unchecked stores MinToTray true", "",
         [](QWidget* W) { SetChecked(Control<QCheckBox>(W, "CBMinToTray"), false); },
         "\"MinToTray\"=dword:00000001"},
        {"socks version", "\"UseSocksProxy\"=dword:00000001\r\n\"SocksHost\"=\"127.0.0.1\"\r\n"
                          "\"SocksPort\"=dword:00000438\r\n",
         [](QWidget* W) {
           auto* C = Control<QComboBox>(W, "CBSocksVersion");
           ShowPage(C);
           C->setFocus();
           QTest::keyClick(C, Qt::Key_Down);
           QTest::keyClick(C, Qt::Key_Down);
         },
         "\"SocksVersion\"=dword:00000002"},
        {"pause time", "\"SenderPauseAfterSent\"=dword:00000001\r\n",
         [](QWidget* W) { Type(Control<QSpinBox>(W, "RSESenderPauseTime"), "77"); },
         "\"SenderPauseTime\"=dword:0000004d"},
        {"use default DNS", "\"AutoDetectDNS\"=dword:00000000\r\n\"DNSSecondary\"=\"\"\r\n",
         [](QWidget* W) { Press(Control<QPushButton>(W, "BtnUseDefaultDNS")); },
         std::string("\"DNSSecondary\"=\"") + DefaultDNSSecondary + "\""},
    };
    for (const TCase& C : Cases) {
      Settings(C.Settings);
      auto F = Open();
      QVERIFY2(!F->Modified(), C.Name);
      C.Change(F.get());
      QVERIFY2(Control<QPushButton>(F.get(), "BtnApply")->isEnabled(), C.Name);
      Press(Control<QPushButton>(F.get(), "BtnOK"));
      QVERIFY2(!F->isVisible(), C.Name);
      QVERIFY2(Stored(C.Line), C.Name);
      QCOMPARE(Texts(), QStringList());
    }
  }

  void ApplyThenCancelKeepsTheAppliedSettings() {
    Settings("");
    auto F = Open();
    Press(Control<QCheckBox>(F.get(), "CBAutoStartServer"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QVERIFY(F->isVisible());
    QVERIFY(!Control<QPushButton>(F.get(), "BtnApply")->isEnabled());
    QVERIFY(Stored("\"AutoStartServer\"=dword:00000000"));
    Press(Control<QCheckBox>(F.get(), "CBRetrySend"));
    Press(Control<QPushButton>(F.get(), "BtnCancel"));
    QCOMPARE(F->result(), int(QDialog::Rejected));
    QVERIFY(Stored("\"AutoStartServer\"=dword:00000000"));
    QVERIFY(Stored("\"RetrySend\"=dword:00000000"));
    QVERIFY(!::AutoStartServer && !::RetrySend);
  }

  // The question comes only while the server runs; Yes restarts it with the new settings,
  // No leaves it running with the copies it took when it started.
  void RestartQuestionOnlyWhileTheServerRuns() {
    const int Port = FreeLoopbackPort();
    Settings("\"WizardAlreadyRun\"=dword:00000001\r\n\"AutoStartServer\"=dword:00000000\r\n\"SMTPMultiIPBind\"=dword:00000001\r\n"
             "\"SMTPMultiIPBinds\"=\"127.0.0.1:" + std::to_string(Port) + "\"\r\n"
             "\"AutoDetectDNS\"=dword:00000000\r\n\"DNSPrimary\"=\"127.0.0.1\"\r\n\"DNSSecondary\"=\"127.0.0.1\"\r\n");
    TFormMain Main(false);
    Main.Initialize();
    const QString Question =
        "Some options will not take effect until you restart server. Do you want to restart server now?";
    auto MailFrom = [&] {
      TLineClient C(Port);
      C.Read();
      C.Cmd("HELO test");
      return C.Cmd("MAIL FROM:<a@test.x>");
    };

    auto F = Open(&Main);
    Press(Control<QCheckBox>(F.get(), "CBSMTPAuthLogin"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QCOMPARE(Texts(), QStringList());  // stopped: no question
    QVERIFY(!Main.ServerRunning());

    Main.StartServer();
    QVERIFY(Main.ServerRunning());
    QCOMPARE(MailFrom().substr(0, 3), std::string("500"));  // login required
    Press(Control<QCheckBox>(F.get(), "CBSMTPAuthLogin"));
    Boxes->Answer = false;
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QCOMPARE(Texts(), QStringList({Question}));
    QVERIFY(Boxes->Boxes[0].Kind == TBoxKind::Question);
    QVERIFY(Main.ServerRunning());
    QCOMPARE(MailFrom().substr(0, 3), std::string("500"));  // still the old copy

    // Every apply asks, whatever changed.
    Boxes->Boxes.clear();
    Boxes->Answer = true;
    Press(Control<QCheckBox>(F.get(), "CBAutoRun"));
    Press(Control<QCheckBox>(F.get(), "CBAutoRun"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QCOMPARE(Texts(), QStringList({Question}));
    QVERIFY(Main.ServerRunning());
    QCOMPARE(MailFrom().substr(0, 3), std::string("250"));  // restarted without login

    // OK with nothing changed asks nothing.
    Boxes->Boxes.clear();
    Press(Control<QPushButton>(F.get(), "BtnOK"));
    QCOMPARE(Texts(), QStringList());
    Main.StopServer();
  }

  void EnablingRules() {
    Settings("\"UseSocksProxy\"=dword:00000001\r\n\"SocksAuthentication\"=dword:00000001\r\n"
             "\"LocalUserOnly\"=dword:00000000\r\n\"RelayToSMTP\"=dword:00000001\r\n\"RelayDomains\"=dword:00000001\r\n"
             "\"RelayDomainList\"=\"a.test\"\r\n");
    auto F = Open();
    QWidget* W = F.get();
    auto On = [&](const char* Name) { return Control<QWidget>(W, Name)->isEnabled(); };
    QVERIFY(On("BtnConnectionCtrl"));
    Press(Control<QCheckBox>(W, "CBLocalUserOnly"));
    QVERIFY(!On("BtnConnectionCtrl"));

    for (const char* N : {"EditSocksUsername", "LabelPassword", "EditSocksHost", "CBSocksAuthentication"})
      QVERIFY2(On(N), N);
    Press(Control<QCheckBox>(W, "CBUseSocksProxy"));
    QVERIFY(Control<QCheckBox>(W, "CBSocksAuthentication")->isChecked());
    for (const char* N : {"LabelSocksVersion", "CBSocksVersion", "LabelHost", "EditSocksHost", "LabelPort",
                          "EditSocksPort", "CBSocksAuthentication", "LabelUsername", "EditSocksUsername",
                          "LabelPassword", "EditSocksPassword"})
      QVERIFY2(!On(N), N);

    // The automatic DNS mode switches the fixed servers off; detection is offered here.
    QVERIFY(On("RBAutoDetectDNS") && On("BtnAutoDetectDNS"));
    QVERIFY(Control<QRadioButton>(W, "RBAutoDetectDNS")->isChecked());
    QVERIFY(::AutoDetectDNS);
    for (const char* N : {"Label1", "Label2", "EditDNSPrimary", "EditDNSSecondary", "BtnUseDefaultDNS"})
      QVERIFY2(!On(N), N);
    Press(Control<QRadioButton>(W, "RBSpecifyDNS"));
    for (const char* N : {"Label1", "Label2", "EditDNSPrimary", "EditDNSSecondary", "BtnUseDefaultDNS"})
      QVERIFY2(On(N), N);

    // A list view switched off loses its selection.
    auto* Domains = Control<QTreeWidget>(W, "LVRelayDomainList");
    Select(Domains, 0);
    QCOMPARE(Domains->selectedItems().size(), 1);
    Press(Control<QCheckBox>(W, "CBRelayToSMTP"));
    QVERIFY(!Domains->isEnabled() && Domains->selectedItems().isEmpty());
    QVERIFY(!On("CBRelayDomains") && !On("BtnRelayDomainAdd") && !On("BtnSMTPUp"));

    // The sound list selects its first row while it is on.
    auto* Sounds = Control<QTreeWidget>(W, "LVSoundEvent");
    QCOMPARE(Sounds->selectedItems().value(0), Sounds->topLevelItem(0));
    Press(Control<QCheckBox>(W, "CBPlayEventSound"));
    QVERIFY(Sounds->selectedItems().isEmpty() && !On("BtnSoundPlay"));

    QVERIFY(!On("EditSpecialNotifyMail") && !On("RBNotifyMailSender"));
    SetChecked(Control<QCheckBox>(W, "CBSendNotifyMail"), true);
    QVERIFY(On("RBNotifyMailSender") && !On("EditSpecialNotifyMail"));
    QVERIFY(On("RSEDelMessageDelay") && On("BtnIPAdrSetting") && On("BtnAttFilter") && On("RSEDNSQueryTimeout"));
  }

  void DNSButtons() {
    Settings("");
    auto F = Open();
    std::vector<std::string> Machine = {"127.0.0.53", "127.0.0.54"};
    F->GetSystemDNSServers = [&](std::vector<std::string>& List) { List = Machine; };
    auto* Memo = Control<QPlainTextEdit>(F.get(), "MemoDNSDetectResult");
    Press(Control<QPushButton>(F.get(), "BtnAutoDetectDNS"));
    QCOMPARE(Memo->toPlainText(), QString("127.0.0.53\n127.0.0.54"));
    QCOMPARE(Texts(), QStringList());
    QVERIFY(!F->Modified());
    Machine.clear();
    Press(Control<QPushButton>(F.get(), "BtnAutoDetectDNS"));
    QCOMPARE(Memo->toPlainText(), QString());
    QCOMPARE(Texts(), QStringList({"No DNS server detected!"}));
    QVERIFY(Boxes->Boxes[0].Kind == TBoxKind::Information);
    QVERIFY(!F->Modified());

    Press(Control<QRadioButton>(F.get(), "RBSpecifyDNS"));
    Enter(Control<QLineEdit>(F.get(), "EditDNSPrimary"), "127.0.0.9");
    Press(Control<QPushButton>(F.get(), "BtnUseDefaultDNS"));
    QCOMPARE(Control<QLineEdit>(F.get(), "EditDNSPrimary")->text(), QString(DefaultDNSPrimary));
    QCOMPARE(Control<QLineEdit>(F.get(), "EditDNSSecondary")->text(), QString(DefaultDNSSecondary));
    QVERIFY(Control<QRadioButton>(F.get(), "RBSpecifyDNS")->isChecked());
    QVERIFY(F->Modified());
  }

  // A proxy port that is no number, with the proxy off, keeps the stored port; the rest is
  // saved all the same.
  void MendBadProxyPortWithTheProxyOffKeepsTheStoredPort() {
    Settings("\"SocksPort\"=dword:00000438\r\n");
    auto F = Open();
    SetChecked(Control<QCheckBox>(F.get(), "CBUseSocksProxy"), true);
    Enter(Control<QLineEdit>(F.get(), "EditSocksPort"), "10x80");
    SetChecked(Control<QCheckBox>(F.get(), "CBUseSocksProxy"), false);
    Press(Control<QCheckBox>(F.get(), "CBAutoStartServer"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QCOMPARE(Texts(), QStringList());
    QVERIFY(Stored("\"SocksPort\"=dword:00000438"));
    QVERIFY(Stored("\"AutoStartServer\"=dword:00000000"));
    QVERIFY(!Control<QPushButton>(F.get(), "BtnApply")->isEnabled());
    // A number out of range is taken as it is while the proxy is off.
    SetChecked(Control<QCheckBox>(F.get(), "CBUseSocksProxy"), true);
    Enter(Control<QLineEdit>(F.get(), "EditSocksPort"), "70000");
    SetChecked(Control<QCheckBox>(F.get(), "CBUseSocksProxy"), false);
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QVERIFY(Stored("\"SocksPort\"=dword:" + Dword(70000)));
  }

  // An autostart folder that cannot be written: the settings are saved and the user told.
  void MendAutoRunFailureIsReportedAndTheSettingsStaySaved() {
    Settings("");
    Env->WriteFile(Env->ConfigHome() + "autostart", "not a folder");
    auto F = Open();
    Press(Control<QCheckBox>(F.get(), "CBAutoRun"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QVERIFY(Boxes->Boxes[0].Kind == TBoxKind::Error);
    QVERIFY2(Texts()[0].startsWith("Can not update the autostart entry: "), qPrintable(Texts()[0]));
    QVERIFY(Texts()[0].endsWith("The other options have been saved."));
    QVERIFY(Stored("\"AutoRun\"=dword:00000001"));
    QVERIFY(!Control<QPushButton>(F.get(), "BtnApply")->isEnabled());
    // The text is in the message table, where a language file can replace it.
    LangStrings.Set(100, "Autostart: %s!");
    Boxes->Boxes.clear();
    Press(Control<QCheckBox>(F.get(), "CBAutoRun"));
    Press(Control<QCheckBox>(F.get(), "CBAutoRun"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QVERIFY2(Texts().value(0).startsWith("Autostart: ") && Texts()[0].endsWith("!"), qPrintable(Texts().value(0)));
    LangStrings.ResetToDefaults();

    // Once the folder can be written the entry follows the setting.
    std::filesystem::remove(Env->ConfigHome() + "autostart");
    Press(Control<QCheckBox>(F.get(), "CBAutoRun"));
    Press(Control<QCheckBox>(F.get(), "CBAutoRun"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QVERIFY(std::filesystem::exists(Env->ConfigHome() + "autostart/quillon.desktop"));
    Press(Control<QCheckBox>(F.get(), "CBAutoRun"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QVERIFY(!std::filesystem::exists(Env->ConfigHome() + "autostart/quillon.desktop"));
  }

  // A stored version the drop-down does not list shows as the default and is saved as it;
  // the list never shows an empty item nor stores -1.
  void MendSocksVersionOutsideTheListLoadsAsTheDefault() {
    for (int Unlisted : {5, -1}) {
      Settings("\"UseSocksProxy\"=dword:00000001\r\n\"SocksHost\"=\"127.0.0.1\"\r\n"
               "\"SocksPort\"=dword:00000438\r\n\"SocksVersion\"=dword:" + Dword(Unlisted) + "\r\n");
      auto F = Open();
      auto* Version = Control<QComboBox>(F.get(), "CBSocksVersion");
      QCOMPARE(Version->currentIndex(), 0);
      QCOMPARE(Version->currentText(), QString("Socks5"));
      QVERIFY(!F->Modified());
      Press(Control<QCheckBox>(F.get(), "CBAutoStartServer"));
      Press(Control<QPushButton>(F.get(), "BtnApply"));
      QCOMPARE(Texts(), QStringList());
      QVERIFY(Stored("\"SocksVersion\"=dword:00000000"));
      QCOMPARE(::SocksVersion.load(), 0);
    }
  }

  // A settings file that cannot be written: the box, and Apply stays on with every field as
  // the user left it; once the file can be written, Apply saves.
  void MendFailedSaveKeepsApplyOn() {
    Settings("");
    // The program's box for the settings unit, as its main block sets it up.
    SetErrorBoxHandler([](const std::string& Text, const std::string& Caption) { ErrorBoxCaption(Text, Caption); });
    struct TUnset {
      ~TUnset() { SetErrorBoxHandler(nullptr); }
    } const Unset;
    auto F = Open();
    auto* Apply = Control<QPushButton>(F.get(), "BtnApply");
    Press(Control<QCheckBox>(F.get(), "CBRetrySend"));
    Enter(Control<QLineEdit>(F.get(), "EditSenderHostname"), "helo.test");
    // The folder of the settings file becomes a file: nothing can be written into it.
    const std::string Folder = Env->ConfigHome() + "quillon";
    std::filesystem::remove_all(Folder);
    Env->WriteFile(Folder, "not a folder");
    Press(Apply);
    QCOMPARE(Texts(), QStringList({"Error reading registry!"}));
    QVERIFY(Boxes->Boxes[0].Kind == TBoxKind::Error);
    QCOMPARE(Boxes->Boxes[0].Caption, QString("Error"));
    QVERIFY(Apply->isEnabled() && F->Modified());
    QVERIFY(Control<QCheckBox>(F.get(), "CBRetrySend")->isChecked());
    QCOMPARE(Control<QLineEdit>(F.get(), "EditSenderHostname")->text(), QString("helo.test"));
    // OK fails the same way and keeps the dialog open.
    Boxes->Boxes.clear();
    Press(Control<QPushButton>(F.get(), "BtnOK"));
    QCOMPARE(Texts(), QStringList({"Error reading registry!"}));
    QVERIFY(F->isVisible() && Apply->isEnabled());

    // A settings file that cannot be read is no better.
    std::filesystem::remove(Folder);
    Env->WriteFile(Folder + "/registry.reg", "garbage");
    TRegistry::ResetForTests();
    Boxes->Boxes.clear();
    Press(Apply);
    QCOMPARE(Texts(), QStringList({"Error reading registry!"}));
    QVERIFY(Apply->isEnabled());

    std::filesystem::remove(Folder + "/registry.reg");
    TRegistry::ResetForTests();
    Boxes->Boxes.clear();
    Press(Apply);
    QCOMPARE(Texts(), QStringList());
    QVERIFY(!Apply->isEnabled() && !F->Modified());
    QVERIFY(Stored("\"RetrySend\"=dword:00000001"));
    QVERIFY(Stored("\"SenderHostname\"=\"helo.test\""));
  }

  // Both password fields mask with "*", as the relay server editor does.
  void PasswordFieldsMaskWithAsterisks() {
    Settings("\"UseSocksProxy\"=dword:00000001\r\n\"SocksAuthentication\"=dword:00000001\r\n"
             "\"SMTPAUthLogin\"=dword:00000001\r\n");
    auto F = Open();
    for (const char* Name : {"EditSocksPassword", "EditSMTPLoginPassword"}) {
      auto* Edit = Control<QLineEdit>(F.get(), Name);
      Enter(Edit, "secret");
      QCOMPARE(Edit->text(), QString("secret"));
      QVERIFY2(Edit->displayText() == QString("******"), qPrintable(Name + (": " + Edit->displayText())));
    }
  }

  // A time-out of 0 would mean none at all in the engine: the fields take at least 1.
  void MendTimeOutsTakeAtLeastOne() {
    Settings("\"DNSQueryTimeout\"=dword:00000000\r\n\"SenderConntecTimeout\"=dword:00000000\r\n");
    auto F = Open();
    auto* Dns = Control<QSpinBox>(F.get(), "RSEDNSQueryTimeout");
    auto* Connect = Control<QSpinBox>(F.get(), "RSESenderConntecTimeout");
    QCOMPARE(Dns->value(), 1);
    QCOMPARE(Connect->value(), 1);
    Type(Dns, "0");
    Type(Connect, "0");
    QCOMPARE(Dns->value(), 1);
    QCOMPARE(Connect->value(), 1);
    Press(Control<QCheckBox>(F.get(), "CBAutoStartServer"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QVERIFY(Stored("\"DNSQueryTimeout\"=dword:00000001"));
    QVERIFY(Stored("\"SenderConntecTimeout\"=dword:00000001"));
    // Spin fields keep their ranges; one without a range from the Parts takes large values.
    Type(Dns, "250000");
    QCOMPARE(Dns->value(), 250000);
    Type(Control<QSpinBox>(F.get(), "RSERetryInterval"), "5000");
    QVERIFY(Control<QSpinBox>(F.get(), "RSERetryInterval")->value() <= 1000);
  }

  void OptionsCommandOpensTheDialogModally() {
    Settings("\"WizardAlreadyRun\"=dword:00000001\r\n\"AutoStartServer\"=dword:00000000\r\n");
    TFormMain Main(false);
    Main.Initialize();
    for (const char* Name : {"SIOptions", "MIOptions", "PMIOptions"}) {
      QAction* A = Main.findChild<QAction*>(Name);
      QVERIFY2(A && A->isEnabled(), Name);
      bool Seen = false;
      QTimer Timer;
      Timer.setSingleShot(true);
      connect(&Timer, &QTimer::timeout, [&] {
        auto* D = qobject_cast<TFormOptions*>(QApplication::activeModalWidget());
        Seen = D && D == FormOptions && D->parentWidget() == &Main;
        // The tray's command while the dialog is open opens no second one.
        Main.findChild<QAction*>("PMIOptions")->trigger();
        Seen = Seen && Main.findChildren<TFormOptions*>().size() == 1;
        if (D) Press(Control<QPushButton>(D, "BtnCancel"));
      });
      Timer.start(0);
      A->trigger();
      QVERIFY2(Seen, Name);
      QCOMPARE(FormOptions, nullptr);
    }
  }

  // A picture of each page for a person to look at, in the build folder.
  void Screenshots() {
    Settings("\"RelayToSMTP\"=dword:00000001\r\n\"RelaySMTPList\"=\"smtp.relay.test:587::1:user:pw:\"\r\n"
             "\"RelayDomains\"=dword:00000001\r\n\"RelayDomainList\"=\"example.org;example.com\"\r\n"
             "\"SendNotifyMail\"=dword:00000001\r\n");
    auto F = Open();
    auto* Tabs = Control<QTabWidget>(F.get(), "PCOptions");
    for (int I = 0; I < Tabs->count(); ++I) {
      Tabs->setCurrentIndex(I);
      QCoreApplication::processEvents();
      SaveScreenshot(F.get(), "FormOptions-" + Tabs->widget(I)->objectName());
    }
  }
};

QTEST_MAIN(TestFormOptions)
#include "formoptions_test.moc"
