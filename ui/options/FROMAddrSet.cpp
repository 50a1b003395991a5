#include "ui/options/FROMAddrSet.h"

#include "ui/options/DialogControls.h"
#include "ui/options/FromAddrEdit.h"

TFormFROMAddrSet* FormFROMAddrSet = nullptr;

TFormFROMAddrSet::TFormFROMAddrSet(QWidget* Owner)
    : TAccessListForm(Owner, {"FormFROMAddrSet", "FROM Addresses Settings",
                              "Select which FROM email addresses can be used to access the built-in SMTP server:",
                              "FROM Email Addresses or Domain Names:", 88, false}) {}

bool TFormFROMAddrSet::FindEntry(const std::string& Text) const { return FindShown(Text); }

std::string TFormFROMAddrSet::ShownEntry(const std::string& Stored) const { return Stored; }

std::string TFormFROMAddrSet::StoredEntry(const std::string& Shown) const { return Shown; }

bool TFormFROMAddrSet::EditEntry(const std::string& Shown, bool, std::string& Result) {
  const TFormVariable<TFormFROMAddrSet> List(FormFROMAddrSet, this);
  TFormFromAddrEdit Editor(this);
  const TFormVariable<TFormFromAddrEdit> Open(FormFromAddrEdit, &Editor);
  if ((Editor.Execute(Shown)) != QDialog::Accepted) return false;
  Result = Editor.Result();
  return true;
}
