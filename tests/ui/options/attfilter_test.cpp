// The attachment filter dialog and its extension editor, driven through their widgets.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "OptionsTestSupport.h"
#include "UiTestSupport.h"
#include "support/TestEnv.h"
#include "ui/common/FileTypes.h"
#include "ui/options/AttFilter.h"
#include "ui/options/EditFileExt.h"

namespace {
const char* const Default = "1:bat;1:com;1:exe;1:js;1:pif;1:scr;1:vbs";

int Run(TFormAttachmentFilter& Form, bool Use, const std::string& Filters, std::function<void(TFormAttachmentFilter&)> Step) {
  OnNext<TFormAttachmentFilter>(Step);
  return Form.Execute(Use, Filters);
}

std::string Built(const TFormAttachmentFilter& Form) {
  std::string S;
  Form.BuildList(S);
  return S;
}

// Opens the extension editor with Button, types Text and presses OK; an editor still open
// is cancelled. True when it stayed open.
bool TypeExtension(QAbstractButton* Button, const QString& Text, std::function<void(TFormEditFileExt&)> Check = {}) {
  bool StayedOpen = false;
  OnNext<TFormEditFileExt>([&](TFormEditFileExt& E) {
    if (Check) Check(E);
    Type(E.EditFileExtension, Text);
    Click(E.BtnOK);
    if (E.isVisible()) {
      StayedOpen = true;
      Click(E.BtnCancel);
    }
  });
  Click(Button);
  return StayedOpen;
}

QStringList Ticks(QTreeWidget* View) {
  QStringList L;
  for (int I = 0; I < View->topLevelItemCount(); ++I) L << (View->topLevelItem(I)->checkState(0) == Qt::Checked ? "1" : "0");
  return L;
}
}  // namespace

class TestAttachmentFilter : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { QuietSizeHintNotes(); }
  void init() { ResetModalSteps(); }
  void cleanup() { QVERIFY(!ModalStepsFailed()); }

  void StoredListsAreReadLeniently() {
    TTestEnv Env;
    const struct {
      const char* Stored;
      QStringList Rows, Ticked;
      const char* Built;
      int Result;  // of OK without a change
    } Cases[] = {
        {Default, {"bat", "com", "exe", "js", "pif", "scr", "vbs"}, {"1", "1", "1", "1", "1", "1", "1"}, Default,
         QDialog::Rejected},
        {"1:bat;0:doc", {"bat", "doc"}, {"1", "0"}, "1:bat;0:doc", QDialog::Rejected},
        // Any flag but "0" blocks; rows are sorted and in lower case, so OK reports a change.
        {"2:exe;1:BAT;0:js;noext;;  ", {"bat", "exe", "js"}, {"1", "1", "0"}, "1:bat;1:exe;0:js", QDialog::Accepted},
        {"", {}, {}, "", QDialog::Rejected},
    };
    for (const auto& C : Cases) {
      TFormAttachmentFilter Form(nullptr);
      const int R = Run(Form, true, C.Stored, [&](TFormAttachmentFilter& F) {
        QCOMPARE(F.windowTitle(), QString("Attachment Filter"));
        QCOMPARE(F.CBUseAttachmentFilter->text(), QString("Reject mail  which contains following types of files."));
        QCOMPARE(F.LVFileExt->headerItem()->text(0), QString("File Extension"));
        QCOMPARE(F.LVFileExt->headerItem()->text(1), QString("Description"));
        QCOMPARE(Column(F.LVFileExt, 0), C.Rows);
        QCOMPARE(Ticks(F.LVFileExt), C.Ticked);
        for (int I = 0; I < F.LVFileExt->topLevelItemCount(); ++I)
          QCOMPARE(F.LVFileExt->topLevelItem(I)->text(1),
                   QString::fromStdString(GetFileTypeDescription(F.LVFileExt->topLevelItem(I)->text(0).toStdString())));
        QVERIFY(F.BtnOK->isDefault());
        Click(F.BtnOK);
      });
      QCOMPARE(R, C.Result);
      QCOMPARE(Built(Form), std::string(C.Built));
      QVERIFY(Form.CBUseAttachmentFilter->isChecked());
    }
  }

  void ResetGivesTheDefault() {
    TTestEnv Env;
    TFormAttachmentFilter Form(nullptr);
    const int R = Run(Form, false, "0:doc", [](TFormAttachmentFilter& F) {
      Click(F.CBUseAttachmentFilter);
      Click(F.BtnReset);
      QVERIFY(F.CBUseAttachmentFilter->isChecked());
      Click(F.BtnOK);
    });
    QCOMPARE(R, int(QDialog::Accepted));
    QCOMPARE(Built(Form), std::string(Default));
  }

  void SwitchOffKeepsTicksAndDisablesTheList() {
    TTestEnv Env;
    TFormAttachmentFilter Form(nullptr);
    const int R = Run(Form, true, "1:bat;0:doc", [](TFormAttachmentFilter& F) {
      QVERIFY(IsSwitchedOn(F.LVFileExt));
      SelectRow(F.LVFileExt, 1);
      QVERIFY(!F.LVFileExt->selectedItems().isEmpty());
      Click(F.CBUseAttachmentFilter);
      QVERIFY(IsSwitchedOff(F.LVFileExt));
      QVERIFY(F.LVFileExt->selectedItems().isEmpty());
      for (QPushButton* B : {F.BtnSelectAll, F.BtnSelectNone, F.BtnAdd, F.BtnEdit, F.BtnRemove, F.BtnReset})
        QVERIFY(!B->isEnabled());
      QVERIFY(F.BtnOK->isEnabled() && F.BtnCancel->isEnabled());
      QCOMPARE(Ticks(F.LVFileExt), (QStringList{"1", "0"}));
      Click(F.BtnOK);
    });
    QCOMPARE(R, int(QDialog::Accepted));
    QVERIFY(!Form.CBUseAttachmentFilter->isChecked());
    QCOMPARE(Built(Form), std::string("1:bat;0:doc"));
  }

  void SelectAllNoneAndRemove() {
    TTestEnv Env;
    TFormAttachmentFilter Form(nullptr);
    Run(Form, true, "1:bat;0:doc;1:exe", [](TFormAttachmentFilter& F) {
      Click(F.BtnSelectAll);
      QCOMPARE(Ticks(F.LVFileExt), (QStringList{"1", "1", "1"}));
      Click(F.BtnSelectNone);
      QCOMPARE(Ticks(F.LVFileExt), (QStringList{"0", "0", "0"}));
      Click(F.BtnRemove);  // nothing selected
      QCOMPARE(F.LVFileExt->topLevelItemCount(), 3);
      SelectRow(F.LVFileExt, 1);
      Click(F.BtnRemove);
      QCOMPARE(Column(F.LVFileExt, 0), (QStringList{"bat", "exe"}));
      Click(F.BtnOK);
    });
    QCOMPARE(Built(Form), std::string("0:bat;0:exe"));
  }

  void AddingExtensions() {
    TTestEnv Env;
    const QString Dup = "The duplicate entry already exists in list.";
    auto Bad = [](const char* Text) {
      return QString("'%1' is not a valid file extension. An extension can not contain blanks, '.', ':', ';', '*' or '?'.")
          .arg(Text);
    };
    const struct {
      const char* Name;
      const char* Typed;
      QStringList Boxes;
      const char* Added;
    } Cases[] = {
        {"new extension", "txt", {}, "txt"},
        {"shown and stored in lower case", "DOC", {}, "doc"},
        {"already listed", "exe", {Dup}, nullptr},
        {"already listed in other letters", "EXE", {Dup}, nullptr},
        // An attachment's extension is compared with each entry as a whole, and the entries
        // are stored joined by ";" and ":".
        {"leading dot", ".doc", {}, "doc"},
        {"blanks around", "  doc ", {}, "doc"},
        {"leading dot of a listed one", ".exe", {Dup}, nullptr},
        {"blank inside", "d oc", {Bad("d oc")}, nullptr},
        {"dot inside", "tar.gz", {Bad("tar.gz")}, nullptr},
        {"wildcard", "*", {Bad("*")}, nullptr},
        {"question mark", "ex?", {Bad("ex?")}, nullptr},
        {"separator ';'", "a;b", {Bad("a;b")}, nullptr},
        {"separator ':'", "a:b", {Bad("a:b")}, nullptr},
        {"a dot alone", ".", {Bad(".")}, nullptr},
    };
    for (const auto& C : Cases) {
      TRecordingBoxes Boxes;
      TFormAttachmentFilter Form(nullptr);
      Run(Form, true, "1:exe;0:js", [&](TFormAttachmentFilter& F) {
        TypeExtension(F.BtnAdd, C.Typed, [](TFormEditFileExt& E) {
          QCOMPARE(E.windowTitle(), QString("File Extension"));
          QVERIFY(E.EditFileExtension->text().isEmpty());
          QVERIFY(!E.BtnOK->isEnabled());
          Type(E.EditFileExtension, "  ");
          QVERIFY(!E.BtnOK->isEnabled());
        });
        Click(F.BtnOK);
      });
      QStringList Texts;
      for (const auto& B : Boxes.Boxes) Texts << B.Text;
      QVERIFY2(Texts == C.Boxes, C.Name);
      std::vector<std::string> Rows = {"1:exe", "0:js"};
      if (C.Added) Rows.push_back(std::string("1:") + C.Added);
      std::sort(Rows.begin(), Rows.end(), [](const std::string& A, const std::string& B) { return A.substr(2) < B.substr(2); });
      std::string Expected;
      for (const auto& R : Rows) Expected += (Expected.empty() ? "" : ";") + R;
      QVERIFY2(Built(Form) == Expected, C.Name);
    }
  }

  void EditingAnExtension() {
    TTestEnv Env;
    TRecordingBoxes Boxes;
    TFormAttachmentFilter Form(nullptr);
    Run(Form, true, "1:bat;0:doc;1:exe", [](TFormAttachmentFilter& F) {
      Click(F.BtnEdit);  // nothing selected: nothing opens
      SelectRow(F.LVFileExt, 1);
      // Unchanged: the editor closes with Cancel.
      bool Open = TypeExtension(F.BtnEdit, "doc", [](TFormEditFileExt& E) {
        QCOMPARE(E.EditFileExtension->text(), QString("doc"));
        QVERIFY(E.BtnOK->isEnabled());
      });
      QVERIFY(!Open);
      QCOMPARE(Column(F.LVFileExt, 0), (QStringList{"bat", "doc", "exe"}));
      // A new name moves the row to its place and keeps its tick.
      TypeExtension(F.BtnEdit, "zip");
      QCOMPARE(Column(F.LVFileExt, 0), (QStringList{"bat", "exe", "zip"}));
      QCOMPARE(Ticks(F.LVFileExt), (QStringList{"1", "1", "0"}));
      QCOMPARE(F.LVFileExt->topLevelItem(2)->text(1), QString::fromStdString(GetFileTypeDescription("zip")));
      Click(F.BtnOK);
    });
    QVERIFY(Boxes.Boxes.empty());
    QCOMPARE(Built(Form), std::string("1:bat;1:exe;0:zip"));
  }

  void CancelLeavesTheCallersValues() {
    TTestEnv Env;
    TFormAttachmentFilter Form(nullptr);
    const int R = Run(Form, true, Default, [](TFormAttachmentFilter& F) {
      Click(F.BtnSelectNone);
      Click(F.BtnCancel);
    });
    QCOMPARE(R, int(QDialog::Rejected));
  }
};

QTEST_MAIN(TestAttachmentFilter)
#include "attfilter_test.moc"
