// What the main window reports and keeps: the tray icon's rules, the log pane's limits,
// the layout file across a restart, and switching the language at run time.
#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTextEdit>
#include <QtTest>
#include <filesystem>

#include "UiMailFixture.h"
#include "platform/Registry.h"
#include "support/FileModes.h"
#include "support/LoopbackDNS.h"
#include "support/ScriptedSmtpPeer.h"
#include "ui/common/AppImages.h"

using TImages = TFormMain::TTrayImages;

class TestMainView : public QObject {
  Q_OBJECT
  std::unique_ptr<TMailWindow> W;

  QAction* Action(const char* Name) { return W->Form->findChild<QAction*>(Name); }
  QTextEdit* Log() { return W->Form->findChild<QTextEdit*>("RELog"); }
  void VerifyTray(TImages Images, int Index, bool Animated) {
    const TFormMain::TTrayState S = W->Form->TrayState();
    QCOMPARE(int(S.Images), int(Images));
    QCOMPARE(S.Index, Index);
    QCOMPARE(S.Animated, Animated);
  }
  QAction* LanguageItem(const QString& Caption) {
    for (QAction* A : W->Form->findChild<QMenu*>("Language1")->actions())
      if (A->text() == Caption) return A;
    return nullptr;
  }

  // The program's English file and the tests' German one in the program folder; the folder.
  std::string InstallLanguages() {
    const std::string Dir = W->Env.ProgramDir() + "Language/";
    std::filesystem::create_directories(Dir);
    std::filesystem::copy_file(QUILLON_LANGUAGE_DIR "English.ini", Dir + "English.ini");
    std::filesystem::copy_file(QUILLON_UI_TEST_DATA "Deutsch.ini", Dir + "Deutsch.ini");
    return Dir;
  }

private slots:
  void init() { W = std::make_unique<TMailWindow>(); }
  void cleanup() { W.reset(); }

  // Rules in order: error, stopped, paused, idle, sending.
  void TrayIconRules() {
    TLoopbackDNS Dns;
    TScriptedSmtpPeer Mx("", 25);
    Mx.SetReply("GREETING", "");  // an attempt that stays in progress
    Dns.SetMX("dest.test", {{10, Mx.IP()}});
    W->Start(true, "\"PauseDelivery\"=dword:00000001\r\n", Dns.Address(), false);
    VerifyTray(TImages::Normal, 1, false);
    Action("SIStartServer")->trigger();
    VerifyTray(TImages::Normal, 2, false);
    Action("SIPause")->trigger();
    VerifyTray(TImages::Normal, 0, false);
    const std::string A = W->Add();
    QTRY_COMPARE_WITH_TIMEOUT(W->Form->SendingCount(), 1, 10000);
    VerifyTray(TImages::Running, -1, true);
    Action("SIPause")->trigger();  // paused wins over sending
    VerifyTray(TImages::Normal, 2, false);
    Action("SIStopServer")->trigger();
    VerifyTray(TImages::Normal, 1, false);
    QCOMPARE(W->Form->TrayIcon()->toolTip(), QString("Quillon Pro   \nReceived: 1\nSent: 0\nFailed: 0"));

    // A failure while hidden: the error images, whatever the server does, until the
    // window is shown from the tray.
    W->Form->hide();
    W->Add({.To = "x@x.test"});
    W->Deliver(dsAddressError);
    W->Settle();
    VerifyTray(TImages::Error, -1, true);
    Action("SIStartServer")->trigger();
    VerifyTray(TImages::Error, -1, true);
    Action("ShowMainWindow1")->trigger();
    QVERIFY(!W->Form->ShowErrorIcon());
    VerifyTray(TImages::Normal, 2, false);
    QVERIFY(W->Form->TrayIcon()->toolTip().endsWith("Failed: 1"));
  }

  // A single click (what StatusNotifierItem trays send) and a double click bring the window
  // up from the tray and end the error icon; the menu and middle clicks do not.
  void TrayActivationShowsTheWindow_data() {
    QTest::addColumn<int>("Reason");
    QTest::addColumn<bool>("Shows");
    QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
    QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
  }
  void TrayActivationShowsTheWindow() {
    QFETCH(int, Reason);
    QFETCH(bool, Shows);
    W->Start(false);
    W->Add();
    W->Deliver(dsAddressError);
    W->Settle();
    QVERIFY(W->Form->ShowErrorIcon());
    emit W->Form->TrayIcon()->activated(QSystemTrayIcon::ActivationReason(Reason));
    QCOMPARE(W->Form->isVisible(), Shows);
    QCOMPARE(W->Form->ShowErrorIcon(), !Shows);
  }

  // Three looks: the normal list's three images and the two animations' frames all differ.
  void TrayImageListsAreDistinct() {
    std::vector<QImage> All;
    for (const auto& List : {TrayImagesNormal(), TrayImagesRunning(), TrayImagesError()}) {
      QVERIFY(!List.empty());
      for (const QIcon& I : List) All.push_back(I.pixmap(22, 22).toImage());
    }
    QCOMPARE(All.size(), size_t(7));
    for (size_t I = 0; I < All.size(); ++I)
      for (size_t J = I + 1; J < All.size(); ++J) QVERIFY2(All[I] != All[J], qPrintable(QString("%1 %2").arg(I).arg(J)));
    for (const QIcon& I : StateImages()) QVERIFY(!I.pixmap(16, 16).isNull());
    for (const QIcon& I : CategoryImages()) QVERIFY(!I.pixmap(16, 16).isNull());
  }

  void LogPaneDropsBlankLinesAndClearsWhenFull() {
    W->Start(true);
    Log()->clear();
    W->Form->PostLogMessage(0, "   ");
    W->Form->PostLogMessage(2, "kept");
    QCoreApplication::processEvents();
    QCOMPARE(LogLines(*W->Form), QStringList({"kept"}));
    QCOMPARE(LogColour(*W->Form, 0), QString("#008000"));
    QVERIFY(QRegularExpression(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] kept$)").match(Log()->toPlainText()).hasMatch());
    const std::string Long(300, 'x');  // cut to 255 by the queue
    while (Log()->toPlainText().size() <= 65536) {
      W->Form->PostLogMessage(0, Long);
      QCoreApplication::processEvents();
    }
    QCOMPARE(LogLines(*W->Form).last().size(), qsizetype(255));
    W->Form->PostLogMessage(3, "alone");
    QCoreApplication::processEvents();
    QCOMPARE(LogLines(*W->Form), QStringList({"alone"}));
    Action("PMIClearLog")->trigger();
    QVERIFY(Log()->toPlainText().isEmpty());
    Action("PMIHideLog")->trigger();
    QVERIFY(!Log()->isVisible());
    QVERIFY(!Action("PMIViewLog")->isChecked());
  }

  void LogPaneKeepsItsMinimumHeight() {
    W->Start(true);
    auto* Splitter = W->Form->findChild<QSplitter*>("SplitterLog");
    Splitter->setSizes({1000, 3});
    QCoreApplication::processEvents();
    QVERIFY(Log()->height() >= 22);
  }

  // Column widths, sort column and direction, pane sizes and the window's place survive a
  // restart through vexa2.ini in the data folder, which only its user can read.
  void LayoutSurvivesARestart() {
    TScopedUmask Mask(022);
    W->Start(true);
    W->Form->setGeometry(40, 50, 700, 420);
    QHeaderView* H = W->List()->header();
    for (int I = 1; I < 8; ++I) H->resizeSection(I, 130 + I);
    W->Form->SortByColumn(3);
    W->Form->SortByColumn(3);
    QCoreApplication::processEvents();
    auto* Panes = W->Form->findChild<QSplitter*>("Splitter1");
    Panes->setSizes({211, Panes->sizes().value(0) + Panes->sizes().value(1) - 211});
    auto* LogSplitter = W->Form->findChild<QSplitter*>("SplitterLog");
    LogSplitter->setSizes({LogSplitter->sizes().value(0) + LogSplitter->sizes().value(1) - 97, 97});
    QCoreApplication::processEvents();
    QCOMPARE(W->Tree()->width(), 211);
    const int LogHeight = Log()->height();
    const int TreeWidth = W->Tree()->width();
    W->Form.reset();

    const QString File = QString::fromStdString(DataDir.get()) + "vexa2.ini";
    QVERIFY(QFile::exists(File));
    // The user's alone under umask 022, and again when an earlier run left it open.
    QCOMPARE(QString::fromStdString(ModeOf(File.toStdString())), QString("0600"));
    ::chmod(File.toLocal8Bit().constData(), 0644);
    QSettings Ini(File, QSettings::IniFormat);
    QCOMPARE(Ini.value("FormMain/SortColumn").toInt(), 3);
    QCOMPARE(Ini.value("FormMain/SortDirection").toInt(), 1);
    QCOMPARE(Ini.value("FormMain/GridMails_Col_7").toInt(), 137);
    QVERIFY(!Ini.contains("FormMain/GridMails_Col_0"));
    QCOMPARE(Ini.value("FormMain/RELog.Height").toInt(), LogHeight);
    QCOMPARE(Ini.value("FormMain/TVCategory.Width").toInt(), TreeWidth);

    W->Form = std::make_unique<TFormMain>(true);
    W->Form->Initialize();
    W->Form->show();
    QCoreApplication::processEvents();
    H = W->List()->header();
    QCOMPARE(H->sectionSize(0), 20);
    for (int I = 1; I < 8; ++I) QCOMPARE(H->sectionSize(I), 130 + I);
    QCOMPARE(W->Form->SortColumn(), 3);
    QCOMPARE(W->Form->SortDirection(), uint8_t(1));
    QCOMPARE(H->sortIndicatorSection(), 3);
    QCOMPARE(H->sortIndicatorOrder(), Qt::DescendingOrder);
    QVERIFY(Action("MISort2")->isChecked());  // the item whose Tag is column 3
    QVERIFY(Action("SortOrder2")->isChecked());
    QCOMPARE(W->Form->geometry().size(), QSize(700, 420));
    QCOMPARE(Log()->height(), LogHeight);
    QCOMPARE(W->Tree()->width(), TreeWidth);
    W->Form.reset();
    QCOMPARE(QString::fromStdString(ModeOf(File.toStdString())), QString("0600"));
  }

  // The second language file comes from the tests' own data; a line without a component
  // and property is skipped and the lines after it still apply.
  void LanguageSwitchChangesTheWindowsTexts() {
    InstallLanguages();
    W->Start(true);
    QAction* English = LanguageItem("English");
    QAction* Deutsch = LanguageItem("Deutsch");
    QVERIFY(English && Deutsch);
    QVERIFY(English->isChecked() && !Deutsch->isChecked());
    QVERIFY(!Log()->toPlainText().isEmpty());

    Deutsch->trigger();
    QStringList Captions;
    for (int I = 0; I < 8; ++I) Captions << W->Form->MailModel()->headerData(I, Qt::Horizontal, Qt::DisplayRole).toString();
    QCOMPARE(Captions, QStringList({"", "%", "Absender", QString::fromUtf8("Empf\xC3\xA4nger"), "Betreff",
                                    QString::fromUtf8("Gr\xC3\xB6\xC3\x9F" "e"), "Empfangen am", "Gesendet am"}));
    QCOMPARE(W->NodeText(0), QString("Nachrichten(0)"));
    QCOMPARE(W->NodeText(3), QString("Fehlgeschlagen(0)"));
    QCOMPARE(Action("MIStart")->text(), QString("&Starten"));
    QCOMPARE(Action("MIStop")->text(), QString("St&oppen"));
    QCOMPARE(Action("SIExit")->toolTip(), QString("Beenden"));
    QCOMPARE(W->Form->statusBar()->findChildren<QLabel*>().at(0)->text(), QString("Empfangen: 0"));
    QCOMPARE(W->Form->windowTitle(), QString("Quillon Pro"));
    QVERIFY(Log()->toPlainText().isEmpty());
    QVERIFY(Deutsch->isChecked() && !English->isChecked());
    TRegistry::ResetForTests();
    TRegistry Reg;
    QVERIFY(Reg.OpenKey(SettingsKey, false));
    QCOMPARE(QString::fromStdString(Reg.ReadString("LanguageName")), QString("Deutsch.ini"));

    // The language in force again: nothing happens, the log stays.
    W->Form->PostLogMessage(0, "still here");
    QCoreApplication::processEvents();
    Deutsch->trigger();
    QVERIFY(Deutsch->isChecked());
    QCOMPARE(LogLines(*W->Form), QStringList({"still here"}));
  }

  // A language file that is gone by the time it is chosen leaves everything as it was,
  // the stored choice included.
  void UnreadableLanguageFileIsNotStored() {
    const std::string Dir = InstallLanguages();
    W->Start(true);
    std::filesystem::remove(Dir + "Deutsch.ini");
    QAction* Deutsch = LanguageItem("Deutsch");
    Deutsch->trigger();
    QCOMPARE(W->Boxes.Boxes.size(), size_t(1));
    QVERIFY(!Deutsch->isChecked());
    QVERIFY(LanguageItem("English")->isChecked());
    QCOMPARE(QString::fromStdString(LanguageName.get()), QString("English.ini"));
    QCOMPARE(W->NodeText(0), QString("Messages(0)"));
    TRegistry::ResetForTests();
    TRegistry Reg;
    QVERIFY(Reg.OpenKey(SettingsKey, false));
    QVERIFY(!Reg.ValueExists("LanguageName") || Reg.ReadString("LanguageName") == "English.ini");
  }
};

QTEST_MAIN(TestMainView)
#include "mainview_test.moc"
