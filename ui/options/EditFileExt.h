#pragma once
// The editor of one file extension of the attachment filter.
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class TFormEditFileExt : public QDialog {
  Q_OBJECT
public:
  explicit TFormEditFileExt(QWidget* Owner);

  // After QDialog::Accepted the caller reads EditFileExtension's text: the extension
  // trimmed, without a leading dot, in lower case.
  int Execute(const std::string& Ext);

  QLabel* Label1;
  QLineEdit* EditFileExtension;
  QPushButton* BtnOK;
  QPushButton* BtnCancel;

  void EditFileExtensionChange();
  void BtnOKClick();

private:
  void FormCreate();

  std::string OldExt;
};

extern TFormEditFileExt* FormEditFileExt;
