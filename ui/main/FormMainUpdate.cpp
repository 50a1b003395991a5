// The main window's part in the version check and the mail viewer: the automatic check
// and its answer, the manual check command, and opening one stored mail.
#include "engine/settings/VexaBase.h"
#include "platform/DateTime.h"
#include "ui/main/FormMain.h"
#include "ui/update/CheckVersion.h"
#include "ui/update/NotifyUpdate.h"
#include "ui/update/UpdateBase.h"
#include "ui/update/UpdateHost.h"

void TFormMain::InstallUpdateHost() {
  TUpdateHost& Host = UpdateHost();
  Host.ServerRunning = [this] { return FServerRunning; };
  Host.StartServer = [this] { StartServer(); };
  Host.StopServer = [this] { StopServer(); };
  Host.ShowTrayIcon = [this](bool Visible) {
    if (FTrayAvailable) RTIconVexa->setVisible(Visible);
  };
  Host.MainWindow = [this] { return static_cast<QWidget*>(this); };
  Host.QuitProgram = [this] { QuitProgram(); };
  Host.Quitting = [this] { return FQuitting; };
}

void TFormMain::StartVersionCheck() {
  try {
    FCheckVersionThread = std::make_unique<TCheckVersionThread>(VersionCheckURL());
  } catch (const EVersionCheckError& E) {
    // A check that cannot start has failed: logged once the log exists, not tried again today.
    FVersionCheckFailure = E.what();
    SetLastCheckVersionDate(Date());
    return;
  }
  FCheckVersionThread->NotifyWindow = this;
  FCheckVersionThread->Resume();
}

void TFormMain::WMCheckVersionResult(uintptr_t WParam) {
  if (!FCheckVersionThread) return;
  const TAvailableRelease Found = FCheckVersionThread->Found();
  FCheckVersionThread.reset();
  SetLastCheckVersionDate(Date());
  if (WParam == 1) {
    TFormNotifyUpdate Notify(this, Found);
    FormNotifyUpdate = &Notify;
    Notify.exec();
    FormNotifyUpdate = nullptr;
  }
}

void TFormMain::MICheckVersionClick() {
  TFormCheckVersion Check(this);
  FormCheckVersion = &Check;
  Check.Execute();
  FormCheckVersion = nullptr;
}

