// Message boxes, the help pages and the about box, with the desktop's effects recorded.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "UiTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "support/TestEnv.h"
#include "ui/common/FormAbout.h"

class TestZQDiag : public QObject {
  Q_OBJECT
private slots:
  void BoxesCarryTitleKindAndAnswer() {
    TRecordingBoxes Boxes;
    ErrorBox("bad");
    InfoBox("note");
    Boxes.Answer = true;
    QVERIFY(YesNoBox("sure?"));
    Boxes.Answer = false;
    QVERIFY(!YesNoBox("sure?"));
    ErrorBoxCaption("Error reading registry!", "Error");
    QCOMPARE(Boxes.Boxes.size(), size_t(5));
    const TBoxKind Kinds[] = {TBoxKind::Error, TBoxKind::Information, TBoxKind::Question, TBoxKind::Question,
                              TBoxKind::Error};
    for (size_t I = 0; I < 5; ++I) QVERIFY(Boxes.Boxes[I].Kind == Kinds[I]);
    for (size_t I = 0; I < 4; ++I) QCOMPARE(Boxes.Boxes[I].Caption, QString("Quillon"));
    QCOMPARE(Boxes.Boxes[0].Text, QString("bad"));
    QCOMPARE(Boxes.Boxes[4].Caption, QString("Error"));
  }

  void GuardTurnsExceptionsIntoErrorBoxes() {
    TRecordingBoxes Boxes;
    RunGuarded([] { throw std::runtime_error("Mail not find!"); });
    QCOMPARE(Boxes.Boxes.size(), size_t(1));
    QCOMPARE(Boxes.Boxes[0].Text, QString("Mail not find!"));
  }

  void HelpOpensTheContentsPage() {
    TTestEnv Env;
    TRecordingDesktop Desktop;
    Env.WriteFile(Env.ProgramDir() + "Help/index.html", "<html></html>");
    HtmlHelp(HelpFileName());
    QCOMPARE(Desktop.Opened.size(), size_t(1));
    QCOMPARE(Desktop.Opened[0], QUrl::fromLocalFile(QString::fromStdString(Env.ProgramDir() + "Help/index.html")));
  }

  void HelpMissingOrRefusedIsNotInstalled() {
    TTestEnv Env;
    TRecordingDesktop Desktop;
    const QString NotInstalled = "HHCtrl.OCX not installed!\r HTMLHELP cannot displayed!";
    for (bool PagePresent : {false, true}) {
      if (PagePresent) {
        Env.WriteFile(Env.ProgramDir() + "Help/index.html", "<html></html>");
        Desktop.Accept = false;
      }
      try {
        HtmlHelp(HelpFileName());
        QFAIL("no error");
      } catch (const EHtmlHelpError& E) {
        QCOMPARE(QString(E.what()), NotInstalled);
      }
    }
    // Nothing is remembered: once the desktop takes the page, the next call opens it.
    Desktop.Accept = true;
    HtmlHelp(HelpFileName());
    QCOMPARE(Desktop.Opened.size(), size_t(2));
  }

  void AboutBoxShowsProductVersionAndLinks() {
    TTestEnv Env;
    TRecordingDesktop Desktop;
    Env.WriteFile(Env.ProgramDir() + "Language/English.ini",
                  "[Info]\nFontSize=11\n[FormAbout]\nCaption=Über Quillon\nLabel2.Caption=Kontakt :\n"
                  "LabelProduct.Caption=ignored\n");
    TFormAbout About(nullptr);
    uint16_t A, B, C, D;
    GetFileVersion(A, B, C, D);
    auto Text = [&](const char* Name) { return About.findChild<QLabel*>(Name)->text(); };
    QCOMPARE(Text("LabelVersion"), QString("v%1.%2.%3.%4").arg(A).arg(B).arg(C).arg(D));
    QCOMPARE(Text("LabelProduct"), QString("Quillon Pro"));
    QVERIFY(About.findChild<QLabel*>("LabelProduct")->font().bold());
    QCOMPARE(About.findChild<QLabel*>("LabelProduct")->font().family(), About.font().family());
    QCOMPARE(Text("Label2"), QString("Kontakt :"));
    QCOMPARE(About.windowTitle(), QString("Über Quillon"));
    QCOMPARE(About.font().pointSize(), 11);

    About.show();
    QTest::mouseClick(About.findChild<QLabel*>("Label4"), Qt::LeftButton);
    QTest::mouseClick(About.findChild<QLabel*>("Label5"), Qt::LeftButton);
    QCOMPARE(Desktop.Opened.size(), size_t(2));
    QCOMPARE(Desktop.Opened[0].toString(), QString(HomePageAddress));
    QCOMPARE(Desktop.Opened[1].toString(), QString("mailto:") + SupportMailAddress);

    QTest::mouseClick(About.findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
    QCOMPARE(About.result(), int(QDialog::Accepted));
    QVERIFY(!About.isVisible());
  }
};

QTEST_MAIN(TestZQDiag)
#include "zqdiag_test.moc"
