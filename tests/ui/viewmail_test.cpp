// The mail viewer: its three panes filled from a stored mail, the source pane's limit, the
// pop-up menu on the pane in front, Save To File per tab, and the main window opening a
// mail of its store.
#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "UiTestSupport.h"
#include "WindowTestSupport.h"
#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailData.h"
#include "support/TestEnv.h"
#include "ui/main/FormMain.h"
#include "ui/viewer/SaveDialog.h"
#include "ui/viewer/ViewMail.h"

namespace {
// Answers every save dialog with one file name (or a refusal) and keeps what it was asked.
class TRecordingSaveDialogs : public TSaveDialogs {
public:
  TRecordingSaveDialogs() { SetSaveDialogs(this); }
  ~TRecordingSaveDialogs() override { SetSaveDialogs(nullptr); }
  bool Execute(QWidget*, TSaveDialog& D) override {
    Asked.push_back(D);
    if (Answer.isEmpty()) return false;
    D.FileName = Answer;
    return true;
  }
  std::vector<TSaveDialog> Asked;
  QString Answer;
};

TMailData SampleMail() {
  TMailData M;
  M.Data = {"From: Ann <ann@example.org>", "To: =?utf-8?Q?B=C3=B6b?= <bob@example.net>", "Subject: Report",
            "Content-Type: text/plain; charset=utf-8", "", "Dear Böb,", "the figures.", "."};
  M.Log = {"[2026-12-10 10:00:00] Connecting to mx.example.net", "[2026-12-10 10:00:01] 250 OK"};
  return M;
}

QStringList Lines(const QPlainTextEdit* P) { return P->toPlainText().split(QLatin1Char('\n')); }
}  // namespace

class TestViewMail : public QObject {
  Q_OBJECT
  std::unique_ptr<TTestEnv> Env;
  std::unique_ptr<TFormViewMail> View;

  QPlainTextEdit* Pane(const char* Name) { return View->findChild<QPlainTextEdit*>(Name); }
  QTabWidget* Tabs() { return View->findChild<QTabWidget*>("PageControlMain"); }
  QAction* Action(const char* Name) { return View->findChild<QAction*>(Name); }

  // Shows Mail; While runs while the dialog is up, then the Close button closes it.
  void Show(const TMailData& Mail, std::function<void()> While) {
    bool Ran = false;
    WhenShown(View.get(), [&] {
      While();
      Ran = true;
      QTest::mouseClick(View->findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    });
    View->ShowMail(Mail);
    QVERIFY(Ran);
    QVERIFY(!View->isVisible());
  }

private slots:
  void init() {
    Env = std::make_unique<TTestEnv>();
    View = std::make_unique<TFormViewMail>();
  }
  void cleanup() {
    View.reset();
    Env.reset();
  }

  void ComposedAsDesigned() {
    QCOMPARE(View->windowTitle(), QString("View Mail Source"));
    QCOMPARE(Tabs()->count(), 3);
    QCOMPARE(Tabs()->tabText(0), QString("Preview"));
    QCOMPARE(Tabs()->tabText(1), QString("Source"));
    QCOMPARE(Tabs()->tabText(2), QString("Log"));
    QCOMPARE(Tabs()->currentIndex(), 0);
    for (const char* N : {"REPreview", "REMailSource", "REMailLog"}) {
      QVERIFY2(Pane(N)->isReadOnly(), N);
      QCOMPARE(Pane(N)->contextMenuPolicy(), Qt::CustomContextMenu);
    }
    QStringList Menu;
    for (QAction* A : View->findChild<QMenu*>("PMEdit")->actions()) Menu << (A->isSeparator() ? "-" : A->objectName());
    QCOMPARE(Menu, QStringList({"SelectAll1", "Copy1", "-", "SaveToFile1"}));
    QCOMPARE(Action("SelectAll1")->text(), QString("Select &All"));
    QCOMPARE(Action("SelectAll1")->shortcut(), QKeySequence("Ctrl+A"));
    QCOMPARE(Action("Copy1")->shortcut(), QKeySequence("Ctrl+C"));
    QCOMPARE(Action("SaveToFile1")->text(), QString("&Save To File"));
    QCOMPARE(View->findChild<QPushButton*>("BitBtn1")->text(), QString("Close"));
  }

  void ThreePanesOfOneMail() {
    TMailData M = SampleMail();
    Show(M, [&] {
      QCOMPARE(Lines(Pane("REPreview")),
               QStringList({"Sender: Ann <ann@example.org>", "Recipient: Böb <bob@example.net>", "Subject: Report", "",
                            "Dear Böb,", "the figures.", ".", ""}));
      QCOMPARE(Pane("REPreview")->textCursor().position(), 0);
      QCOMPARE(Pane("REMailSource")->toPlainText(), QString::fromStdString(M.Data[0]) + "\n" +
                                                        QString::fromStdString(M.Data[1]) + "\nSubject: Report\n"
                                                        "Content-Type: text/plain; charset=utf-8\n\nDear Böb,\n"
                                                        "the figures.\n.\n");
      QCOMPARE(Lines(Pane("REMailLog")), QStringList({QString::fromStdString(M.Log[0]), QString::fromStdString(M.Log[1])}));
      SaveScreenshot(View.get(), "mail-viewer");
    });
    // The next mail replaces every pane; a mail without the three headers has no preview.
    TMailData Plain;
    Plain.Data = {"X-Note: no headers a reader wants", "", "body"};
    Tabs()->setCurrentIndex(2);
    Show(Plain, [&] {
      QCOMPARE(Tabs()->currentIndex(), 2);
      QVERIFY(Pane("REPreview")->toPlainText().isEmpty());
      QVERIFY(Pane("REMailSource")->toPlainText().startsWith("X-Note:"));
      QVERIFY(Pane("REMailLog")->toPlainText().isEmpty());
    });
  }

  void LanguageTextsHeadThePreview() {
    LangStrings.Set(0, "Absender");
    TMailData M = SampleMail();
    Show(M, [&] { QVERIFY(Pane("REPreview")->toPlainText().startsWith("Absender: Ann")); });
  }

  void LongSourceIsCutInThePaneOnly() {
    TMailData M = SampleMail();
    for (int I = 0; I < 500; ++I) M.Data.push_back(std::string(98, char('a' + I % 26)));
    std::string Whole = MailLinesText(M.Data);
    QVERIFY(Whole.size() > 40000);
    TRecordingSaveDialogs Dialogs;
    Dialogs.Answer = QDir::temp().filePath(QString::fromStdString(Env->Root()) + "whole.eml");
    Show(M, [&] {
      const QString Shown = Pane("REMailSource")->toPlainText();
      QString Expected = QString::fromStdString(Whole.substr(0, 32768));
      Expected.replace("\r\n", "\n").replace('\r', '\n');
      QCOMPARE(Shown, Expected);
      Tabs()->setCurrentIndex(1);
      Action("SaveToFile1")->trigger();
    });
    QCOMPARE(Env->ReadFile(Dialogs.Answer.toStdString()), Whole);
  }

  void SaveToFilePerTab() {
    TRecordingSaveDialogs Dialogs;
    TMailData M = SampleMail();
    const QString Preview = QString::fromStdString(Env->Root()) + "preview.txt";
    const QString Log = QString::fromStdString(Env->Root()) + "mail.log";
    Show(M, [&] {
      Tabs()->setCurrentIndex(0);
      Dialogs.Answer = Preview;
      Action("SaveToFile1")->trigger();
      Tabs()->setCurrentIndex(2);
      Dialogs.Answer = Log;
      Action("SaveToFile1")->trigger();
      // A refused dialog writes nothing.
      Dialogs.Answer.clear();
      Action("SaveToFile1")->trigger();
    });
    QCOMPARE(int(Dialogs.Asked.size()), 3);
    QCOMPARE(Dialogs.Asked[0].Title, QString("Save mail content to file"));
    QCOMPARE(Dialogs.Asked[0].Filter, QString("Text Files (*.txt)|*.txt"));
    QCOMPARE(Dialogs.Asked[0].DefaultExt, QString("txt"));
    QCOMPARE(Dialogs.Asked[1].Title, QString("Save mail log to file"));
    QCOMPARE(Dialogs.Asked[1].Filter, QString("Log (*.log)|*.log|Text Files (*.txt)|*.txt"));
    QCOMPARE(Dialogs.Asked[1].DefaultExt, QString("log"));
    for (const TSaveDialog& D : Dialogs.Asked) QVERIFY(D.FileName.isEmpty() || D.FileName == Preview || D.FileName == Log);
    QCOMPARE(Env->ReadFile(Preview.toStdString()),
             std::string("Sender: Ann <ann@example.org>\r\nRecipient: Böb <bob@example.net>\r\nSubject: Report\r\n\r\n"
                         "Dear Böb,\r\nthe figures.\r\n.\r\n\r\n"));
    QCOMPARE(Env->ReadFile(Log.toStdString()), MailLinesText(M.Log));
  }

  void SourceTabAsksForAMailFile() {
    TRecordingSaveDialogs Dialogs;
    Show(SampleMail(), [&] {
      Tabs()->setCurrentIndex(1);
      Action("SaveToFile1")->trigger();
    });
    QCOMPARE(Dialogs.Asked.at(0).Title, QString("Save mail source to file"));
    QCOMPARE(Dialogs.Asked.at(0).Filter, QString("Mail (*.eml)|*.eml|Text Files (*.txt)|*.txt"));
    QCOMPARE(Dialogs.Asked.at(0).DefaultExt, QString("eml"));
    QVERIFY(Dialogs.Asked.at(0).FileName.isEmpty());
  }

  void RealSaveDialogAsksBeforeOverwriting() {
    TSaveDialog D;
    D.Title = "Save mail source to file";
    D.Filter = "Mail (*.eml)|*.eml|Text Files (*.txt)|*.txt";
    D.DefaultExt = "eml";
    std::unique_ptr<QFileDialog> F(NewSaveFileDialog(nullptr, D));
    QCOMPARE(F->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(!F->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(F->defaultSuffix(), QString("eml"));
    QCOMPARE(F->windowTitle(), QString("Save mail source to file"));
    QCOMPARE(F->nameFilters(), QStringList({"Mail (*.eml)", "Text Files (*.txt)"}));
    QCOMPARE(SaveDialogNameFilters("Logs|*.log"), QStringList({"Logs (*.log)"}));
  }

  void MenuActsOnThePaneInFront() {
    Show(SampleMail(), [&] {
      Tabs()->setCurrentIndex(2);
      Action("SelectAll1")->trigger();
      QCOMPARE(Pane("REMailLog")->textCursor().selectedText().size(), Pane("REMailLog")->toPlainText().size());
      QVERIFY(!Pane("REPreview")->textCursor().hasSelection());
      Action("Copy1")->trigger();
      QCOMPARE(QApplication::clipboard()->text(), Pane("REMailLog")->toPlainText());
    });
  }

  // The main window gives the viewer the language file's texts and its own font; the main
  // window's own section never reaches the viewer's controls, though the main window owns it.
  void MainWindowAppliesTheLanguage() {
    Env->WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n\"WizardAlreadyRun\"=dword:00000001\r\n\"AutoStartServer\"=dword:00000000\r\n");
    InitSettings();
    SetLastCheckVersionDate(Date());
    Env->WriteFile(Env->ProgramDir() + "Language/Deutsch.ini",
                   "[Info]\r\nLanguage=Deutsch\r\nFontSize=13\r\n\r\n[FormViewMail]\r\n"
                   "Caption=Mail ansehen\r\nBitBtn1.Caption=Schlie\xc3\x9f" "en\r\n"
                   "TabSheetSource.Caption=Quelltext\r\n\r\n[FormMain]\r\nCopy1.Caption=Falsch\r\n"
                   "TabSheetLog.Caption=Falsch\r\nMIStart.Caption=&Starten\r\n");
    LanguageName = "Deutsch.ini";
    TFormMain Main(false);
    View.reset();
    FormViewMail = new TFormViewMail(&Main);
    Main.Initialize();
    QCOMPARE(FormViewMail->windowTitle(), QString("Mail ansehen"));
    QCOMPARE(FormViewMail->findChild<QPushButton*>("BitBtn1")->text(), QString("Schließen"));
    QCOMPARE(FormViewMail->findChild<QTabWidget*>("PageControlMain")->tabText(1), QString("Quelltext"));
    QCOMPARE(FormViewMail->findChild<QTabWidget*>("PageControlMain")->tabText(2), QString("Log"));
    QCOMPARE(FormViewMail->findChild<QAction*>("Copy1")->text(), QString("&Copy"));
    QCOMPARE(Main.findChild<QAction*>("MIStart")->text(), QString("&Starten"));
    QCOMPARE(Main.font().pointSize(), 13);
    for (const char* N : {"REPreview", "REMailSource", "REMailLog"})
      QCOMPARE(FormViewMail->findChild<QPlainTextEdit*>(N)->font(), Main.font());
    LanguageName = "English.ini";
  }

  void MainWindowOpensAMailOfItsStore() {
    Env->WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n\"WizardAlreadyRun\"=dword:00000001\r\n\"AutoStartServer\"=dword:00000000\r\n");
    InitSettings();
    SetLastCheckVersionDate(Date());
    TRecordingBoxes Boxes;
    TFormMain Main(false);
    Main.Initialize();
    View.reset();
    QVERIFY(!FormViewMail);
    TMailData M = SampleMail();
    M.MailFrom = "ann@example.org";
    M.Recipients = {"bob@example.net"};
    M.State = msWaiting;
    Main.MailStore()->AddMail(M);
    QVERIFY(!M.ID.empty());
    // Made on first use, owned by the main window, and reused.
    bool Shown = false;
    WhenReady([&] { return FormViewMail && FormViewMail->isVisible(); }, [&] {
      Shown = FormViewMail->findChild<QPlainTextEdit*>("REMailSource")->toPlainText().contains("Subject: Report");
      FormViewMail->close();
    });
    Main.ShowMailSource(M.ID);
    QVERIFY(Shown);
    QCOMPARE(FormViewMail->parent(), &Main);
    TFormViewMail* First = FormViewMail;
    Main.ShowMailSource("999999");
    QCOMPARE(FormViewMail, First);
    QVERIFY(!FormViewMail->isVisible());
    QVERIFY(Boxes.Boxes.empty());
  }
};

QTEST_MAIN(TestViewMail)
#include "viewmail_test.moc"
