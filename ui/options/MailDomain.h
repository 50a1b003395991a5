#pragma once
// The editor of one relay mail domain.
#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class TFormMailDomain : public QDialog {
  Q_OBJECT
public:
  explicit TFormMailDomain(QWidget* Owner);

  // Shows ADomain and runs the editor modally: QDialog::Accepted only for a non-blank
  // domain that differs from ADomain and that OnCheckDuplicate does not find.
  int Execute(const std::string& ADomain);

  // True when the domain is already in the caller's list; unassigned: no duplicate.
  std::function<bool(const std::string& Domain)> OnCheckDuplicate;
  std::string OldDomain;  // lower case
  std::string Domain;     // valid after Execute returned Accepted

  QLabel* Label1;
  QLineEdit* EditDomain;
  QPushButton* BtnOK;
  QPushButton* BtnCancel;

  void BtnOKClick();

private:
  void FormCreate();
};

// The open relay domain editor.
extern TFormMailDomain* FormMailDomain;
