#include "ui/options/EditSMTP.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

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

// The FROM list as typed, with ";" between its entries, as the record keeps it: "|" between
// the entries, and no empty entry (as "a.test;" or "a.test;;b.test" would leave), which the
// relay choice would otherwise match against a sender without a domain.
std::string FromListEntries(const std::string& Typed) {
  std::string R;
  size_t Start = 0;
  while (Start <= Typed.size()) {
    size_t End = Typed.find(';', Start);
    if (End == std::string::npos) End = Typed.size();
    const std::string Entry = Typed.substr(Start, End - Start);
    if (!Trim(Entry).empty()) R += (R.empty() ? "" : "|") + Entry;
    Start = End + 1;
  }
  return R;
}

// The port field's range, widened to take a stored port outside it: the field would clamp
// such a port without a word, and OK would save the clamped one as if the user had typed it.
void PortRangeFor(QSpinBox* Field, int32_t Port) {
  Field->setRange(std::min<int32_t>(1, Port), std::max<int32_t>(65535, Port));
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
  SetPasswordMode(EditRelaySMTPPassword);
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
  PortRangeFor(RSERelaySMTPPort, OldItem.Port);
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
  // Only a stored port outside the range gets here; the user has to mend it.
  if (const int Port = RSERelaySMTPPort->value(); Port < 1 || Port > 65535) {
    ErrorBox(LangStrings[49]);
    return;
  }
  const std::string Email = Trim(FromQ(EditEmail->text()));
  const std::string Username = FromQ(EditRelaySMTPUsername->text());
  const std::string Password = FromQ(EditRelaySMTPPassword->text());
  // Host, e-mail, user name and password are fields of the stored entry, and a ":" or ";"
  // in one of them would shift every later field. The FROM list is the entry's last field
  // and its ";" become "|", so it may hold both.
  const std::pair<const std::string*, int> Fields[] = {{&Host, 101}, {&Email, 102}, {&Username, 103}, {&Password, 104}};
  for (const auto& [Text, Refusal] : Fields)
    if (RefuseSeparators(*Text, ":;", Refusal)) return;
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
  NewItem.FromEmail = CutToCapacity(FromListEntries(Trim(FromQ(EditFromEmail->text()))), 255);
  if (EntryMayBeAccepted(this, NewItem == OldItem, [this] { return OnCheckDuplicate && OnCheckDuplicate(NewItem); }))
    accept();
}
