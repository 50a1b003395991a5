#pragma once
// A grant list and a deny list, one of them in force, edited in one view: the common
// part of the connection control and the FROM address dialogs.
#include <QDialog>
#include <string>

class QLabel;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class TAccessListForm : public QDialog {
  Q_OBJECT
public:
  // Shows the list in force and runs the dialog modally. Whatever the result, UseGranted
  // and the list shown hold the dialog's state afterwards; the caller takes them over
  // only when the result is QDialog::Accepted and Modified is set.
  int Execute();

  bool Modified = false;  // a list or the mode changed while the dialog was open
  std::string GrantList;
  std::string DenyList;
  bool UseGranted = false;
  bool ShowingGrantList = false;

  QLabel* Label1;
  QRadioButton* RBGrantList;
  QRadioButton* RBDenyList;
  QLabel* Label2;
  QTreeWidget* LVIPList;
  QPushButton* BtnAdd;
  QPushButton* BtnEdit;
  QPushButton* BtnRemove;
  QPushButton* BtnOK;
  QPushButton* BtnCancel;

  void BtnAddClick();
  void BtnEditClick();
  void BtnRemoveClick();
  void RBGrantListClick();

protected:
  struct TTexts {
    const char* FormName;
    const char* Caption;
    const char* Label1;
    const char* Label2;
    int EntryColumn;        // text number of the entry column's caption
    bool DenyListAtDesign;  // the deny list's button is the one checked at design
  };
  TAccessListForm(QWidget* Owner, const TTexts& Texts);

  // A stored entry as the view shows it, and a shown entry as it is stored.
  virtual std::string ShownEntry(const std::string& Stored) const = 0;
  virtual std::string StoredEntry(const std::string& Shown) const = 0;
  // Runs the entry editor on Shown (empty and IsNew for a new entry); true with Result
  // in its shown form after OK.
  virtual bool EditEntry(const std::string& Shown, bool IsNew, std::string& Result) = 0;

  // A row whose entry column equals Key exactly.
  bool FindShown(const std::string& Key) const;

private:
  void FormCreate();
  void LoadList(const std::string& Caption, const std::string& List);
  std::string BuildList() const;
  std::string AccessCaption() const;

  int FEntryColumn;
};
