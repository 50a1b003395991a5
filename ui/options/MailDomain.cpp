#include "ui/options/MailDomain.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/DialogControls.h"

TFormMailDomain* FormMailDomain = nullptr;

TFormMailDomain::TFormMailDomain(QWidget* Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("FormMailDomain"));
  setWindowTitle(QStringLiteral("Mail Domain"));
  Label1 = NewControl<QLabel>(
      this, "Label1", "Please enter the mail domain (right side of the '@' symbol of a email address):");
  EditDomain = NewEdit(this, "EditDomain", 0);
  SetLowerCaseMode(EditDomain);
  Label1->setBuddy(EditDomain);
  auto* Main = new QVBoxLayout(this);
  Main->addWidget(Label1);
  Main->addWidget(EditDomain);
  EndDialogLayout(this, Main, BtnOK, BtnCancel, "OK", "Cancel");
  connect(BtnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnOKClick(); }); });
  FormCreate();
}

void TFormMailDomain::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  OnCheckDuplicate = nullptr;
}

int TFormMailDomain::Execute(const std::string& ADomain) {
  OldDomain = FromQ(ToQ(ADomain).toLower());
  EditDomain->setText(ToQ(ADomain));
  return exec();
}

void TFormMailDomain::BtnOKClick() {
  const std::string Text = FromQ(EditDomain->text());
  if (Trim(Text).empty()) {
    ErrorBox(LangStrings[87]);
    return;
  }
  // The relay domains are stored joined by ";".
  if (RefuseSeparators(Text, ";", 105)) return;
  Domain = Text;
  if (EntryMayBeAccepted(this, Domain == OldDomain, [this] { return OnCheckDuplicate && OnCheckDuplicate(Domain); }))
    accept();
}
