#pragma once
// Which client computers may use the built-in SMTP server: a grant list or a deny list of
// addresses and subnets.
#include <string>

#include "ui/options/AccessListForm.h"

class TFormConnectionCtrl : public TAccessListForm {
  Q_OBJECT
public:
  // The caller stores the dialog in FormConnectionCtrl while it runs, sets UseGranted,
  // GrantList ("SMTPIPGrantList") and DenyList ("SMTPIPDenyList") and calls Execute.
  explicit TFormConnectionCtrl(QWidget* Owner);

  // A row that holds the address, or the subnet "Address (Mask)" when Mask is not blank.
  bool FindEntry(const std::string& Address, const std::string& Mask) const;

protected:
  std::string ShownEntry(const std::string& Stored) const override;
  std::string StoredEntry(const std::string& Shown) const override;
  bool EditEntry(const std::string& Shown, bool IsNew, std::string& Result) override;
};

// The open connection control dialog; the entry editor's duplicate test reads its list.
extern TFormConnectionCtrl* FormConnectionCtrl;
