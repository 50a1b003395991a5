// The connection control and FROM address dialogs with their entry editors, driven through
// their widgets.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include "OptionsTestSupport.h"
#include "UiTestSupport.h"
#include "support/TestEnv.h"
#include "ui/options/AccessCtrl.h"
#include "ui/options/AccessCtrlEdit.h"
#include "ui/options/FROMAddrSet.h"
#include "ui/options/FromAddrEdit.h"

namespace {
struct TLists {
  bool UseGranted;
  std::string Grant, Deny;
};

// Runs the list dialog on Lists; Step works inside it and ends it.
template <class TForm>
int Run(TForm& Form, const TLists& Lists, std::function<void(TForm&)> Step) {
  Form.UseGranted = Lists.UseGranted;
  Form.GrantList = Lists.Grant;
  Form.DenyList = Lists.Deny;
  OnNext<TForm>(Step);
  return Form.Execute();
}

// Opens the entry editor with Button and runs Edit inside it; an editor still open after
// Edit is cancelled. True when the editor stayed open.
template <class TEditor>
bool WithEditor(QAbstractButton* Button, std::function<void(TEditor&)> Edit) {
  bool StayedOpen = false;
  OnNext<TEditor>([&](TEditor& E) {
    Edit(E);
    if (E.isVisible()) {
      StayedOpen = true;
      Click(E.BtnCancel);
    }
  });
  Click(Button);
  return StayedOpen;
}

QStringList Texts(const TRecordingBoxes& Boxes) {
  QStringList L;
  for (const auto& B : Boxes.Boxes) L << B.Text;
  return L;
}

const QString Dup = "The duplicate entry already exists in list.";
}  // namespace

class TestAccessLists : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { QuietSizeHintNotes(); }
  void init() { ResetModalSteps(); }
  void cleanup() { QVERIFY(!ModalStepsFailed()); }

  void ConnectionListsReadAndWriteBack() {
    TTestEnv Env;
    const struct {
      const char* Stored;
      QStringList Shown;
      const char* Rebuilt;
    } Cases[] = {
        {"10.0.0.1;192.168.0.0:255.255.255.0", {"10.0.0.1", "192.168.0.0 (255.255.255.0)"},
         "10.0.0.1;192.168.0.0:255.255.255.0"},
        {" 10.0.0.0 : 255.0.0.0 ", {"10.0.0.0 (255.0.0.0)"}, "10.0.0.0:255.0.0.0"},
        {"10.0.0.1;;10.0.0.2", {"10.0.0.1", "", "10.0.0.2"}, "10.0.0.1;10.0.0.2"},
        {"10.0.0.1;   ", {"10.0.0.1"}, "10.0.0.1"},
        {"", {}, ""},
    };
    for (const auto& C : Cases) {
      TFormConnectionCtrl Form(nullptr);
      const int R = Run<TFormConnectionCtrl>(Form, {true, C.Stored, "10.0.0.9"}, [&](TFormConnectionCtrl& F) {
        QVERIFY(F.RBGrantList->isChecked());
        QCOMPARE(F.LVIPList->headerItem()->text(0), QString("Access"));
        QCOMPARE(F.LVIPList->headerItem()->text(1), QString("IP Address (Subnet Mask)"));
        QCOMPARE(Column(F.LVIPList, 1), C.Shown);
        for (const auto& A : Column(F.LVIPList, 0)) QCOMPARE(A, QString("Granted"));
        QVERIFY(F.BtnOK->isDefault());
        Click(F.BtnOK);
      });
      QCOMPARE(R, int(QDialog::Accepted));
      QVERIFY(!Form.Modified);
      QVERIFY(Form.UseGranted);
      QCOMPARE(Form.GrantList, std::string(C.Rebuilt));
      QCOMPARE(Form.DenyList, std::string("10.0.0.9"));
    }
  }

  void DenyListIsTheDesignChoice() {
    TTestEnv Env;
    TFormConnectionCtrl Connection(nullptr);
    QVERIFY(Connection.RBDenyList->isChecked());
    TFormFROMAddrSet From(nullptr);
    QVERIFY(From.RBGrantList->isChecked());
  }

  void SwitchingListsKeepsBoth() {
    TTestEnv Env;
    TRecordingBoxes Boxes;
    TFormConnectionCtrl Form(nullptr);
    const int R = Run<TFormConnectionCtrl>(Form, {false, "10.0.0.1", "10.0.0.9"}, [](TFormConnectionCtrl& F) {
      QVERIFY(F.RBDenyList->isChecked());
      QCOMPARE(Column(F.LVIPList, 0), QStringList{"Denied"});
      Click(F.RBGrantList);
      QVERIFY(F.Modified);
      QCOMPARE(Column(F.LVIPList, 1), QStringList{"10.0.0.1"});
      QCOMPARE(Column(F.LVIPList, 0), QStringList{"Granted"});
      // The deny list's address is no duplicate in the grant list.
      WithEditor<TFormConnCtrlEdit>(F.BtnAdd, [](TFormConnCtrlEdit& E) {
        Type(E.EditIPAddress, "10.0.0.9");
        Click(E.BtnOK);
      });
      Click(F.RBDenyList);
      QCOMPARE(Column(F.LVIPList, 1), QStringList{"10.0.0.9"});
      Click(F.RBGrantList);
      QCOMPARE(Column(F.LVIPList, 1), (QStringList{"10.0.0.1", "10.0.0.9"}));
      Click(F.BtnOK);
    });
    QCOMPARE(R, int(QDialog::Accepted));
    QVERIFY(Boxes.Boxes.empty());
    QVERIFY(Form.Modified);
    QVERIFY(Form.UseGranted);
    QCOMPARE(Form.GrantList, std::string("10.0.0.1;10.0.0.9"));
    QCOMPARE(Form.DenyList, std::string("10.0.0.9"));
  }

  void OnlyTheModeChanged() {
    TTestEnv Env;
    TFormConnectionCtrl Form(nullptr);
    // Checking a button from code before the dialog shows changes nothing.
    Form.RBGrantList->setChecked(true);
    QVERIFY(!Form.Modified);
    Run<TFormConnectionCtrl>(Form, {true, "10.0.0.1", ""}, [](TFormConnectionCtrl& F) {
      Click(F.RBDenyList);
      Click(F.BtnOK);
    });
    QVERIFY(Form.Modified);
    QVERIFY(!Form.UseGranted);
    QCOMPARE(Form.GrantList, std::string("10.0.0.1"));
  }

  void ConnectionEntryChecks() {
    TTestEnv Env;
    const struct {
      const char* Name;
      bool Group;
      const char* Address;
      const char* Mask;
      QStringList Boxes;
      const char* Added;
    } Cases[] = {
        {"single address", false, "10.0.0.2", "", {}, "10.0.0.2"},
        {"blanks are trimmed", false, " 10.0.0.3", "", {}, "10.0.0.3"},
        {"subnet", true, "192.168.1.0", "255.255.255.0", {}, "192.168.1.0 (255.255.255.0)"},
        {"duplicate address", false, "10.0.0.1", "", {Dup}, nullptr},
        {"duplicate subnet", true, "192.168.0.0", "255.255.255.0", {Dup}, nullptr},
        {"bad address", false, "1.2.3", "", {"1.2.3 is not a valid IP address."}, nullptr},
        {"bad subnet address", true, "300.1.1.1", "255.0.0.0", {"300.1.1.1 is not a valid subnet address."}, nullptr},
        {"bad mask", true, "10.0.0.0", "255.255.0", {"255.255.0 is not a valid subnet mask."}, nullptr},
        // The stored form joins entries by ";" and address and mask by ":".
        {"address with ':'", false, "10.0.0.1:25", "", {"10.0.0.1:25 is not a valid IP address."}, nullptr},
        {"address with ';'", false, "10.0.0.1;1.2.3", "", {"10.0.0.1;1.2.3 is not a valid IP address."}, nullptr},
        {"mask with ':'", true, "10.0.0.0", "255.0.0.0:1", {"255.0.0.0:1 is not a valid subnet mask."}, nullptr},
        // The duplicate test looks at the entry as it is stored.
        {"duplicate with a blank in front", false, " 10.0.0.1", "", {Dup}, nullptr},
    };
    for (const auto& C : Cases) {
      TRecordingBoxes Boxes;
      TFormConnectionCtrl Form(nullptr);
      Run<TFormConnectionCtrl>(Form, {true, "10.0.0.1;192.168.0.0:255.255.255.0", ""}, [&](TFormConnectionCtrl& F) {
        WithEditor<TFormConnCtrlEdit>(F.BtnAdd, [&](TFormConnCtrlEdit& E) {
          QCOMPARE(E.windowTitle(), QString("IP Address (Subnet Mask)"));
          QVERIFY(E.RBSingle->isChecked());
          QVERIFY(IsSwitchedOn(E.EditIPAddress) && IsSwitchedOff(E.EditSubnetAddress) && IsSwitchedOff(E.EditSubnetMask));
          if (C.Group) {
            Click(E.RBGroup);
            QVERIFY(IsSwitchedOff(E.EditIPAddress) && IsSwitchedOn(E.EditSubnetAddress));
            QCOMPARE(E.focusWidget(), static_cast<QWidget*>(E.EditSubnetAddress));
            Type(E.EditSubnetAddress, C.Address);
            Type(E.EditSubnetMask, C.Mask);
          } else {
            Type(E.EditIPAddress, C.Address);
          }
          Click(E.BtnOK);
        });
        Click(F.BtnOK);
      });
      QVERIFY2(Texts(Boxes) == C.Boxes, C.Name);
      QStringList Expected = {"10.0.0.1", "192.168.0.0 (255.255.255.0)"};
      if (C.Added) Expected << C.Added;
      QVERIFY2(Form.Modified == (C.Added != nullptr), C.Name);
      std::string Stored = "10.0.0.1;192.168.0.0:255.255.255.0";
      if (C.Added) Stored += std::string(";") + (C.Group ? std::string(C.Address) + ":" + C.Mask : std::string(C.Added));
      QVERIFY2(Form.GrantList == Stored, C.Name);
    }
  }

  void EditingConnectionEntries() {
    TTestEnv Env;
    TRecordingBoxes Boxes;
    TFormConnectionCtrl Form(nullptr);
    Run<TFormConnectionCtrl>(Form, {true, "10.0.0.1;192.168.0.0:255.255.255.0", ""}, [](TFormConnectionCtrl& F) {
      Click(F.BtnEdit);  // no row selected: nothing opens
      SelectRow(F.LVIPList, 1);
      WithEditor<TFormConnCtrlEdit>(F.BtnEdit, [](TFormConnCtrlEdit& E) {
        QVERIFY(E.RBGroup->isChecked());
        QCOMPARE(E.EditSubnetAddress->text(), QString("192.168.0.0"));
        QCOMPARE(E.EditSubnetMask->text(), QString("255.255.255.0"));
        QVERIFY(IsSwitchedOff(E.EditIPAddress));
        QCOMPARE(E.EditIPAddress->maxLength(), 15);
        Click(E.BtnOK);  // unchanged: OK all the same
      });
      QVERIFY(F.Modified);
      SelectRow(F.LVIPList, 0);
      WithEditor<TFormConnCtrlEdit>(F.BtnEdit, [](TFormConnCtrlEdit& E) {
        QVERIFY(E.RBSingle->isChecked());
        QCOMPARE(E.EditIPAddress->text(), QString("10.0.0.1"));
        Type(E.EditIPAddress, "10.0.0.7");
        Click(E.BtnOK);
      });
      Click(F.BtnOK);
    });
    QVERIFY(Boxes.Boxes.empty());
    QCOMPARE(Form.GrantList, std::string("10.0.0.7;192.168.0.0:255.255.255.0"));
  }

  void RemovingAndCancelling() {
    TTestEnv Env;
    TRecordingBoxes Boxes;
    TFormConnectionCtrl Form(nullptr);
    const int R = Run<TFormConnectionCtrl>(Form, {false, "", "10.0.0.1;10.0.0.2"}, [](TFormConnectionCtrl& F) {
      Click(F.BtnRemove);
      QVERIFY(!F.Modified);
      SelectRow(F.LVIPList, 0);
      Click(F.BtnRemove);
      QVERIFY(F.Modified);
      QCOMPARE(Column(F.LVIPList, 1), QStringList{"10.0.0.2"});
      Click(F.BtnCancel);
    });
    QCOMPARE(R, int(QDialog::Rejected));
    QVERIFY(Boxes.Boxes.empty());
  }

  void FromListsReadAndWriteBack() {
    TTestEnv Env;
    TFormFROMAddrSet Form(nullptr);
    const int R = Run<TFormFROMAddrSet>(Form, {true, "bob@example.org;example.net;;x", "Eve@Example.com"},
                                        [](TFormFROMAddrSet& F) {
                                          QCOMPARE(F.windowTitle(), QString("FROM Addresses Settings"));
                                          QCOMPARE(F.LVIPList->headerItem()->text(1), QString("Email Address/Domain Name"));
                                          QCOMPARE(Column(F.LVIPList, 1),
                                                   (QStringList{"bob@example.org", "example.net", "", "x"}));
                                          Click(F.BtnOK);
                                        });
    QCOMPARE(R, int(QDialog::Accepted));
    QVERIFY(!Form.Modified);
    QCOMPARE(Form.GrantList, std::string("bob@example.org;example.net;x"));
    QCOMPARE(Form.DenyList, std::string("Eve@Example.com"));
  }

  void FromEditorOpensInTheEntrysMode() {
    TTestEnv Env;
    TFormFROMAddrSet Form(nullptr);
    Run<TFormFROMAddrSet>(Form, {true, "bob@example.org;example.net", ""}, [](TFormFROMAddrSet& F) {
      SelectRow(F.LVIPList, 1);
      WithEditor<TFormFromAddrEdit>(F.BtnEdit, [](TFormFromAddrEdit& E) {
        QCOMPARE(E.windowTitle(), QString("FROM Address/Domain Name"));
        QVERIFY(E.RBDomainName->isChecked());
        QCOMPARE(E.EditDomainName->text(), QString("example.net"));
        QVERIFY(IsSwitchedOff(E.EditAddress) && IsSwitchedOn(E.EditDomainName));
        // A domain typed with "@" is taken as it is...
        Type(E.EditDomainName, "Sales@Example.net");
        Click(E.BtnOK);
      });
      QCOMPARE(Column(F.LVIPList, 1), (QStringList{"bob@example.org", "sales@example.net"}));
      // ... and opens as an address the next time.
      WithEditor<TFormFromAddrEdit>(F.BtnEdit, [](TFormFromAddrEdit& E) {
        QVERIFY(E.RBAddress->isChecked());
        QCOMPARE(E.EditAddress->text(), QString("sales@example.net"));
        QVERIFY(E.EditDomainName->text().isEmpty());
        Click(E.BtnOK);
      });
      Click(F.BtnOK);
    });
    QCOMPARE(Form.GrantList, std::string("bob@example.org;sales@example.net"));
  }

  void FromEntryChecks() {
    TTestEnv Env;
    const struct {
      const char* Name;
      bool Domain;
      const char* Typed;
      QStringList Boxes;
      const char* Added;
    } Cases[] = {
        {"address in lower case", false, "Carol@Example.org", {}, "carol@example.org"},
        {"domain", true, " example.com ", {}, "example.com"},
        {"no address", false, "carol", {"carol is not a valid mail address."}, nullptr},
        {"no domain", true, "  ", {"Please enter a valid mail domain name."}, nullptr},
        {"duplicate", false, "bob@example.org", {Dup}, nullptr},
        {"duplicate test is exact", false, "eve@example.com", {}, "eve@example.com"},
        // The rules are stored joined by ";".
        {"address with ';'", false, "a;b@example.org", {"The mail address can not contain ';'."}, nullptr},
        {"domain with ';'", true, "a.org;b.org", {"The domain name can not contain ';'."}, nullptr},
        // The duplicate test looks at the entry as it is stored.
        {"duplicate with a blank in front", false, " bob@example.org", {Dup}, nullptr},
    };
    for (const auto& C : Cases) {
      TRecordingBoxes Boxes;
      TFormFROMAddrSet Form(nullptr);
      Run<TFormFROMAddrSet>(Form, {false, "", "bob@example.org;Eve@Example.com"}, [&](TFormFROMAddrSet& F) {
        WithEditor<TFormFromAddrEdit>(F.BtnAdd, [&](TFormFromAddrEdit& E) {
          QVERIFY(E.RBAddress->isChecked());
          if (C.Domain) {
            Click(E.RBDomainName);
            Type(E.EditDomainName, C.Typed);
          } else {
            Type(E.EditAddress, C.Typed);
          }
          Click(E.BtnOK);
        });
        if (C.Added) QCOMPARE(F.LVIPList->topLevelItem(2)->text(0), QString("Denied"));
        Click(F.BtnOK);
      });
      QVERIFY2(Texts(Boxes) == C.Boxes, C.Name);
      QVERIFY2(Form.DenyList == std::string("bob@example.org;Eve@Example.com") + (C.Added ? std::string(";") + C.Added : ""),
               C.Name);
    }
  }
};

QTEST_MAIN(TestAccessLists)
#include "accessctrl_test.moc"
