#pragma once
// Which sender addresses (MAIL FROM) the built-in SMTP server accepts: a grant list or a
// deny list of mail addresses and domain names.
#include <string>

#include "ui/options/AccessListForm.h"

class TFormFROMAddrSet : public TAccessListForm {
  Q_OBJECT
public:
  // The caller stores the dialog in FormFROMAddrSet while it runs, sets UseGranted,
  // GrantList ("AuthFromGrantList") and DenyList ("AuthFromDenyList") and calls Execute.
  explicit TFormFROMAddrSet(QWidget* Owner);

  // A row that holds exactly Text.
  bool FindEntry(const std::string& Text) const;

protected:
  std::string ShownEntry(const std::string& Stored) const override;
  std::string StoredEntry(const std::string& Shown) const override;
  bool EditEntry(const std::string& Shown, bool IsNew, std::string& Result) override;
};

// The open FROM address dialog; the entry editor's duplicate test reads its list.
extern TFormFROMAddrSet* FormFROMAddrSet;
