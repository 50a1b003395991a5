// The main window's life: start-up, the server commands, hiding to the tray, the end.
#include "ui/main/FormMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QUrl>
#include <cmath>
#include <utility>

#include "engine/delivery/MailSender.h"
#include "engine/dns/DNSCache.h"
#include "engine/receiver/MailReceiver.h"
#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MemMailStore.h"
#include "platform/Registry.h"
#include "ui/common/Desktop.h"
#include "ui/common/FormAbout.h"
#include "ui/common/WindowMessages.h"
#include "ui/common/ZQDiag.h"
#include "ui/update/HttpClient.h"
#include "ui/update/UpdateBase.h"
#include "ui/update/UpdateHost.h"
#include "ui/options/DialogControls.h"
#include "ui/options/FormOptions.h"
#include "ui/wizard/Wizard.h"

void TFormMain::TWindowTarget::post(unsigned Message) { PostWindowMessage(FWindow, Message); }

TFormMain::TFormMain(bool TrayAvailable)
    : QMainWindow(nullptr), GetSystemDNSServers(GetDNSServers), FTrayAvailable(TrayAvailable) {
  BuildWindow();
  FormCreate();
  InstallUpdateHost();
}

TFormMain::~TFormMain() { FormDestroy(); }

// The engine objects and the queues start out empty; Initialize makes them.
void TFormMain::FormCreate() {
  // Centred on the screen at its design size, unless the layout file says otherwise.
  if (const QScreen* S = QGuiApplication::primaryScreen()) move(S->availableGeometry().center() - rect().center());
  FPMainRestorePlacement();
}

// The order matters: the first-start wizard runs before any engine object exists, so that
// what it saves is in force for them; then the daily version check; the queues exist before
// any engine object that logs, and the view settings are in force before the server may
// start.
void TFormMain::Initialize() {
  if (!IsWizardAlreadyRun()) ConfigureWizard1Click();
  if (std::trunc(Date()) != std::trunc(GetLastCheckVersionDate())) StartVersionCheck();
  FReceivedCount = FSentCount = FFailedCount = 0;
  RTIconVexa->setToolTip(QString::fromStdString(BuildTrayHint()));
  FTimerMode = false;
  FLogQueue = std::make_unique<TThreadList<TLogItem>>();
  FProgressQueue = std::make_unique<TThreadList<TProgressItem>>();
  if (!FVersionCheckFailure.empty()) PostLogMessage(3, std::exchange(FVersionCheckFailure, std::string()));
  setWindowTitle(QStringLiteral("Quillon Pro"));
  BuildLanguageMenu();
  auto Store = std::make_unique<TMemoryMailStore>();
  Store->NotifyWindow = &FNotifyTarget;
  Store->OnLog = [this](uint8_t Level, const std::string& Text) { PostLogMessage(Level, Text); };
  Store->FlushEarlyLog();  // what loading found (a damaged journal, say)
  FMailStore = std::move(Store);
  BuildCategoryTree();
  ApplyLanguage();
  FDNSCache = std::make_unique<TVexaDNSCache>();
  FSender = std::make_unique<TMailSenderModule>(*FMailStore, *FDNSCache);
  FSender->OnLog = [this](uint8_t Level, const std::string& Text) { PostLogMessage(Level, Text); };
  FSender->OnDeliveryLog = [this](const std::string& ID, const std::string& Text, int Percent) {
    PostDeliveryProgress(ID, Text, Percent);
  };
  PostLogMessage(0, LangStrings[14]);
  FReceiver = std::make_unique<TMailReceiver>(FMailStore.get());
  FReceiver->OnLog = [this](uint8_t Level, const std::string& Text) { PostLogMessage(Level, Text); };
  PostLogMessage(0, LangStrings[15]);
  FServerRunning = false;
  LoadViewSettings();
  if (AutoStartServer)
    StartServer();
  else
    PostLogMessage(1, LangStrings[30]);
  UpdateTrayIcon();
}

bool TFormMain::IsWizardAlreadyRun() {
  try {
    TRegistry Reg;
    return Reg.OpenKey(SettingsKey, false) && Reg.ReadBool("WizardAlreadyRun");
  } catch (const std::exception&) {
    return false;
  }
}

void TFormMain::SelectDNSServers() { ::SelectDNSServers(GetSystemDNSServers); }

void TFormMain::SetServerControls() {
  for (QAction* A : {SIStartServer, MIStart, PMIStartServer}) A->setEnabled(!FServerRunning);
  for (QAction* A : {SIStopServer, MIStop, PMIStopServer}) A->setEnabled(FServerRunning);
}

void TFormMain::StartServer() {
  if (FServerRunning) return;
  FSendingCount = 0;
  SelectDNSServers();
  PostLogMessage(1, LangFmt(91, CurrentDNSPrimary.get(), CurrentDNSSecondary.get()));
  FDNSCache->SetDNSServers(CurrentDNSPrimary.get(), CurrentDNSSecondary.get());
  try {
    FReceiver->Start();
  } catch (const ECouldNotBindSocket& E) {
    // The receiver says why: a port in use, no right to bind it, a port no socket can have.
    PostLogMessage(3, E.what());
    PostLogMessage(3, LangStrings[41]);
    return;
  } catch (const std::exception&) {
    PostLogMessage(3, LangStrings[41]);
    return;
  }
  if (FPauseDelivery) {
    PostLogMessage(1, LangStrings[16]);
  } else {
    FSender->Start();
    FMailStore->Start();
  }
  FServerRunning = true;
  SetServerControls();
  UpdateTrayIcon();
}

void TFormMain::StopServer() {
  if (!FServerRunning) return;
  FServerRunning = false;
  FReceiver->Stop();
  if (FSender->Running()) FSender->Stop();
  FMailStore->Stop();
  SetServerControls();
  FSendingCount = 0;
  UpdateTrayIcon();
}

void TFormMain::TogglePauseDelivery(bool KeepState) {
  if (!KeepState) FPauseDelivery = !FPauseDelivery;
  for (QAction* A : {SIPause, MIPause, PMIPause}) A->setChecked(FPauseDelivery);
  if (!FServerRunning) return;
  if (FPauseDelivery) {
    FSender->Stop();
    FMailStore->Stop();
    PostLogMessage(1, LangStrings[16]);
  } else {
    FSender->Start();
    FMailStore->Start();
    PostLogMessage(1, LangStrings[17]);
  }
  UpdateTrayIcon();
}

void TFormMain::QuitProgram() {
  if (FQuitting) return;
  FQuitting = true;
  // A transfer under way (an update download, a version check) ends now, not when the
  // server lets it.
  THttpClient::DisconnectAll();
  if (FServerRunning) StopServer();
  SaveViewSettings();
  // exit() rather than quit(): quit() asks the windows, and this one refuses to close.
  QCoreApplication::exit(0);
}

// Closing only hides the window while the tray shows the program; without a tray nothing
// would be left to bring it back, so closing ends the program.
void TFormMain::closeEvent(QCloseEvent* E) {
  E->ignore();
  RunGuarded([this] {
    if (FTrayAvailable)
      hide();
    else
      QuitProgram();
  });
}

void TFormMain::showEvent(QShowEvent* E) {
  QMainWindow::showEvent(E);
  ApplyPaneSizes();
}

void TFormMain::ShowMainWindow1Click() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
  FShowErrorIcon = false;
  UpdateTrayIcon();
}

// The receiver still runs when the program ends without the quit command (a session that
// ends abruptly): it and the sender are stopped before the store they use goes away.
void TFormMain::FormDestroy() {
  FCheckVersionThread.reset();
  UpdateHost() = TUpdateHost();
  FPMainSavePlacement();
  if (FReceiver && FReceiver->Active) FReceiver->Stop();
  if (FSender && FSender->Running()) FSender->Stop();
  if (FMailStore) {
    FMailStore->NewMailEvent = nullptr;
    FMailStore->NotifyWindow = nullptr;
  }
  FReceiver.reset();
  FSender.reset();
  FDNSCache.reset();
  FMailStore.reset();
  FLogQueue.reset();
  FProgressQueue.reset();
}

bool TFormMain::event(QEvent* E) {
  switch (static_cast<unsigned>(E->type())) {
    case WM_MAILSTORECHANGE:
      RunGuarded([this] { WMMailStoreChange(); });
      return true;
    case WM_LOGMESSAGE:
      RunGuarded([this] { WMLogMessage(); });
      return true;
    case WM_DELIVERYPROGRESS:
      RunGuarded([this] { WMDeliveryProgress(); });
      return true;
    case WM_CHECKVERSIONRESULT: {
      const uintptr_t WParam = static_cast<TWindowMessage*>(E)->WParam;
      RunGuarded([&] { WMCheckVersionResult(WParam); });
      return true;
    }
    default:
      return QMainWindow::event(E);
  }
}

// The tray menu stays reachable while a dialog is open: a second command brings the open
// dialog forward instead of opening another over the same settings.
template <class TForm> static bool RaiseOpenForm(TForm* Form) {
  if (!Form) return false;
  Form->raise();
  Form->activateWindow();
  return true;
}

void TFormMain::SIOptionsClick() {
  if (RaiseOpenForm(FormOptions)) return;
  TFormOptions Dialog(this);
  const TFormVariable<TFormOptions> Open(FormOptions, &Dialog);
  Dialog.exec();
}

void TFormMain::MIAboutQuillonClick() {
  TFormAbout FormAbout(this);
  FormAbout.exec();
}

void TFormMain::ConfigureWizard1Click() {
  if (RaiseOpenForm(FormWizard)) return;
  TFormWizard Wizard(this);
  const TFormVariable<TFormWizard> Open(FormWizard, &Wizard);
  Wizard.exec();
}

void TFormMain::HelpTopics1Click() { HtmlHelp(HelpFileName()); }

void TFormMain::MIHomepageClick() { Desktop().OpenUrl(QUrl(QString::fromLatin1(HomePageAddress))); }
