#include "ui/options/FromAddrEdit.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailText.h"
#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/DialogControls.h"
#include "ui/options/FROMAddrSet.h"

TFormFromAddrEdit* FormFromAddrEdit = nullptr;

TFormFromAddrEdit::TFormFromAddrEdit(QWidget* Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("FormFromAddrEdit"));
  setWindowTitle(QStringLiteral("FROM Address/Domain Name"));
  auto NewRuleEdit = [this](const char* Name) {
    auto* E = NewEdit(this, Name, 260);
    SetLowerCaseMode(E);
    return E;
  };
  RBAddress = NewControl<QRadioButton>(this, "RBAddress", "Email Address");
  RBAddress->setChecked(true);
  EditAddress = NewRuleEdit("EditAddress");
  RBDomainName = NewControl<QRadioButton>(this, "RBDomainName", "Email Domain Name");
  EditDomainName = NewRuleEdit("EditDomainName");

  auto* Grid = new QGridLayout;
  Grid->setColumnMinimumWidth(0, 16);
  Grid->addWidget(RBAddress, 0, 0, 1, 2);
  Grid->addWidget(EditAddress, 1, 1);
  Grid->addWidget(RBDomainName, 2, 0, 1, 2);
  Grid->addWidget(EditDomainName, 3, 1);
  auto* Main = new QVBoxLayout(this);
  Main->addLayout(Grid);
  EndDialogLayout(this, Main, BtnOK, BtnCancel);

  for (QRadioButton* B : {RBAddress, RBDomainName})
    connect(B, &QRadioButton::toggled, this, [this] { RunGuarded([this] { RBAddressClick(); }); });
  connect(BtnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnOKClick(); }); });
  FormCreate();
  RBAddressClick();
}

void TFormFromAddrEdit::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  // The edits have no labels of their own: a screen reader names them after their buttons.
  EditAddress->setAccessibleName(RBAddress->text().remove(QLatin1Char('&')));
  EditDomainName->setAccessibleName(RBDomainName->text().remove(QLatin1Char('&')));
}

int TFormFromAddrEdit::Execute(const std::string& Entry) {
  OldValue = Entry;
  EditAddress->clear();
  EditDomainName->clear();
  if (Trim(Entry).empty()) {
    RBAddress->setChecked(true);
  } else if (Entry.find('@') == std::string::npos) {
    RBDomainName->setChecked(true);
    EditDomainName->setText(ToQ(Entry));
  } else {
    RBAddress->setChecked(true);
    EditAddress->setText(ToQ(Entry));
  }
  RBAddressClick();
  return exec();
}

std::string TFormFromAddrEdit::Result() const {
  return Trim(FromQ((RBAddress->isChecked() ? EditAddress : EditDomainName)->text()));
}

void TFormFromAddrEdit::RBAddressClick() {
  const bool Address = RBAddress->isChecked();
  SetInputEnabled(EditAddress, Address);
  SetInputEnabled(EditDomainName, !Address);
}

void TFormFromAddrEdit::BtnOKClick() {
  std::string Text;
  if (RBAddress->isChecked()) {
    Text = FromQ(EditAddress->text());
    if (!IsValidEmail(Text)) {
      ErrorBox(LangFmt(89, Text));
      return;
    }
  } else {
    Text = FromQ(EditDomainName->text());
    if (Trim(Text).empty()) {
      ErrorBox(LangStrings[90]);
      return;
    }
  }
  // The rules are stored joined by ";".
  if (RefuseSeparators(Text, ";", RBAddress->isChecked() ? 106 : 107)) return;
  // The duplicate test looks for the entry as it will be stored: trimmed.
  const std::string Entry = Trim(Text);
  if (Entry != OldValue && FormFROMAddrSet && FormFROMAddrSet->FindEntry(Entry)) {
    ErrorBox(LangStrings[56]);
    return;
  }
  accept();
}
