#pragma once
// The editor of one connection control entry: a single address or a subnet.
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TFormConnCtrlEdit : public QDialog {
  Q_OBJECT
public:
  explicit TFormConnCtrlEdit(QWidget* Owner);

  // A new entry, in single mode.
  int ExecuteNew();
  // Entry in its shown form: "address" or "address (mask)".
  int Execute(const std::string& Entry);
  // After OK: the trimmed address, or "address (mask)" in group mode.
  std::string Result() const;

  std::string OldAddress;
  std::string OldSubnetAddress;
  std::string OldSubnetMask;

  QRadioButton* RBSingle;
  QRadioButton* RBGroup;
  QLabel* LabelIPAddress;
  QLineEdit* EditIPAddress;
  QLabel* LabelSubnetAddress;
  QLineEdit* EditSubnetAddress;
  QLabel* LabelSubnetMask;
  QLineEdit* EditSubnetMask;
  QPushButton* BtnOK;
  QPushButton* BtnCancel;

  void RBSingleClick();
  void BtnOKClick();

private:
  void FormCreate();
  void ApplyMode();
};

extern TFormConnCtrlEdit* FormConnCtrlEdit;
