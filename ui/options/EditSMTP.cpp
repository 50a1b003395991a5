#include "ui/options/EditSMTP.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
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
  auto NewLabel = [this](const char* Name, const char* Text) {
    auto* L = new QLabel(QString::fromUtf8(Text), this);
    L->setObjectName(QLatin1String(Name));
    return L;
  };
  auto NewEdit = [this](const char* Name) {
    auto* E = new QLineEdit(this);
    E->setObjectName(QLatin1String(Name));
    E->setMinimumWidth(220);
    return E;
  };
  LabelRelaySMTPHost = NewLabel("LabelRelaySMTPHost", "Host:");
  EditRelaySMTPHost = NewEdit("EditRelaySMTPHost");
  LabelRelaySMTPPort = NewLabel("LabelRelaySMTPPort", "Port:");
  RSERelaySMTPPort = new QSpinBox(this);
  RSERelaySMTPPort->setObjectName(QStringLiteral("RSERelaySMTPPort"));
  RSERelaySMTPPort->setRange(1, 65535);
  RSERelaySMTPPort->setValue(25);
  LabelEmail = NewLabel("LabelEmail", "Email:");
  EditEmail = NewEdit("EditEmail");
  LabelEmailOptional = NewLabel("LabelEmailOptional", "(Optional)");
  CBRelaySMTPAuth = new QCheckBox(QStringLiteral("Authentication"), this);
  CBRelaySMTPAuth->setObjectName(QStringLiteral("CBRelaySMTPAuth"));
  LabelRelaySMTPUsername = NewLabel("LabelRelaySMTPUsername", "Username:");
  EditRelaySMTPUsername = NewEdit("EditRelaySMTPUsername");
  LabelRelaySMTPPassword = NewLabel("LabelRelaySMTPPassword", "Password:");
  EditRelaySMTPPassword = NewEdit("EditRelaySMTPPassword");
  EditRelaySMTPPassword->setEchoMode(QLineEdit::Password);
  EditRelaySMTPPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  LabelFromEmail = NewLabel("LabelFromEmail", "FROM Email or Domain:");
  EditFromEmail = NewEdit("EditFromEmail");
  LabelFromEmailOptional = NewLabel("LabelFromEmailOptional", "(Optional)");
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

  BtnOK = new QPushButton(QStringLiteral("&OK"), this);
  BtnOK->setObjectName(QStringLiteral("BtnOK"));
  BtnOK->setDefault(true);
  BtnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  BtnCancel->setObjectName(QStringLiteral("BtnCancel"));
  auto* Buttons = new QHBoxLayout;
  Buttons->addStretch();
  Buttons->addWidget(BtnOK);
  Buttons->addWidget(BtnCancel);
  auto* Main = new QVBoxLayout(this);
  Main->addLayout(Grid);
  Main->addSpacing(6);
  Main->addLayout(Buttons);
  SetDialogBorder(this);

  connect(EditRelaySMTPHost, &QLineEdit::textChanged, this, [this] { RunGuarded([this] { EditRelaySMTPHostChange(); }); });
  connect(CBRelaySMTPAuth, &QCheckBox::toggled, this, [this] { RunGuarded([this] { CBRelaySMTPAuthClick(); }); });
  connect(BtnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnOKClick(); }); });
  connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
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
  if (NewItem == OldItem) {
    reject();
    return;
  }
  if (OnCheckDuplicate && OnCheckDuplicate(NewItem)) {
    ErrorBox(LangStrings[56]);
    return;
  }
  accept();
}
