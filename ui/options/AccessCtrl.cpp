#include "ui/options/AccessCtrl.h"

#include "platform/IniFile.h"
#include "ui/options/AccessCtrlEdit.h"
#include "ui/options/DialogControls.h"

TFormConnectionCtrl* FormConnectionCtrl = nullptr;

TFormConnectionCtrl::TFormConnectionCtrl(QWidget* Owner)
    : TAccessListForm(Owner, {"FormConnectionCtrl", "Connection Control",
                              "Select which computers may access the built-in SMTP server:", "Computers:", 62, true}) {}

bool TFormConnectionCtrl::FindEntry(const std::string& Address, const std::string& Mask) const {
  return FindShown(Trim(Mask).empty() ? Address : Address + " (" + Mask + ")");
}

// "address:mask" shows as "address (mask)".
std::string TFormConnectionCtrl::ShownEntry(const std::string& Stored) const {
  const size_t Colon = Stored.find(':');
  if (Colon == std::string::npos) return Stored;
  return Trim(Stored.substr(0, Colon)) + " (" + Trim(Stored.substr(Colon + 1)) + ")";
}

std::string TFormConnectionCtrl::StoredEntry(const std::string& Shown) const {
  const size_t Open = Shown.find('(');
  if (Open == std::string::npos) return Shown;
  // The mask runs to the character before the last one, the closing parenthesis.
  const std::string Mask = Shown.size() >= Open + 2 ? Shown.substr(Open + 1, Shown.size() - Open - 2) : std::string();
  return Trim(Shown.substr(0, Open)) + ":" + Mask;
}

bool TFormConnectionCtrl::EditEntry(const std::string& Shown, bool IsNew, std::string& Result) {
  const TFormVariable<TFormConnectionCtrl> List(FormConnectionCtrl, this);
  TFormConnCtrlEdit Editor(this);
  const TFormVariable<TFormConnCtrlEdit> Open(FormConnCtrlEdit, &Editor);
  if ((IsNew ? Editor.ExecuteNew() : Editor.Execute(Shown)) != QDialog::Accepted) return false;
  Result = Editor.Result();
  return true;
}
