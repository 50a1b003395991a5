#pragma once
// The built-in SMTP server's listening bindings: one port, or a list of address and port
// pairs.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class TFormSMTPIPBind : public QDialog {
  Q_OBJECT
public:
  explicit TFormSMTPIPBind(QWidget* Owner);

  // Shows MultiIPBind and Bindings and runs the dialog modally. When it returns
  // QDialog::Accepted with Modified set, both fields hold the dialog's result; otherwise
  // they are as given.
  int Execute();

  bool Modified = false;     // the result must be taken over
  bool MultiIPBind = false;  // "SMTPMultiIPBind"
  std::string Bindings;      // "SMTPMultiIPBinds"

  QCheckBox* CBSMTPMultiIPBind;
  QTreeWidget* LVIPBind;
  QLabel* LabelIPAddress;
  QComboBox* CBIPAddress;
  QLabel* LabelTCPPort;
  QLineEdit* EditPort;
  QPushButton* BtnAdd;
  QPushButton* BtnRemove;
  QPushButton* BtnOK;
  QPushButton* BtnCancel;

  void CBSMTPMultiIPBindClick();
  void BtnAddClick();
  void BtnRemoveClick();

  // The machine's IPv4 addresses offered in the drop-down (tests replace it).
  static std::function<std::vector<std::string>()> LocalAddresses;
  static std::vector<std::string> MachineAddresses();

private:
  void FormCreate();
  void UpdateControls();
  void BuildBindings(bool& MultiBind, std::string& Binds);
};

// The open bindings dialog.
extern TFormSMTPIPBind* FormSMTPIPBind;
