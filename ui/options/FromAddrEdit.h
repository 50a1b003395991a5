#pragma once
// The editor of one sender rule: a mail address or a mail domain name.
#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;
class QRadioButton;

class TFormFromAddrEdit : public QDialog {
  Q_OBJECT
public:
  explicit TFormFromAddrEdit(QWidget* Owner);

  // Entry: the rule to edit, empty for a new one.
  int Execute(const std::string& Entry);
  // After OK: the trimmed text of the field of the chosen mode.
  std::string Result() const;

  std::string OldValue;

  QRadioButton* RBAddress;
  QLineEdit* EditAddress;
  QRadioButton* RBDomainName;
  QLineEdit* EditDomainName;
  QPushButton* BtnOK;
  QPushButton* BtnCancel;

  void RBAddressClick();
  void BtnOKClick();

private:
  void FormCreate();
};

extern TFormFromAddrEdit* FormFromAddrEdit;
