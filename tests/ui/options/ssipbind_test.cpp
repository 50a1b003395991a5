// The server IP bindings dialog, driven through its widgets.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "OptionsTestSupport.h"
#include "UiTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "support/TestEnv.h"
#include "ui/options/SSIPBind.h"

namespace {
// The machine's addresses the dialog offers, chosen by each test.
struct TMachine {
  explicit TMachine(std::vector<std::string> A) {
    TFormSMTPIPBind::LocalAddresses = [A] { return A; };
  }
  ~TMachine() { TFormSMTPIPBind::LocalAddresses = &TFormSMTPIPBind::MachineAddresses; }
};

// Runs the dialog on the given fields; Step works inside it and ends it.
int Run(TFormSMTPIPBind& Form, bool Multi, const std::string& Bindings, std::function<void(TFormSMTPIPBind&)> Step) {
  Form.MultiIPBind = Multi;
  Form.Bindings = Bindings;
  OnNext<TFormSMTPIPBind>(Step);
  return Form.Execute();
}
}  // namespace

class TestIPBindings : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { QuietSizeHintNotes(); }
  void init() { ResetModalSteps(); }
  void cleanup() { QVERIFY(!ModalStepsFailed()); }

  void DropDownOffersLoopbackFirst() {
    TTestEnv Env;
    const struct {
      std::vector<std::string> Machine;
      QStringList Items;
    } Cases[] = {
        {{"10.0.0.5", "192.168.1.7"}, {"127.0.0.1", "10.0.0.5", "192.168.1.7"}},
        {{"10.0.0.5", "127.0.0.1"}, {"10.0.0.5", "127.0.0.1"}},
        {{}, {"127.0.0.1"}},
    };
    for (const auto& C : Cases) {
      TMachine M(C.Machine);
      TFormSMTPIPBind Form(nullptr);
      QStringList Items;
      for (int I = 0; I < Form.CBIPAddress->count(); ++I) Items << Form.CBIPAddress->itemText(I);
      QCOMPARE(Items, C.Items);
    }
    // The real list holds the machine's IPv4 addresses.
    for (const auto& A : TFormSMTPIPBind::MachineAddresses()) QVERIFY(IsValidIP(A));
  }

  void FeatureOffTakesNothingBack() {
    TTestEnv Env;
    TMachine M({});
    TFormSMTPIPBind Form(nullptr);
    QVERIFY(!Form.Modified);
    const int R = Run(Form, false, "127.0.0.1:25;junk", [](TFormSMTPIPBind& F) {
      QCOMPARE(F.windowTitle(), QString("IP Address Settings"));
      QCOMPARE(F.LVIPBind->headerItem()->text(0), QString("IP Address"));
      QCOMPARE(F.LVIPBind->headerItem()->text(1), QString("TCP Port"));
      QCOMPARE(F.EditPort->text(), QString("25"));
      for (QWidget* W : {static_cast<QWidget*>(F.LVIPBind), static_cast<QWidget*>(F.CBIPAddress),
                         static_cast<QWidget*>(F.EditPort)})
        QVERIFY(IsSwitchedOff(W));
      for (QWidget* W : {static_cast<QWidget*>(F.LabelIPAddress), static_cast<QWidget*>(F.LabelTCPPort),
                         static_cast<QWidget*>(F.BtnAdd), static_cast<QWidget*>(F.BtnRemove)})
        QVERIFY(!W->isEnabled());
      QVERIFY(F.BtnOK->isDefault());
      Click(F.BtnOK);
    });
    QCOMPARE(R, int(QDialog::Accepted));
    QVERIFY(!Form.Modified);
    QVERIFY(!Form.MultiIPBind);
    QCOMPARE(Form.Bindings, std::string("127.0.0.1:25;junk"));
  }

  void FeatureOnRebuildsTheList() {
    TTestEnv Env;
    TMachine M({});
    const struct {
      const char* Stored;
      QStringList Addresses, Ports;
      const char* Rebuilt;
    } Cases[] = {
        {"127.0.0.1:25;10.0.0.5:2525", {"127.0.0.1", "10.0.0.5"}, {"25", "2525"}, "127.0.0.1:25;10.0.0.5:2525"},
        {"127.0.0.1:25;junk;;10.0.0.5:;  ", {"127.0.0.1", "10.0.0.5"}, {"25", ""}, "127.0.0.1:25;10.0.0.5:"},
        {" 10.0.0.5 : 26 ;", {" 10.0.0.5 "}, {" 26 "}, " 10.0.0.5 : 26 "},
        {"", {}, {}, ""},
    };
    for (const auto& C : Cases) {
      TFormSMTPIPBind Form(nullptr);
      const int R = Run(Form, true, C.Stored, [&](TFormSMTPIPBind& F) {
        QVERIFY(IsSwitchedOn(F.LVIPBind) && IsSwitchedOn(F.CBIPAddress) && IsSwitchedOn(F.EditPort));
        QCOMPARE(Column(F.LVIPBind, 0), C.Addresses);
        QCOMPARE(Column(F.LVIPBind, 1), C.Ports);
        Click(F.BtnOK);
      });
      QCOMPARE(R, int(QDialog::Accepted));
      QVERIFY(Form.Modified);
      QVERIFY(Form.MultiIPBind);
      QCOMPARE(Form.Bindings, std::string(C.Rebuilt));
    }
  }

  void UncheckingKeepsTheRows() {
    TTestEnv Env;
    TMachine M({});
    TFormSMTPIPBind Form(nullptr);
    Run(Form, true, "127.0.0.1:25;junk", [](TFormSMTPIPBind& F) {
      SelectRow(F.LVIPBind, 0);
      QVERIFY(!F.LVIPBind->selectedItems().isEmpty());
      Click(F.CBSMTPMultiIPBind);
      QVERIFY(F.LVIPBind->selectedItems().isEmpty());
      QVERIFY(IsSwitchedOff(F.EditPort));
      Click(F.BtnOK);
    });
    QVERIFY(!Form.MultiIPBind);
    QCOMPARE(Form.Bindings, std::string("127.0.0.1:25"));
  }

  void CancelKeepsTheFields() {
    TTestEnv Env;
    TMachine M({});
    TFormSMTPIPBind Form(nullptr);
    const int R = Run(Form, false, "a", [](TFormSMTPIPBind& F) {
      Click(F.CBSMTPMultiIPBind);
      Click(F.BtnCancel);
    });
    QCOMPARE(R, int(QDialog::Rejected));
    QVERIFY(!Form.MultiIPBind);
    QCOMPARE(Form.Bindings, std::string("a"));
  }

  void AddChecks() {
    TTestEnv Env;
    TMachine M({"10.0.0.5"});
    const QString BadIP = "Please enter a valid IP address.";
    const QString BadPort = "Please enter a valid TCP Port number.";
    const QString NotUnique = "Binding is not unique.";
    const struct {
      const char* Name;
      const char* Address;
      const char* Port;
      bool AddAnyway;  // the answer to the question about an address the machine lacks
      QStringList Boxes;
      const char* Added;  // the row added as "address:port", nullptr for none
    } Cases[] = {
        {"new port", "127.0.0.1", "2525", false, {}, "127.0.0.1:2525"},
        {"address of the machine", "10.0.0.5", "25", false, {}, "10.0.0.5:25"},
        {"the same binding", "127.0.0.1", "25", false, {NotUnique}, nullptr},
        {"empty address", "", "25", false, {BadIP}, nullptr},
        {"blank address", "   ", "25", false, {BadIP}, nullptr},
        {"letters in the port", "127.0.0.1", "2x5", false, {BadPort}, nullptr},
        {"empty port", "127.0.0.1", " ", false, {BadPort}, nullptr},
        {"address the machine lacks, not added", "10.9.9.9", "25", false,
         {"Can't find the IP address(10.9.9.9) in local IP address list. Do you want to add it anyway?"}, nullptr},
        {"address the machine lacks, added anyway", "10.9.9.9", "25", true,
         {"Can't find the IP address(10.9.9.9) in local IP address list. Do you want to add it anyway?"},
         "10.9.9.9:25"},
        // A second bind of one address and port fails and stops the whole server, whatever
        // the spelling; a port outside 1 to 65535 cannot be bound either.
        {"the same port with a leading zero", "127.0.0.1", "025", false, {NotUnique}, nullptr},
        {"the same address with blanks", " 127.0.0.1 ", " 25 ", false, {NotUnique}, nullptr},
        {"the same address spelled with zeros", "127.000.000.001", "25", false, {NotUnique}, nullptr},
        {"the same binding as a stored spelling", "10.0.0.5", "587", false, {NotUnique}, nullptr},
        {"port 0", "127.0.0.1", "0", false, {BadPort}, nullptr},
        {"port 65536", "127.0.0.1", "65536", false, {BadPort}, nullptr},
        {"port -1", "127.0.0.1", "-1", false, {BadPort}, nullptr},
        {"port 65535", "127.0.0.1", "65535", false, {}, "127.0.0.1:65535"},
        {"port 1", "127.0.0.1", "1", false, {}, "127.0.0.1:1"},
        {"a host name is no address", "localhost", "25", false, {BadIP}, nullptr},
        {"address out of range", "127.0.0.256", "25", false, {BadIP}, nullptr},
        {"address written plainly", " 127.0.0.01 ", "0026", false, {}, "127.0.0.1:26"},
    };
    for (const auto& C : Cases) {
      TRecordingBoxes Boxes;
      Boxes.Answer = C.AddAnyway;
      TFormSMTPIPBind Form(nullptr);
      QStringList Before, After;
      Run(Form, true, "127.0.0.1:25; 10.0.0.5 :0587", [&](TFormSMTPIPBind& F) {
        Before = Column(F.LVIPBind, 0);
        Type(F.CBIPAddress->lineEdit(), QString::fromUtf8(C.Address));
        Type(F.EditPort, QString::fromUtf8(C.Port));
        Click(F.BtnAdd);
        for (int I = 0; I < F.LVIPBind->topLevelItemCount(); ++I)
          After << F.LVIPBind->topLevelItem(I)->text(0) + ":" + F.LVIPBind->topLevelItem(I)->text(1);
        if (C.Added) QCOMPARE(F.LVIPBind->currentItem()->text(0) + ":" + F.LVIPBind->currentItem()->text(1), QString(C.Added));
        Click(F.BtnOK);
      });
      QStringList Texts;
      for (const auto& B : Boxes.Boxes) Texts << B.Text;
      QVERIFY2(Texts == C.Boxes, C.Name);
      // The question about an address the machine lacks offers OK and Cancel.
      for (const auto& B : Boxes.Boxes)
        QVERIFY(B.Kind == (B.Text.startsWith("Can't") ? TBoxKind::OKCancel : TBoxKind::Error));
      QStringList Expected = {"127.0.0.1:25", " 10.0.0.5 :0587"};
      if (C.Added) Expected << C.Added;
      QVERIFY2(After == Expected, C.Name);
    }
  }

  void RemoveTakesTheSelectedRow() {
    TTestEnv Env;
    TMachine M({});
    TFormSMTPIPBind Form(nullptr);
    Run(Form, true, "127.0.0.1:25;127.0.0.1:26", [](TFormSMTPIPBind& F) {
      Click(F.BtnRemove);
      QCOMPARE(F.LVIPBind->topLevelItemCount(), 2);
      SelectRow(F.LVIPBind, 0);
      Click(F.BtnRemove);
      QCOMPARE(Column(F.LVIPBind, 1), QStringList{"26"});
      Click(F.BtnOK);
    });
    QCOMPARE(Form.Bindings, std::string("127.0.0.1:26"));
  }
};

QTEST_MAIN(TestIPBindings)
#include "ssipbind_test.moc"
