#pragma once
// The editor of one relay SMTP server.
#include <QDialog>
#include <functional>

#include "engine/settings/ListFormats.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TFormEditSMTPItem : public QDialog {
  Q_OBJECT
public:
  explicit TFormEditSMTPItem(QWidget* Owner);

  // Fills the controls from Item and shows the editor modally: QDialog::Accepted only for
  // a valid value that differs from Item and that OnCheckDuplicate does not find.
  int Execute(const TRelaySMTPItem& Item);

  // True when an equal server is already in the caller's list; unassigned: no duplicate.
  std::function<bool(const TRelaySMTPItem& Item)> OnCheckDuplicate;
  TRelaySMTPItem OldItem;
  TRelaySMTPItem NewItem;  // valid after Execute returned Accepted

  QLabel* LabelRelaySMTPHost;
  QLineEdit* EditRelaySMTPHost;
  QLabel* LabelRelaySMTPPort;
  QSpinBox* RSERelaySMTPPort;
  QLabel* LabelEmail;
  QLineEdit* EditEmail;
  QLabel* LabelEmailOptional;
  QCheckBox* CBRelaySMTPAuth;
  QLabel* LabelRelaySMTPUsername;
  QLineEdit* EditRelaySMTPUsername;
  QLabel* LabelRelaySMTPPassword;
  QLineEdit* EditRelaySMTPPassword;
  QLabel* LabelFromEmail;
  QLineEdit* EditFromEmail;
  QLabel* LabelFromEmailOptional;
  QPushButton* BtnOK;
  QPushButton* BtnCancel;

  void EditRelaySMTPHostChange();
  void CBRelaySMTPAuthClick();
  void BtnOKClick();

private:
  void FormCreate();
  void UpdateAuthControls();
};

// The open relay server editor.
extern TFormEditSMTPItem* FormEditSMTPItem;
