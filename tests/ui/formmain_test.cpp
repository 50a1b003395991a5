// The main window over a real engine on loopback: start-up order, the server commands
// with their controls, a port already taken, the DNS choice, closing and quitting.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QtTest>
#include <memory>
#include <unistd.h>

#include "UiTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "platform/Registry.h"
#include "support/LineClient.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/TestEnv.h"
#include "ui/main/FormMain.h"

namespace {
const char* const Black = "#000000";
const char* const Blue = "#0000ff";
const char* const Red = "#ff0000";

bool Listening(int Port) {
  try {
    TLineClient C(Port);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

QStringList Names(const QList<QAction*>& Actions) {
  QStringList R;
  for (QAction* A : Actions) R << (A->isSeparator() ? "-" : A->menu() ? A->menu()->objectName() : A->objectName());
  return R;
}
}  // namespace

class TestFormMain : public QObject {
  Q_OBJECT
  std::unique_ptr<TTestEnv> Env;
  std::unique_ptr<TRecordingBoxes> Boxes;
  int Port = 0;

  // Settings of a server that listens on loopback only, with a DNS server that is never asked.
  void WriteSettings(bool AutoStart, const std::string& More = "") {
    WriteWindowSettings(*Env, Port, "127.0.0.1", AutoStart, More);
  }

  std::unique_ptr<TFormMain> Started(bool Tray = false) {
    auto F = std::make_unique<TFormMain>(Tray);
    F->Initialize();
    return F;
  }

  QAction* Action(TFormMain& F, const char* Name) { return F.findChild<QAction*>(Name); }

  void VerifyServerControls(TFormMain& F, bool Running) {
    for (const char* N : {"SIStartServer", "MIStart", "PMIStartServer"}) QCOMPARE(Action(F, N)->isEnabled(), !Running);
    for (const char* N : {"SIStopServer", "MIStop", "PMIStopServer"}) QCOMPARE(Action(F, N)->isEnabled(), Running);
  }

  void VerifyPauseChecked(TFormMain& F, bool Paused) {
    for (const char* N : {"SIPause", "MIPause", "PMIPause"}) QCOMPARE(Action(F, N)->isChecked(), Paused);
  }

  // Waits until Text appears in the log pane after the line that the previous wait found
  // (connection threads log lines of their own in between).
  int FSeen = -1;
  bool LogShows(TFormMain& F, const QString& Text) {
    auto Find = [&] { return static_cast<int>(LogLines(F).indexOf(Text, FSeen + 1)); };
    if (!QTest::qWaitFor([&] { return Find() >= 0; }, 5000)) return false;
    FSeen = Find();
    return true;
  }

private slots:
  void init() {
    Env = std::make_unique<TTestEnv>();
    Boxes = std::make_unique<TRecordingBoxes>();
    Port = FreeLoopbackPort();
    FSeen = -1;
  }
  void cleanup() {
    Boxes.reset();
    Env.reset();
  }

  void ComposedAsDesigned() {
    WriteSettings(false);
    TFormMain F(false);
    QCOMPARE(F.objectName(), QString("FormMain"));
    QCOMPARE(F.size(), QSize(600, 350));
    QCOMPARE(Names(F.menuBar()->actions()),
             QStringList({"Server1", "Messages1", "View1", "Tools1", "Language1", "Help1"}));
    auto Menu = [&](const char* N) { return Names(F.findChild<QMenu*>(N)->actions()); };
    QCOMPARE(Menu("Server1"), QStringList({"MIStart", "MIStop", "MIPause", "-", "Exit1"}));
    QCOMPARE(Menu("Messages1"), QStringList({"Delete1", "Clear1", "Retry1", "-", "ViewSource1"}));
    QCOMPARE(Menu("View1"), QStringList({"SortBy1", "MIViewlogs"}));
    QCOMPARE(Menu("Tools1"), QStringList({"MIOptions", "-", "ConfigureWizard1"}));
    QCOMPARE(Menu("Help1"), QStringList({"HelpTopics1", "MIHomepage", "-", "MICheckVersion", "-", "MIAboutQuillon"}));
    QCOMPARE(Menu("SortBy1"), QStringList({"MISort1", "MISort2", "MISort3", "MISort5", "MISort6", "MISort4", "MISort0",
                                           "-", "SortOrder1", "SortOrder2"}));
    QCOMPARE(Menu("PMTrayIcon"), QStringList({"ShowMainWindow1", "-", "PMIStartServer", "PMIStopServer", "PMIPause", "-",
                                              "PMIOptions", "PMIViewLog", "-", "AboutQuillon2", "-", "Exit2"}));
    QCOMPARE(Menu("PMLog"), QStringList({"PMIHideLog", "-", "PMIClearLog"}));
    QCOMPARE(Menu("PMMailGrid"), QStringList({"DeleteMessage1", "ClearAllMessages1", "N8", "ViewMailSource1"}));
    QCOMPARE(Names(F.findChild<QToolBar*>()->actions()),
             QStringList({"SIStartServer", "SIStopServer", "SIPause", "-", "SIDelMsg", "SIClearAll", "SIResend",
                          "SIViewMail", "-", "SIOptions", "SIVewLog", "-", "SIExit"}));
    QCOMPARE(Action(F, "SIStartServer")->toolTip(), QString("Start Server"));
    QCOMPARE(Action(F, "MIStart")->text(), QString("St&art"));
    QCOMPARE(Action(F, "ShowMainWindow1")->text(), QString("&Show Main Window  "));
    QCOMPARE(F.findChild<QMenu*>("PMTrayIcon")->defaultAction(), Action(F, "ShowMainWindow1"));
    QVERIFY(Action(F, "SIPause")->isChecked());
    VerifyServerControls(F, false);
    // Every command has its window now.
    for (const char* N : {"SIDelMsg", "SIClearAll", "SIResend", "SIViewMail", "SIOptions", "MIOptions", "PMIOptions",
                          "ConfigureWizard1", "MICheckVersion", "Delete1", "N8", "MISort0", "SortOrder2",
                          "ViewSource1", "ViewMailSource1"})
      QVERIFY2(Action(F, N)->isEnabled(), N);
    QList<int> Widths;
    for (QLabel* L : F.statusBar()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) Widths << L->width();
    QCOMPARE(Widths, QList<int>({100, 100, 100, 50}));
    for (const char* N : {"CBToolbar", "TVCategory", "Splitter1", "VTMails", "SplitterLog", "RELog", "StatusBarMain"})
      QVERIFY2(F.findChild<QWidget*>(N), N);
  }

  void StoppedStartLogsInOrder() {
    WriteSettings(false);
    auto F = Started();
    QCOMPARE(F->windowTitle(), QString("Quillon Pro"));
    QTRY_COMPARE(LogLines(*F), QStringList({"SMTP Sender Manager initialized.", "Built-in SMTP server initialized.",
                                            "Built-in SMTP server stoped"}));
    QCOMPARE(LogColour(*F, 0), QString(Black));
    QCOMPARE(LogColour(*F, 1), QString(Black));
    QCOMPARE(LogColour(*F, 2), QString(Blue));
    VerifyServerControls(*F, false);
    QVERIFY(!Listening(Port));
    QVERIFY(!Action(*F, "SIPause")->isChecked());  // the stored setting, not the design state
    QVERIFY(Action(*F, "SIVewLog")->isChecked());
  }

  void StartPauseResumeStopThroughTheCommands() {
    WriteSettings(true);
    auto F = Started();
    QVERIFY(F->ServerRunning());
    QVERIFY(Listening(Port));
    VerifyServerControls(*F, true);
    QVERIFY(LogShows(*F, "SMTP Mail Sender Server Started."));
    const QStringList Start = LogLines(*F);
    QCOMPARE(Start.mid(0, 3), QStringList({"SMTP Sender Manager initialized.", "Built-in SMTP server initialized.",
                                           "Primary DNS Server: 127.0.0.1 , Secondary DNS Server: 127.0.0.1"}));
    QVERIFY(Start.contains(QString("Built-in SMTP server started. Listening on port %1").arg(Port)));

    Action(*F, "SIPause")->trigger();
    VerifyPauseChecked(*F, true);
    QVERIFY(LogShows(*F, "Mail delivery paused."));
    QVERIFY(LogLines(*F).contains("SMTP Mail Sender Server Stoped."));
    QVERIFY(Listening(Port));  // a paused server still takes mail
    VerifyServerControls(*F, true);

    Action(*F, "PMIPause")->trigger();
    VerifyPauseChecked(*F, false);
    QVERIFY(LogShows(*F, "Mail delivery proceed."));

    Action(*F, "MIStop")->trigger();
    QVERIFY(!F->ServerRunning());
    QVERIFY(!Listening(Port));
    VerifyServerControls(*F, false);

    Action(*F, "PMIStartServer")->trigger();
    QVERIFY(Listening(Port));
    VerifyServerControls(*F, true);
    Action(*F, "SIStopServer")->trigger();
    QVERIFY(!Listening(Port));
    VerifyServerControls(*F, false);

    // Pausing a stopped server flips only the flag; the next start honours it.
    Action(*F, "MIPause")->trigger();
    VerifyPauseChecked(*F, true);
    Action(*F, "SIStartServer")->trigger();
    QVERIFY(Listening(Port));
    QVERIFY(LogShows(*F, "Mail delivery paused."));
  }

  void StoredPauseStartsWithoutDelivery() {
    WriteSettings(true, "\"PauseDelivery\"=dword:00000001\r\n");
    auto F = Started();
    QVERIFY(Listening(Port));
    VerifyPauseChecked(*F, true);
    QVERIFY(LogShows(*F, "Mail delivery paused."));
    QVERIFY(!LogLines(*F).contains("SMTP Mail Sender Server Started."));
  }

  void PortInUseKeepsTheServerStopped() {
    WriteSettings(true);
    const int Taken = ListenTcp("127.0.0.1", Port);
    auto F = Started();
    QVERIFY(LogShows(*F, "Can not start built-in SMTP server"));
    QCOMPARE(LogLines(*F).at(FSeen - 1), QString("Could not bind socket. Address and port are already in use."));
    QCOMPARE(LogColour(*F, FSeen - 1), QString(Red));
    QCOMPARE(LogColour(*F, FSeen), QString(Red));
    QVERIFY(!F->ServerRunning());
    VerifyServerControls(*F, false);
    ::close(Taken);
    Action(*F, "SIStartServer")->trigger();  // the user may try again
    QVERIFY(F->ServerRunning());
    QVERIFY(Listening(Port));
  }

  void BindFailureLogsTheReceiversReason() {
    // The receiver names why it could not bind; a port no socket can have stands for any
    // reason but a port in use (a missing right to bind cannot be had as root).
    WriteHarnessRegistry(*Env, 70000, "127.0.0.1",
                         RegistryDword("AutoStartServer", 1) + RegistryDword("WizardAlreadyRun", 1));
    InitSettings();
    auto F = Started();
    QVERIFY(LogShows(*F, "Can not start built-in SMTP server"));
    QCOMPARE(LogLines(*F).at(FSeen - 1), QString("Could not bind socket. Port 70000 is outside 1 to 65535."));
    QCOMPARE(LogColour(*F, FSeen - 1), QString(Red));
    QVERIFY(!F->ServerRunning());
  }

  void SelectsDNSServers_data() {
    QTest::addColumn<bool>("Auto");
    QTest::addColumn<QStringList>("System");
    QTest::addColumn<QString>("Primary");
    QTest::addColumn<QString>("Secondary");
    QTest::addColumn<QString>("UsedPrimary");
    QTest::addColumn<QString>("UsedSecondary");
    const QString D1 = DefaultDNSPrimary, D2 = DefaultDNSSecondary;
    QTest::newRow("auto, none: configured") << true << QStringList() << "10.1.1.1" << "10.1.1.2" << "10.1.1.1" << "10.1.1.2";
    QTest::newRow("auto, none, blank: fixed pair") << true << QStringList() << "" << " " << D1 << D2;
    QTest::newRow("auto, one: fixed second") << true << QStringList{"10.2.2.2"} << "10.1.1.1" << "10.1.1.2" << "10.2.2.2" << D2;
    QTest::newRow("auto, two") << true << QStringList{"10.2.2.2", "10.3.3.3", "10.4.4.4"} << "" << "" << "10.2.2.2"
                               << "10.3.3.3";
    QTest::newRow("configured") << false << QStringList{"10.2.2.2"} << "10.1.1.1" << "10.1.1.2" << "10.1.1.1" << "10.1.1.2";
    QTest::newRow("configured, blanks") << false << QStringList() << "  " << "" << D1 << D2;
    QTest::newRow("configured, untrimmed") << false << QStringList() << " 10.1.1.1 " << "10.1.1.2 " << " 10.1.1.1 "
                                           << "10.1.1.2 ";
  }
  void SelectsDNSServers() {
    QFETCH(bool, Auto);
    QFETCH(QStringList, System);
    QFETCH(QString, Primary);
    QFETCH(QString, Secondary);
    QFETCH(QString, UsedPrimary);
    QFETCH(QString, UsedSecondary);
    WriteSettings(false);
    TFormMain F(false);
    F.GetSystemDNSServers = [&](std::vector<std::string>& List) {
      List.clear();
      for (const QString& S : System) List.push_back(S.toStdString());
    };
    AutoDetectDNS = Auto;
    DNSPrimary = Primary.toStdString();
    DNSSecondary = Secondary.toStdString();
    CurrentDNSPrimary = "stale";
    F.SelectDNSServers();
    QCOMPARE(QString::fromStdString(CurrentDNSPrimary.get()), UsedPrimary);
    QCOMPARE(QString::fromStdString(CurrentDNSSecondary.get()), UsedSecondary);
  }

  void ClosingWithoutTrayQuits() {
    WriteSettings(true, "\"ViewLog\"=dword:00000000\r\n");
    auto F = Started(false);
    F->show();
    Action(*F, "SIPause")->trigger();
    F->close();
    QVERIFY(F->Quitting());
    QVERIFY(!F->ServerRunning());
    QVERIFY(!Listening(Port));
    TRegistry::ResetForTests();
    TRegistry Reg;
    QVERIFY(Reg.OpenKey(SettingsKey, false));
    QVERIFY(Reg.ReadBool("PauseDelivery"));
    QVERIFY(!Reg.ReadBool("ViewLog"));
  }

  void ClosingWithTrayHides() {
    WriteSettings(true);
    auto F = Started(true);
    F->show();
    F->close();
    QVERIFY(!F->isVisible());
    QVERIFY(!F->Quitting());
    QVERIFY(Listening(Port));
    Action(*F, "ShowMainWindow1")->trigger();
    QVERIFY(F->isVisible());
    Action(*F, "Exit2")->trigger();
    QVERIFY(F->Quitting());
    QVERIFY(!Listening(Port));
  }

  void HiddenLogDropsLines() {
    WriteSettings(false, "\"ViewLog\"=dword:00000000\r\n");
    auto F = Started();
    QVERIFY(!F->findChild<QTextEdit*>("RELog")->isVisibleTo(F.get()));
    QCoreApplication::processEvents();
    Action(*F, "MIViewlogs")->trigger();
    QVERIFY(F->findChild<QTextEdit*>("RELog")->isVisibleTo(F.get()));
    Action(*F, "SIStartServer")->trigger();
    QVERIFY(LogShows(*F, "SMTP Mail Sender Server Started."));
    QVERIFY(!LogLines(*F).contains("SMTP Sender Manager initialized."));
  }

  // The window goes away while a client is in the middle of a session and the server was
  // never stopped: the connection is ended before the store it writes to is freed.
  void DestroyWithRunningServerEndsConnections() {
    WriteSettings(true);
    auto F = Started();
    TLineClient Client(Port);
    QVERIFY(QString::fromStdString(Client.Read()).startsWith("220"));
    QVERIFY(QString::fromStdString(Client.Cmd("HELO client.test")).startsWith("250"));
    F.reset();
    QCOMPARE(QString::fromStdString(Client.Read()), QString("<closed>"));
    QVERIFY(!Listening(Port));
  }

  void HelpWithoutPagesReportsAndGoesOn() {
    WriteSettings(false);
    TRecordingDesktop Desktop;
    auto F = Started();
    Action(*F, "HelpTopics1")->trigger();
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Text, QString("HHCtrl.OCX not installed!\r HTMLHELP cannot displayed!"));
    QVERIFY(Boxes->Boxes[0].Kind == TBoxKind::Error);
    Action(*F, "MIHomepage")->trigger();
    QCOMPARE(Desktop.Opened.size(), size_t(1));
    Action(*F, "SIStartServer")->trigger();
    QVERIFY(Listening(Port));
  }

  void WizardFlag() {
    Env->WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n");
    TRegistry::ResetForTests();
    TFormMain F(false);
    QVERIFY(!F.IsWizardAlreadyRun());
    Env->WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n\"WizardAlreadyRun\"=dword:00000001\r\n");
    TRegistry::ResetForTests();
    QVERIFY(F.IsWizardAlreadyRun());
  }

  void LanguageFileAppliesToTheWindow() {
    Env->WriteFile(Env->ProgramDir() + "Language/English.ini",
                   "[Info]\nLanguage=English\n[Common]\n14=Sender ready.\n[FormMain]\nMIStart.Caption=Go\n"
                   "Bogus.Caption=x\nMIStop.NoSuch=y\nSIExit.Hint=Leave|Ends the program\n");
    WriteSettings(false);
    auto F = Started();
    QCOMPARE(Action(*F, "MIStart")->text(), QString("Go"));
    QCOMPARE(Action(*F, "SIExit")->toolTip(), QString("Leave"));
    QCOMPARE(F->windowTitle(), QString("Quillon Pro"));
    QTRY_COMPARE(LogLines(*F).value(0), QString("Sender ready."));
    QCOMPARE(F->findChild<QMenu*>("Language1")->actions().size(), qsizetype(1));
  }
};

QTEST_MAIN(TestFormMain)
#include "formmain_test.moc"
