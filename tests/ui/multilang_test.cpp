// The window language loader on a window of the test's own: every kind of control it
// reaches, and the language-file lines it must skip without stopping.
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>

#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"

namespace {
struct TTestWindows {
  QWidget Form, Other;
  QDialog* Owned;
  TTestWindows() {
    Form.setObjectName("FormTest");
    Form.setWindowTitle("Design");
    // Before anything else the form owns: an empty component name would find it first.
    auto* Unnamed = new QLabel("unnamed", &Form);
    auto* L = new QVBoxLayout(&Form);
    L->addWidget(Unnamed);
    auto Add = [&](QWidget* W, const char* Name) {
      W->setObjectName(Name);
      L->addWidget(W);
    };
    Add(new QLabel("design label"), "Label1");
    Add(new QPushButton("design button"), "Button1");
    Add(new QLineEdit("design edit"), "Edit1");
    Add(new QCheckBox("design check"), "CheckBox1");
    Add(new QRadioButton("design radio"), "Radio1");
    Add(new QGroupBox("design group"), "GroupBox1");
    auto* Tabs = new QTabWidget;
    Add(Tabs, "PageControl1");
    auto* Page = new QWidget;
    Page->setObjectName("TabSheet1");
    Tabs->addTab(Page, "design tab");
    auto* Menu = new QMenu("design menu", &Form);
    Menu->setObjectName("Menu1");
    auto* Action = new QAction("design action", &Form);
    Action->setObjectName("Action1");
    Other.setObjectName("FormOther");
    auto* Foreign = new QLabel("other label", &Other);
    Foreign->setObjectName("Label9");
    // A dialog the form owns is a window of its own, with a section of its own.
    Owned = new QDialog(&Form);
    Owned->setObjectName("FormOwned");
    Owned->setWindowTitle("owned dialog");
    auto* OwnedLabel = new QLabel("owned label", Owned);
    OwnedLabel->setObjectName("Label7");
  }

  // What a check names: a control's visible text, or one of a few other properties.
  QString Probe(const QString& What) {
    if (What == "Title") return Form.windowTitle();
    if (What == "Font.size") return QString::number(Form.font().pointSize());
    if (What == "Font.family") return Form.font().family();
    if (What == "Edit1.maxLength") return QString::number(Form.findChild<QLineEdit*>("Edit1")->maxLength());
    if (What == "Edit1.placeholder") return Form.findChild<QLineEdit*>("Edit1")->placeholderText();
    if (What == "Label1.toolTip") return Form.findChild<QLabel*>("Label1")->toolTip();
    if (What == "Label1.statusTip") return Form.findChild<QLabel*>("Label1")->statusTip();
    if (What == "Label9") return Other.findChild<QLabel*>("Label9")->text();
    if (What == "Label7") return Owned->findChild<QLabel*>("Label7")->text();
    if (What == "Owned.title") return Owned->windowTitle();
    if (What == "Unnamed") return Form.findChildren<QLabel*>().at(0)->text();
    if (What == "TabSheet1") return Form.findChild<QTabWidget*>()->tabText(0);
    QObject* O = Form.findChild<QObject*>(What);
    if (auto* X = qobject_cast<QLabel*>(O)) return X->text();
    if (auto* X = qobject_cast<QAbstractButton*>(O)) return X->text();
    if (auto* X = qobject_cast<QLineEdit*>(O)) return X->text();
    if (auto* X = qobject_cast<QGroupBox*>(O)) return X->title();
    if (auto* X = qobject_cast<QMenu*>(O)) return X->title();
    if (auto* X = qobject_cast<QAction*>(O)) return X->text();
    return "<no probe " + What + ">";
  }
};
}  // namespace

class TestMultiLang : public QObject {
  Q_OBJECT
private slots:
  void SplitsLines_data() {
    QTest::addColumn<QString>("Line");
    QTest::addColumn<bool>("Ok");
    QTest::addColumn<QString>("Component");
    QTest::addColumn<QString>("Property");
    QTest::addColumn<QString>("Value");
    QTest::newRow("plain") << "Label1.Caption=Text" << true << "Label1" << "Caption" << "Text";
    QTest::newRow("value keeps . and =") << "Label1.Caption=a.b=c" << true << "Label1" << "Caption" << "a.b=c";
    QTest::newRow("path property") << "Label1.Font.Name=Arial" << true << "Label1" << "Font.Name" << "Arial";
    QTest::newRow("empty value") << "Label1.Caption=" << true << "Label1" << "Caption" << "";
    QTest::newRow("nothing trimmed") << " L .P = v " << true << " L " << "P " << " v ";
    QTest::newRow("no dot") << "Caption=Window" << false << "" << "" << "";
    QTest::newRow("no = after the dot") << "Cap=tion.x" << false << "" << "" << "";
  }
  void SplitsLines() {
    QFETCH(QString, Line);
    QFETCH(bool, Ok);
    std::string C, P, V;
    QCOMPARE(SplitComponentProperty(Line.toStdString(), C, P, V), Ok);
    if (!Ok) return;
    QFETCH(QString, Component);
    QFETCH(QString, Property);
    QFETCH(QString, Value);
    QCOMPARE(QString::fromStdString(C), Component);
    QCOMPARE(QString::fromStdString(P), Property);
    QCOMPARE(QString::fromStdString(V), Value);
  }

  // Each row: a language file, then the checks "probe=expected" after it is applied.
  void AppliesFile_data() {
    QTest::addColumn<QString>("Ini");
    QTest::addColumn<QStringList>("Checks");
    QTest::newRow("line break in a caption")
        << "[FormTest]\nLabel1.Caption=Two#13#10Lines\n" << QStringList{"Label1=Two\nLines"};
    QTest::newRow("window caption") << "[FormTest]\nCaption=New Title\n" << QStringList{"Title=New Title"};
    QTest::newRow("blank window caption keeps the design one")
        << "[FormTest]\nCaption=   \nLabel1.Caption=x\n" << QStringList{"Title=Design", "Label1=x"};
    QTest::newRow("empty component value empties it")
        << "[FormTest]\nLabel1.Caption=\nButton1.Caption=\n" << QStringList{"Label1=", "Button1="};
    QTest::newRow("every kind of caption, hint and text")
        << "[FormTest]\nButton1.Caption=B\nCheckBox1.Caption=C\nRadio1.Caption=R\nGroupBox1.Caption=G\n"
           "Menu1.Caption=M\nAction1.Caption=A\nTabSheet1.Caption=T\nEdit1.Text=E\nLabel1.Hint=short|long\n"
        << QStringList{"Button1=B", "CheckBox1=C", "Radio1=R", "GroupBox1=G", "Menu1=M",
                       "Action1=A", "TabSheet1=T", "Edit1=E", "Label1.toolTip=short", "Label1.statusTip=long"};
    QTest::newRow("other string property by its Qt name")
        << "[FormTest]\nEdit1.placeholderText=type here\n" << QStringList{"Edit1.placeholder=type here"};
    QTest::newRow("names without case")
        << "[formtest]\nlabel1.caption=lower\n" << QStringList{"Label1=lower"};
    QTest::newRow("unknown component skipped")
        << "[FormTest]\nNothing.Caption=x\nLabel1.Caption=after\n" << QStringList{"Label1=after"};
    QTest::newRow("control of another window untouched")
        << "[FormTest]\nLabel9.Caption=x\n[FormOther]\nLabel1.Caption=y\n"
        << QStringList{"Label9=other label", "Label1=design label"};
    QTest::newRow("controls of a dialog the window owns untouched")
        << "[FormTest]\nLabel7.Caption=x\nFormOwned.Caption=y\nMenu1.Caption=M\n"
        << QStringList{"Label7=owned label", "Owned.title=owned dialog", "Menu1=M"};
    QTest::newRow("empty component name matches nothing")
        << "[FormTest]\n.Caption=x\n" << QStringList{"Unnamed=unnamed"};
    QTest::newRow("key without a dot skipped")
        << "[FormTest]\nLabel1Caption=x\n" << QStringList{"Label1=design label"};
    QTest::newRow("integer property unchanged")
        << "[FormTest]\nEdit1.MaxLength=5\nLabel1.Caption=next\n" << QStringList{"Edit1.maxLength=32767", "Label1=next"};
    QTest::newRow("unknown property skipped, the rest applied")
        << "[FormTest]\nLabel1.Colour=red\nLabel1.Font.Name=Arial\nButton1.Caption=Go\n"
        << QStringList{"Label1=design label", "Button1=Go"};
    QTest::newRow("font size without name")
        << "[Info]\nFontName=\nFontSize=14\n" << QStringList{"Font.size=14"};
    QTest::newRow("font size of letters leaves size, texts still applied")
        << "[Info]\nFontSize=big\nFontCharset=x\n[FormTest]\nCaption=T\n" << QStringList{"Font.size=9", "Title=T"};
    QTest::newRow("font name") << "[Info]\nFontName=Serif Test\n" << QStringList{"Font.family=Serif Test"};
  }
  void AppliesFile() {
    QFETCH(QString, Ini);
    QFETCH(QStringList, Checks);
    TTestWindows W;
    QFont F = W.Form.font();
    F.setPointSize(9);
    W.Form.setFont(F);
    ApplyFormLanguage(&W.Form, TIniFile::FromText(Ini.toStdString()));
    for (const QString& C : Checks) {
      const QString What = C.section('=', 0, 0), Expected = C.section('=', 1);
      QCOMPARE(W.Probe(What), Expected);
    }
  }

  void MissingFileChangesNothing() {
    TTestWindows W;
    LoadFormLanguage(&W.Form, "/nonexistent/Language/None.ini");
    QCOMPARE(W.Probe("Title"), QString("Design"));
    QCOMPARE(W.Probe("Label1"), QString("design label"));
  }
};

QTEST_MAIN(TestMultiLang)
#include "multilang_test.moc"
