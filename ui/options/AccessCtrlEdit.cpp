#include "ui/options/AccessCtrlEdit.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/AccessCtrl.h"
#include "ui/options/DialogControls.h"

TFormConnCtrlEdit* FormConnCtrlEdit = nullptr;

TFormConnCtrlEdit::TFormConnCtrlEdit(QWidget* Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("FormConnCtrlEdit"));
  setWindowTitle(QStringLiteral("IP Address (Subnet Mask)"));
  RBSingle = NewControl<QRadioButton>(this, "RBSingle", "&Single Computer");
  RBSingle->setChecked(true);
  auto NewAddressEdit = [this](const char* Name, QLabel* Label) {
    auto* E = NewEdit(this, Name, 150);
    E->setMaxLength(15);
    Label->setBuddy(E);
    return E;
  };
  LabelIPAddress = NewControl<QLabel>(this, "LabelIPAddress", "&IP Address:");
  EditIPAddress = NewAddressEdit("EditIPAddress", LabelIPAddress);
  RBGroup = NewControl<QRadioButton>(this, "RBGroup", "&Group of Computers");
  LabelSubnetAddress = NewControl<QLabel>(this, "LabelSubnetAddress", "Subnet &Address:");
  EditSubnetAddress = NewAddressEdit("EditSubnetAddress", LabelSubnetAddress);
  LabelSubnetMask = NewControl<QLabel>(this, "LabelSubnetMask", "Subnet &Mask:");
  EditSubnetMask = NewAddressEdit("EditSubnetMask", LabelSubnetMask);

  auto* Grid = new QGridLayout;
  Grid->setColumnMinimumWidth(0, 16);
  Grid->addWidget(RBSingle, 0, 0, 1, 3);
  Grid->addWidget(LabelIPAddress, 1, 1);
  Grid->addWidget(EditIPAddress, 1, 2);
  Grid->addWidget(RBGroup, 2, 0, 1, 3);
  Grid->addWidget(LabelSubnetAddress, 3, 1);
  Grid->addWidget(EditSubnetAddress, 3, 2);
  Grid->addWidget(LabelSubnetMask, 4, 1);
  Grid->addWidget(EditSubnetMask, 4, 2);
  auto* Main = new QVBoxLayout(this);
  Main->addLayout(Grid);
  EndDialogLayout(this, Main, BtnOK, BtnCancel);

  for (QRadioButton* B : {RBSingle, RBGroup})
    connect(B, &QRadioButton::toggled, this, [this] { RunGuarded([this] { RBSingleClick(); }); });
  connect(BtnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnOKClick(); }); });
  FormCreate();
  ApplyMode();
}

void TFormConnCtrlEdit::FormCreate() { LoadFormLanguage(this, LanguageDir() + LanguageName.get()); }

int TFormConnCtrlEdit::ExecuteNew() {
  OldAddress.clear();
  OldSubnetAddress.clear();
  OldSubnetMask.clear();
  RBSingle->setChecked(true);
  ApplyMode();
  return exec();
}

int TFormConnCtrlEdit::Execute(const std::string& Entry) {
  std::string Address, Mask;
  const size_t Open = Entry.find('(');
  if (Open == std::string::npos) {
    Address = Trim(Entry);
  } else {
    Address = Trim(Entry.substr(0, Open));
    Mask = Trim(Entry.size() >= Open + 2 ? Entry.substr(Open + 1, Entry.size() - Open - 2) : std::string());
  }
  if (!Mask.empty()) {
    OldAddress.clear();
    OldSubnetAddress = Address;
    OldSubnetMask = Mask;
    RBGroup->setChecked(true);
    EditSubnetAddress->setText(ToQ(Address));
    EditSubnetMask->setText(ToQ(Mask));
  } else {
    OldAddress = Address;
    OldSubnetAddress.clear();
    OldSubnetMask.clear();
    RBSingle->setChecked(true);
    EditIPAddress->setText(ToQ(Address));
  }
  ApplyMode();
  return exec();
}

std::string TFormConnCtrlEdit::Result() const {
  if (RBSingle->isChecked()) return Trim(FromQ(EditIPAddress->text()));
  return Trim(FromQ(EditSubnetAddress->text())) + " (" + Trim(FromQ(EditSubnetMask->text())) + ")";
}

void TFormConnCtrlEdit::RBSingleClick() {
  ApplyMode();
  if (isVisible()) (RBSingle->isChecked() ? EditIPAddress : EditSubnetAddress)->setFocus();
}

void TFormConnCtrlEdit::ApplyMode() {
  const bool Single = RBSingle->isChecked();
  LabelIPAddress->setEnabled(Single);
  SetInputEnabled(EditIPAddress, Single);
  LabelSubnetAddress->setEnabled(!Single);
  SetInputEnabled(EditSubnetAddress, !Single);
  LabelSubnetMask->setEnabled(!Single);
  SetInputEnabled(EditSubnetMask, !Single);
}

void TFormConnCtrlEdit::BtnOKClick() {
  // The duplicate test looks for the entry as it will be stored: trimmed. The address
  // check refuses ":" and ";", so no entry can split the stored list.
  bool Changed;
  std::string Address, Mask;
  if (RBSingle->isChecked()) {
    const std::string Text = FromQ(EditIPAddress->text());
    if (!IsValidIP(Text)) {
      ErrorBox(LangFmt(53, Text));
      return;
    }
    Address = Trim(Text);
    Changed = Address != OldAddress;
  } else {
    const std::string AddressText = FromQ(EditSubnetAddress->text());
    const std::string MaskText = FromQ(EditSubnetMask->text());
    if (!IsValidIP(AddressText)) {
      ErrorBox(LangFmt(54, AddressText));
      return;
    }
    if (!IsValidIP(MaskText)) {
      ErrorBox(LangFmt(55, MaskText));
      return;
    }
    Address = Trim(AddressText);
    Mask = Trim(MaskText);
    Changed = Address != OldSubnetAddress || Mask != OldSubnetMask;
  }
  if (Changed && FormConnectionCtrl && FormConnectionCtrl->FindEntry(Address, Mask)) {
    ErrorBox(LangStrings[56]);
    return;
  }
  accept();
}
