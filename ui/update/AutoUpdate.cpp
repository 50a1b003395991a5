#include "ui/update/AutoUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <climits>
#include <cmath>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "platform/PrivateFiles.h"
#include "ui/common/Desktop.h"
#include "ui/common/MultiLang.h"
#include "ui/common/WindowMessages.h"
#include "ui/common/ZQDiag.h"
#include "ui/update/DownloadAnimation.h"
#include "ui/update/UpdateHost.h"

TFormUpdate* FormUpdate = nullptr;

namespace {
bool Exists(const std::string& Path) {
  struct stat St;
  return ::lstat(Path.c_str(), &St) == 0;
}

QLabel* NewLabel(QWidget* Parent, const char* Name, const char* Text, int X, int Y, int W, int H,
                 bool Right = false) {
  auto* L = new QLabel(QString::fromUtf8(Text), Parent);
  L->setObjectName(QString::fromLatin1(Name));
  L->setGeometry(X, Y, W, H);
  if (Right) L->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return L;
}

int BarValue(int64_t V) { return static_cast<int>(std::min<int64_t>(std::max<int64_t>(V, 0), INT_MAX)); }
}  // namespace

TFormUpdate::TFormUpdate(QWidget* Owner, const TAvailableRelease& Release) : QDialog(Owner), FRelease(Release) {
  setObjectName(QStringLiteral("FormUpdate"));
  setWindowTitle(QStringLiteral("Auto Update"));
  setFixedSize(394, 252);
  Label1 = NewLabel(this, "Label1", "Downloading the update file ...", 12, 10, 370, 18);
  Animate1 = new TDownloadAnimation(this);
  Animate1->setObjectName(QStringLiteral("Animate1"));
  Animate1->setGeometry(12, 32, 370, 56);
  Animate1->setAccessibleName(QStringLiteral("Download animation"));
  Label2 = NewLabel(this, "Label2", "Downloading:", 12, 98, 160, 18);
  LabelDownloadFile = NewLabel(this, "LabelDownloadFile", "", 130, 98, 252, 18);
  Label3 = NewLabel(this, "Label3", "Download Rate:", 12, 120, 180, 18);
  LabelDownloadRate = NewLabel(this, "LabelDownloadRate", "", 200, 120, 182, 18, true);
  Label4 = NewLabel(this, "Label4", "Estimated Time Remaining:", 12, 142, 180, 18);
  LabelTimeRemaining = NewLabel(this, "LabelTimeRemaining", "0:00:00", 200, 142, 182, 18, true);
  LabelProgress = NewLabel(this, "LabelProgress", "", 12, 166, 370, 18, true);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(12, 186, 370, 18);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setValue(0);
  BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  BtnCancel->setObjectName(QStringLiteral("BtnCancel"));
  BtnCancel->setGeometry(307, 218, 75, 25);
  BtnCancel->setAutoDefault(false);
  connect(BtnCancel, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnCancelClick(); }); });
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { RunGuarded([this] { Timer1Timer(); }); });

  HTTPClient.IdleMs = 50;
  HTTPClient.OnIdle = &TFormUpdate::ProcessMessages;
  HTTPClient.OnWorkBegin = [this](int64_t Max) { RunGuarded([&] { HTTPClientWorkBegin(Max); }); };
  HTTPClient.OnWork = [this](int64_t Count) { RunGuarded([&] { HTTPClientWork(Count); }); };
  HTTPClient.OnWorkEnd = [this] { RunGuarded([&] { HTTPClientWorkEnd(); }); };
  if (const QScreen* S = QGuiApplication::primaryScreen()) move(S->availableGeometry().center() - rect().center());
  FormCreate();
}

TFormUpdate::~TFormUpdate() {
  if (FormUpdate == this) FormUpdate = nullptr;
}

void TFormUpdate::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  FDownloading = false;
}

void TFormUpdate::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

int TFormUpdate::StartUpdate() {
  TUpdateHost& Host = UpdateHost();
  FServerWasRunning = Host.ServerRunning && Host.ServerRunning();
  if (FServerWasRunning && Host.StopServer) Host.StopServer();
  if (Host.ShowTrayIcon) Host.ShowTrayIcon(false);
  PostWindowMessage(this, WM_STARTDOWNLOAD);
  const int Result = exec();
  // Closed before the download began: nothing was fetched, and nothing will be.
  if (!FDownloadRan) {
    FCancelled = true;
    RestoreServer();
  }
  return Result;
}

bool TFormUpdate::event(QEvent* E) {
  if (static_cast<unsigned>(E->type()) == WM_STARTDOWNLOAD) {
    RunGuarded([this] { Download(); });
    return true;
  }
  return QDialog::event(E);
}

// Escape and the window's close button are the Cancel button.
void TFormUpdate::reject() { RunGuarded([this] { BtnCancelClick(); }); }

bool TFormUpdate::Quitting() {
  const TUpdateHost& Host = UpdateHost();
  return Host.Quitting && Host.Quitting();
}

void TFormUpdate::RestoreServer() {
  // The program ends: the server stays stopped.
  if (FServerRestored || Quitting()) return;
  FServerRestored = true;
  TUpdateHost& Host = UpdateHost();
  if (FServerWasRunning && Host.StartServer) Host.StartServer();
  if (Host.ShowTrayIcon) Host.ShowTrayIcon(true);
}

void TFormUpdate::GiveUp(const std::string& Message) {
  ErrorBox(Message);
  RestoreServer();
  QDialog::done(QDialog::Rejected);
}

void TFormUpdate::Download() {
  FDownloadRan = true;
  // Cancel or the program's end may come while the download prepares: then no transfer
  // starts.
  auto CancelledNow = [this] {
    if (FCancelled) RestoreServer();
    return FCancelled || Quitting();
  };
  if (CancelledNow()) return;
  repaint();
  ProcessMessages();
  if (CancelledNow()) return;

  std::string FileName = UpdateFileName(FRelease.DownloadURL);
  const std::string Folder = UpdateFolder();
  if (FileName.empty() || !MakePrivateFolder(Folder)) {
    ErrorBox(LangStrings[96]);
    RestoreServer();
    return;
  }
  // An earlier file that cannot be removed (still open in an installer) is avoided.
  while (Exists(Folder + FileName)) {
    if (::unlink((Folder + FileName).c_str()) == 0 && !Exists(Folder + FileName)) break;
    FileName = "qvu" + FileName;
    ProcessMessages();
  }
  ProcessMessages();
  if (CancelledNow()) return;

  const std::string Path = Folder + FileName;
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (Fd < 0) {
    ErrorBox(LangStrings[96]);
    RestoreServer();
    return;
  }
  FDownloadFile = Path;
  FStartTime = Now();
  Animate1->Play();
  LabelDownloadFile->setText(QString::fromStdString(LangFmt(97, "Quillon Pro", FRelease.NewVersion)));
  Timer1->start();

  HTTPClient.OnData = [Fd](const char* Data, size_t Size) {
    while (Size > 0) {
      const ssize_t N = ::write(Fd, Data, Size);
      if (N < 0 && errno == EINTR) continue;
      if (N <= 0) return false;
      Data += N;
      Size -= static_cast<size_t>(N);
    }
    return true;
  };
  const bool Complete = HTTPClient.Get(FRelease.DownloadURL);
  Timer1->stop();
  Animate1->Stop();
  const bool Closed = ::close(Fd) == 0;

  // A quit disconnected the transfer: whatever arrived is not installed.
  if (CancelledNow()) return;
  std::string Failure;
  if (HTTPClient.ResponseCode() != 200)
    Failure = HTTPClient.ResponseText().empty() ? HTTPClient.ErrorText() : HTTPClient.ResponseText();
  else if (FTotalSize > 0 && FReceivedSize != FTotalSize)
    // A connection cut before the announced size is no release to install.
    Failure = "Incomplete transfer: " + std::to_string(FReceivedSize) + " of " + std::to_string(FTotalSize) +
              " bytes received";
  else if (!Complete)
    Failure = HTTPClient.ErrorText();
  else if (!Closed)
    Failure = "Write error";
  if (!Failure.empty()) {
    GiveUp(LangFmt(98, Failure));
    return;
  }

  // The opener may take a while to hand the package on; it cannot be called back meanwhile.
  BtnCancel->setEnabled(false);
  const bool Opened = Desktop().OpenFile(QString::fromStdString(Path));
  if (Quitting()) return;
  // Nothing on the desktop opens the package, or its opener failed: ending now would leave
  // no server and nothing installed. The file stays for the user to install.
  if (!Opened) {
    GiveUp(LangFmt(108, Path));
    return;
  }
  QDialog::done(QDialog::Rejected);
  if (UpdateHost().QuitProgram) UpdateHost().QuitProgram();
}

void TFormUpdate::BtnCancelClick() {
  // Escape and the close button too, while the package is with the opener.
  if (!BtnCancel->isEnabled()) return;
  if (FDownloading) {
    if (!YesNoBox(LangStrings[95])) return;
  }
  // Also while the download still prepares or connects: no transfer is wanted any more.
  FCancelled = true;
  HTTPClient.Disconnect();
  QDialog::done(QDialog::Rejected);
}

void TFormUpdate::HTTPClientWorkBegin(int64_t WorkCountMax) {
  FDownloading = true;
  FStartTime = Now();
  ProgressBar1->setMaximum(WorkCountMax < 1 ? INT_MAX : BarValue(WorkCountMax));
  FRate = 0;
  FTotalSize = WorkCountMax;
  UpdateProgress();
}

void TFormUpdate::HTTPClientWork(int64_t WorkCount) {
  FReceivedSize = WorkCount;
  ProgressBar1->setValue(BarValue(WorkCount));
}

void TFormUpdate::HTTPClientWorkEnd() {
  FDownloading = false;
  UpdateProgress();
}

QString TFormUpdate::FormatOneDecimal(double Value) {
  const double R = std::round(Value * 10) / 10;
  QString S = QString::number(R, 'f', std::fabs(R - std::trunc(R)) < 1e-9 ? 0 : 1);
  return S.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

void TFormUpdate::UpdateProgress() {
  const double Seconds = (Now() - FStartTime) * SecsPerDay;
  if (Seconds > 0) FRate = double(FReceivedSize) / 1024 / Seconds;
  // Without an announced size there is nothing to count down to.
  double Left = 100000;
  if (FRate > 0 && FTotalSize > 0) Left = std::max(0.0, double(FTotalSize - FReceivedSize) / 1024 / FRate);
  if (FRate > 1000 && Seconds < 3)
    LabelDownloadRate->clear();
  else
    LabelDownloadRate->setText(FormatOneDecimal(FRate) + QStringLiteral(" KB/s"));
  if (Left < 100000) {
    const int64_t T = static_cast<int64_t>(Left);
    LabelTimeRemaining->setText(QString::asprintf("%d:%02d:%02d", int(T / 3600), int((T / 60) % 60), int(T % 60)));
  } else {
    LabelTimeRemaining->setText(QStringLiteral("?:??:??"));
  }
  const QString Received = FormatOneDecimal(double(FReceivedSize) / 1024) + QStringLiteral(" KB");
  if (FTotalSize > 0)
    LabelProgress->setText(Received + QLatin1Char('/') + FormatOneDecimal(double(FTotalSize) / 1024) +
                           QStringLiteral(" KB"));
  else
    LabelProgress->setText(Received);
  ProgressBar1->setValue(BarValue(FReceivedSize));
  ProcessMessages();
}
