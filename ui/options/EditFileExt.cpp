#include "ui/options/EditFileExt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/AttFilter.h"
#include "ui/options/DialogControls.h"

TFormEditFileExt* FormEditFileExt = nullptr;

namespace {
// The extension as the filter compares it: trimmed, without a leading dot. False when it is
// empty or holds a character that is no part of a plain extension: a blank, a dot, a list
// separator or a wildcard.
bool PlainExtension(const std::string& Text, std::string& Ext) {
  Ext = Trim(Text);
  if (!Ext.empty() && Ext[0] == '.') Ext.erase(0, 1);
  if (Ext.empty()) return false;
  for (char C : Ext)
    if (static_cast<unsigned char>(C) <= ' ' || C == '.' || C == ':' || C == ';' || C == '*' || C == '?') return false;
  return true;
}
}  // namespace

TFormEditFileExt::TFormEditFileExt(QWidget* Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("FormEditFileExt"));
  setWindowTitle(QStringLiteral("File Extension"));
  Label1 = NewControl<QLabel>(this, "Label1", "&File Extension:");
  EditFileExtension = NewEdit(this, "EditFileExtension", 200);
  SetLowerCaseMode(EditFileExtension);
  Label1->setBuddy(EditFileExtension);
  auto* Field = new QHBoxLayout;
  Field->addWidget(Label1);
  Field->addWidget(EditFileExtension, 1);
  auto* Main = new QVBoxLayout(this);
  Main->addLayout(Field);
  EndDialogLayout(this, Main, BtnOK, BtnCancel);
  connect(EditFileExtension, &QLineEdit::textChanged, this, [this] { RunGuarded([this] { EditFileExtensionChange(); }); });
  connect(BtnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnOKClick(); }); });
  FormCreate();
}

void TFormEditFileExt::FormCreate() { LoadFormLanguage(this, LanguageDir() + LanguageName.get()); }

int TFormEditFileExt::Execute(const std::string& Ext) {
  OldExt = Trim(Ext);
  EditFileExtension->setText(ToQ(Ext));
  EditFileExtensionChange();
  return exec();
}

void TFormEditFileExt::EditFileExtensionChange() { BtnOK->setEnabled(!Trim(FromQ(EditFileExtension->text())).empty()); }

void TFormEditFileExt::BtnOKClick() {
  const std::string Text = FromQ(EditFileExtension->text());
  std::string Ext;
  // The filter compares an attachment's extension with each entry as a whole, and the
  // entries are stored joined by ";" and ":".
  if (!PlainExtension(Text, Ext)) {
    ErrorBox(LangFmt(99, Text));
    return;
  }
  const auto Listed = [&Ext] {
    if (!FormAttachmentFilter) return false;
    const QString Lower = ToQ(Ext).toLower();
    for (int I = 0; I < FormAttachmentFilter->LVFileExt->topLevelItemCount(); ++I)
      if (FormAttachmentFilter->LVFileExt->topLevelItem(I)->text(0).compare(Lower, Qt::CaseInsensitive) == 0)
        return true;
    return false;
  };
  if (!EntryMayBeAccepted(this, Ext == OldExt, Listed)) return;
  EditFileExtension->setText(ToQ(Ext));
  accept();
}
