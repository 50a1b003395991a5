#pragma once
// The manual version check: "please wait" with Cancel while a check thread asks the update
// server; then the new-version window or the "no new version" box.
#include <QDialog>
#include <memory>

class QLabel;
class QPushButton;
class TCheckVersionThread;

class TFormCheckVersion : public QDialog {
  Q_OBJECT
public:
  explicit TFormCheckVersion(QWidget* Owner = nullptr);
  // The check thread is stopped and waited for, also while it still runs.
  ~TFormCheckVersion() override;

  // Starts the check and shows the window modally.
  int Execute();
  void StartCheck();
  bool CheckingVersion() const { return FCheckingVersion; }

  void Button1Click();

protected:
  bool event(QEvent* E) override;
  // Every way the window closes passes here.
  void done(int Result) override;

private:
  void FormCreate();
  void FormClose();
  void WMCheckVersionResult(uintptr_t WParam);

  std::unique_ptr<TCheckVersionThread> FCheckVersionThread;
  bool FCheckingVersion = false;
  QLabel* Label1 = nullptr;
  QPushButton* Button1 = nullptr;
};

extern TFormCheckVersion* FormCheckVersion;
