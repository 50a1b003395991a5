#include "ui/options/EditSMTP.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailText.h"
#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/DialogControls.h"

TFormEditSMTPItem* FormEditSMTPItem = nullptr;

namespace {
std::string Replace(std::string S, char From, char To) {
  for (char& C : S)
    if (C == From) C = To;
  return S;
}
}  // namespace

TFormEditSMTPItem::TFormEditSMTPItem(QWidget* Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("FormEditSMTPItem"));
  setWindowTitle(QStringLiteral("SMTP Server Information"));
  auto* Grid = new QGridLayout;
  LabelRelaySMTPHost = NewControl<QLabel>(this, "LabelRelaySMTPHost", "Host:");
  EditRelaySMTPHost = NewEdit(this, "EditRelaySMTPHost", 220);
  LabelRelaySMTPPort = NewControl<QLabel>(this, "LabelRelaySMTPPort", "Port:");
  RSERelaySMTPPort = new QSpinBox(this);
  RSERelaySMTPPort->setObjectName(QStringLiteral("RSERelaySMTPPort"));
  RSERelaySMTPPort->setRange(1, 65535);
  RSERelaySMTPPort->setValue(25);
  LabelEmail = NewControl<QLabel>(this, "LabelEmail", "Email:");
  EditEmail = NewEdit(this, "EditEmail", 220);
  LabelEmailOptional = NewControl<QLabel>(this, "LabelEmailOptional", "(Optional)");
  CBRelaySMTPAuth = NewControl<QCheckBox>(this, "CBRelaySMTPAuth", "Authentication");
  LabelRelaySMTPUsername = NewControl<QLabel>(this, "LabelRelaySMTPUsername", "Username:");
  EditRelaySMTPUsername = NewEdit(this, "EditRelaySMTPUsername", 220);
  LabelRelaySMTPPassword = NewControl<QLabel>(this, "LabelRelaySMTPPassword", "Password:");
  EditRelaySMTPPassword = NewEdit(this, "EditRelaySMTPPassword", 220);
  EditRelaySMTPPassword->setEchoMode(QLineEdit::Password);
  EditRelaySMTPPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  LabelFromEmail = NewControl<QLabel>(this, "LabelFromEmail", "FROM Email or Domain:");
  EditFromEmail = NewEdit(this, "EditFromEmail", 220);
  LabelFromEmailOptional = NewControl<QLabel>(this, "LabelFromEmailOptional", "(Optional)");
  LabelRelaySMTPHost->setBuddy(EditRelaySMTPHost);
  LabelRelaySMTPPort->setBuddy(RSERelaySMTPPort);
  LabelEmail->setBuddy(EditEmail);
  LabelRelaySMTPUsername->setBuddy(EditRelaySMTPUsername);
  LabelRelaySMTPPassword->setBuddy(EditRelaySMTPPassword);
  LabelFromEmail->setBuddy(EditFromEmail);

  Grid->addWidget(LabelRelaySMTPHost, 0, 0);
  Grid->addWidget(EditRelaySMTPHost, 0, 1);
  Grid->addWidget(LabelRelaySMTPPort, 0, 2);
  Grid->addWidget(RSERelaySMTPPort, 0, 3);
  Grid->addWidget(LabelEmail, 1, 0);
  Grid->addWidget(EditEmail, 1, 1);
  Grid->addWidget(LabelEmailOptional, 1, 2, 1, 2);
  Grid->addWidget(CBRelaySMTPAuth, 2, 0, 1, 2);
  Grid->addWidget(LabelRelaySMTPUsername, 3, 0);
  Grid->addWidget(EditRelaySMTPUsername, 3, 1);
  Grid->addWidget(LabelRelaySMTPPassword, 4, 0);
  Grid->addWidget(EditRelaySMTPPassword, 4, 1);
  Grid->addWidget(LabelFromEmail, 5, 0);
  Grid->addWidget(EditFromEmail, 5, 1);
  Grid->addWidget(LabelFromEmailOptional, 5, 2, 1, 2);

  auto* Main = new QVBoxLayout(this);
  Main->addLayout(Grid);
  EndDialogLayout(this, Main, BtnOK, BtnCancel);

  connect(EditRelaySMTPHost, &QLineEdit::textChanged, this, [this] { RunGuarded([this] { EditRelaySMTPHostChange(); }); });
  connect(CBRelaySMTPAuth, &QCheckBox::toggled, this, [this] { RunGuarded([this] { CBRelaySMTPAuthClick(); }); });
  connect(BtnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnOKClick(); }); });
  FormCreate();
  UpdateAuthControls();
}

void TFormEditSMTPItem::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  OnCheckDuplicate = nullptr;
}

int TFormEditSMTPItem::Execute(const TRelaySMTPItem& Item) {
  OldItem = Item;
  EditRelaySMTPHost->setText(ToQ(OldItem.Host));
  RSERelaySMTPPort->setValue(OldItem.Port);
  CBRelaySMTPAuth->setChecked(OldItem.Auth);
  EditRelaySMTPUsername->setText(ToQ(OldItem.Username));
  EditRelaySMTPPassword->setText(ToQ(OldItem.Password));
  EditEmail->setText(ToQ(OldItem.Email));
  EditFromEmail->setText(ToQ(Replace(OldItem.FromEmail, '|', ';')));
  UpdateAuthControls();
  EditRelaySMTPHostChange();
  return exec();
}

void TFormEditSMTPItem::EditRelaySMTPHostChange() { BtnOK->setEnabled(!Trim(FromQ(EditRelaySMTPHost->text())).empty()); }

void TFormEditSMTPItem::CBRelaySMTPAuthClick() { UpdateAuthControls(); }

void TFormEditSMTPItem::UpdateAuthControls() {
  const bool On = CBRelaySMTPAuth->isChecked();
  LabelRelaySMTPUsername->setEnabled(On);
  LabelRelaySMTPPassword->setEnabled(On);
  SetInputEnabled(EditRelaySMTPUsername, On);
  SetInputEnabled(EditRelaySMTPPassword, On);
}

void TFormEditSMTPItem::BtnOKClick() {
  const std::string Host = Trim(FromQ(EditRelaySMTPHost->text()));
  if (Host.empty()) {
    ErrorBox(LangStrings[43]);
    return;
  }
  const std::string Email = Trim(FromQ(EditEmail->text()));
  const std::string Username = FromQ(EditRelaySMTPUsername->text());
  const std::string Password = FromQ(EditRelaySMTPPassword->text());
  // Host, e-mail, user name and password are fields of the stored entry, and a ":" or ";"
  // in one of them would shift every later field. The FROM list is the entry's last field
  // and its ";" become "|", so it may hold both.
  const std::pair<const char*, const std::string*> Fields[] = {
      {"The host name", &Host}, {"The mail address", &Email}, {"The user name", &Username}, {"The password", &Password}};
  for (const auto& [Name, Text] : Fields) {
    const std::string Refusal = SeparatorRefusal(Name, *Text, ":;");
    if (!Refusal.empty()) {
      ErrorBox(Refusal);
      return;
    }
  }
  if (!Email.empty() && !IsValidEmail(Email)) {
    ErrorBox(LangFmt(44, Email));
    return;
  }
  NewItem.Host = CutToCapacity(Host, 255);
  NewItem.Port = RSERelaySMTPPort->value();
  NewItem.Auth = CBRelaySMTPAuth->isChecked();
  NewItem.Username = CutToCapacity(Username, 255);
  NewItem.Password = CutToCapacity(Password, 255);
  NewItem.Email = CutToCapacity(Email, 100);
  NewItem.FromEmail = CutToCapacity(Replace(Trim(FromQ(EditFromEmail->text())), ';', '|'), 255);
  if (EntryMayBeAccepted(this, NewItem == OldItem, [this] { return OnCheckDuplicate && OnCheckDuplicate(NewItem); }))
    accept();
}
