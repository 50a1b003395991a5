#pragma once
// The download window: stops the mail server, fetches the release's package on the GUI
// thread with progress, rate and time left, hands it to the desktop's package installer
// and ends the program. A failure, Cancel, or a desktop that cannot open the package
// restarts the server, and the program goes on.
#include <QDialog>
#include <cstdint>
#include <string>

#include "platform/DateTime.h"
#include "ui/update/HttpClient.h"
#include "ui/update/UpdateBase.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TDownloadAnimation;

class TFormUpdate : public QDialog {
  Q_OBJECT
public:
  // Release: the one the user chose to install.
  TFormUpdate(QWidget* Owner, const TAvailableRelease& Release);
  ~TFormUpdate() override;

  // Stops the server, hides the tray icon, queues the download and shows the window
  // modally; returns its modal result.
  int StartUpdate();
  void Download();
  void RestoreServer();
  void UpdateProgress();
  void BtnCancelClick();

  // The file the download writes (empty before the download chose it).
  const std::string& DownloadFile() const { return FDownloadFile; }

  // "0.#": at most one decimal, the locale's decimal separator.
  static QString FormatOneDecimal(double Value);

protected:
  bool event(QEvent* E) override;
  void reject() override;

private:
  void FormCreate();
  void HTTPClientWorkBegin(int64_t WorkCountMax);
  void HTTPClientWork(int64_t WorkCount);
  void HTTPClientWorkEnd();
  void Timer1Timer() { UpdateProgress(); }
  // Processes pending window messages, as the library's anti-freeze does.
  static void ProcessMessages();
  // The program ends (its quit routine ran).
  static bool Quitting();
  // Message in an error box, the server back, the window closed; the program goes on.
  void GiveUp(const std::string& Message);

  const TAvailableRelease FRelease;
  int64_t FTotalSize = 0;
  int64_t FReceivedSize = 0;
  TDateTime FStartTime = 0;
  bool FDownloading = false;
  double FRate = 0;
  bool FServerWasRunning = false;
  bool FCancelled = false;
  bool FDownloadRan = false;
  bool FServerRestored = false;
  std::string FDownloadFile;

  QLabel* Label1 = nullptr;
  TDownloadAnimation* Animate1 = nullptr;
  QLabel *Label2 = nullptr, *LabelDownloadFile = nullptr;
  QLabel *Label3 = nullptr, *LabelDownloadRate = nullptr;
  QLabel *Label4 = nullptr, *LabelTimeRemaining = nullptr;
  QLabel* LabelProgress = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* BtnCancel = nullptr;
  THttpClient HTTPClient;
  QTimer* Timer1 = nullptr;
};

extern TFormUpdate* FormUpdate;
