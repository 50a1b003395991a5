#pragma once
// "New version available!": the release found, with "Remind me later" and "Upgrade Now".
#include <QDialog>

#include "ui/update/UpdateBase.h"

class QLabel;
class QPushButton;

class TFormNotifyUpdate : public QDialog {
  Q_OBJECT
public:
  // Release: what the check that opens this window found.
  TFormNotifyUpdate(QWidget* Owner, const TAvailableRelease& Release);
  ~TFormNotifyUpdate() override;

  void btnRemindLaterClick();
  void BtnUpgradeClick();

protected:
  // Escape is "Remind me later".
  void keyPressEvent(QKeyEvent* E) override;

private:
  void FormCreate();
  QLabel* NewLabel(const char* Name, const char* Text, int X, int Y, int W, int H);

  const TAvailableRelease FRelease;
  QLabel* Image1 = nullptr;
  QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr;
  QLabel *Label6 = nullptr, *Label7 = nullptr;
  QLabel *LabelProduct = nullptr, *LabelCurrentVersion = nullptr, *LabelNewVersion = nullptr;
  QPushButton* btnRemindLater = nullptr;
  QPushButton* BtnUpgrade = nullptr;
};

extern TFormNotifyUpdate* FormNotifyUpdate;
