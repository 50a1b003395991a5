#pragma once
// The main window: it starts the program's engine, runs the server commands, and shows the
// categories, the mail list, the coloured log and the tray icon.
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/store/MailStore.h"
#include "ui/common/ThreadList.h"
#include "ui/main/MailListModel.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTextEdit;
class QToolBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class TVexaDNSCache;
class TMailSenderModule;
class TMailReceiver;
class TCheckVersionThread;

// One queued log line.
struct TLogItem {
  uint8_t Level = 0;
  std::string Text;  // at most 255 characters
};

// One queued delivery report.
struct TProgressItem {
  std::string MailID;  // at most 10 characters
  std::string Text;    // at most 100 characters
  int32_t Percent = 0;
};

// One category of the tree.
struct TCategoryData {
  uint8_t Kind = 0;
  TMailKindSet MailKinds;
  TMailStateSet States;
  int32_t Count = 0;
  int Caption = 0;  // LangStrings entry of the node text
};

class TFormMain : public QMainWindow {
  Q_OBJECT
public:
  // TrayAvailable: the desktop has a system tray. Without one the window is the program's
  // only face: it is always shown and closing it ends the program.
  explicit TFormMain(bool TrayAvailable);
  ~TFormMain() override;

  void Initialize();
  void StartServer();
  void StopServer();
  void TogglePauseDelivery(bool KeepState);
  void SelectDNSServers();
  void QuitProgram();
  void ShowMainWindow1Click();
  bool IsWizardAlreadyRun();
  // The automatic version check (at most one a calendar day, from Initialize).
  void StartVersionCheck();
  bool VersionCheckRunning() const { return FCheckVersionThread != nullptr; }
  // Shows mail ID of the store in the mail viewer; nothing when the store has no such mail.
  void ShowMailSource(const std::string& ID);
  // Where SelectDNSServers finds the machine's DNS servers (tests put in their own).
  std::function<void(std::vector<std::string>&)> GetSystemDNSServers;

  // Engine callbacks: any thread.
  void PostLogMessage(uint8_t Level, const std::string& Text);
  void PostDeliveryProgress(const std::string& MailID, const std::string& Text, int32_t Percent);

  void UpdateTrayIcon();
  std::string BuildTrayHint();
  void UpdateStatusBar();
  void ToggleLogView(bool KeepState);
  void LoadViewSettings();
  void SaveViewSettings();
  void BuildLanguageMenu();
  void LanguageMenuClick(QAction* Item);
  void ApplyLanguage();

  // Categories and the mail list.
  void BuildCategoryTree();
  void TVCategoryChange(QTreeWidgetItem* Node);
  void ProcessStoreEvents();
  TMailNodeData* FindMailNode(const std::string& ID) const;
  void SortByColumn(int Column);
  void UpdateSortMenu();
  void SIDelMsgClick();
  void SIResendClick();
  void SIClearAllClick() { ClearAllMessages(); }
  void ClearAllMessages();
  void SIViewMailClick();

  // The window's state, for the tests.
  enum class TTrayImages { Normal, Running, Error };
  struct TTrayState {
    TTrayImages Images;
    int Index;  // -1 while the images cycle
    bool Animated;
  };
  TTrayState TrayState() const { return FTrayState; }
  const TCategoryData& Category(int Kind) const { return FCategories[static_cast<size_t>(Kind)]; }
  const TCategoryData* CurrentCategory() const { return FCurrentCategory; }
  bool TimerMode() const { return FTimerMode; }
  int32_t SortColumn() const { return FSortColumn; }
  uint8_t SortDirection() const { return FSortDirection; }
  int32_t SendingCount() const { return FSendingCount; }
  bool ShowErrorIcon() const { return FShowErrorIcon; }
  TMailListModel* MailModel() const { return FMailModel; }

  bool TrayAvailable() const { return FTrayAvailable; }
  bool ServerRunning() const { return FServerRunning; }
  bool PauseDelivery() const { return FPauseDelivery; }
  bool Quitting() const { return FQuitting; }
  TMailStore* MailStore() const { return FMailStore.get(); }
  QSystemTrayIcon* TrayIcon() const { return RTIconVexa; }

protected:
  bool event(QEvent* E) override;
  void closeEvent(QCloseEvent* E) override;
  void showEvent(QShowEvent* E) override;

private:
  void FormCreate();
  void FormDestroy();
  void BuildWindow();
  void BuildActions();
  void BuildMenus();
  void BuildToolBar();
  void BuildClientArea();
  void BuildStatusBar();
  void BuildTray();
  QAction* NewAction(const char* Name, const char* Caption, void (TFormMain::*Handler)(), bool Enabled = true);
  QMenu* NewMenu(QWidget* Parent, const char* Name, const char* Caption);

  // Commands.
  void SIStartServerClick() { StartServer(); }
  void SIStopServerClick() { StopServer(); }
  void SIPauseClick() { TogglePauseDelivery(false); }
  void SIExitClick() { QuitProgram(); }
  void SIVewLogClick() { ToggleLogView(false); }
  void PMIHideLogClick() { ToggleLogView(false); }
  void PMIClearLogClick();
  void SIOptionsClick();
  void MIAboutQuillonClick();
  void HelpTopics1Click();
  void MIHomepageClick();
  void MICheckVersionClick();
  void ConfigureWizard1Click();
  void CommandNotReady() {}
  void OnSortMenu(QAction* Item);
  void OnSortOrder(uint8_t Direction);
  void SortOrder1Click() { OnSortOrder(0); }
  void SortOrder2Click() { OnSortOrder(1); }
  void VTMailsHeaderClick(int Column) { SortByColumn(Column); }
  void SortList();
  std::vector<TMailNodeData*> SelectedNodes() const;
  void SetCategoryText(int Kind);
  void ChangeCount(int Kind, int Delta);
  void ApplyNotice(const TMailNotice& N);
  void RefreshRow(TMailNodeData* Row, const std::string& ID, bool Gone);
  void SetRefreshMode(bool Timer);
  void TimerRefreshTimer();
  void PlaySound(const std::string& File);
  QString TrayHintText();
  void SetTrayIcon(TTrayImages Images, int Index, bool Animated);
  void FPMainSavePlacement();
  void FPMainRestorePlacement();
  std::string PlacementFile();
  void ApplyPaneSizes();
  int FRestoreLogHeight = -1, FRestoreTreeWidth = -1;
  bool FPanesLaidOut = false;

  // Window messages.
  void WMMailStoreChange();
  void WMLogMessage() { FlushLogQueue(); }
  void WMDeliveryProgress() { FlushProgressQueue(); }
  void WMCheckVersionResult(uintptr_t WParam);
  // The update windows reach the server, the tray icon and the quit routine through it.
  void InstallUpdateHost();
  void FlushLogQueue();
  void FlushProgressQueue();
  void SetServerControls();

  // Fields of the window.
  bool FServerRunning = false;
  bool FPauseDelivery = false;
  bool FViewLog = true;
  int32_t FReceivedCount = 0;
  int32_t FSentCount = 0;
  int32_t FFailedCount = 0;
  std::unique_ptr<TMailStore> FMailStore;
  std::unique_ptr<TVexaDNSCache> FDNSCache;
  std::unique_ptr<TMailSenderModule> FSender;
  std::unique_ptr<TMailReceiver> FReceiver;
  TCategoryData* FCurrentCategory = nullptr;
  std::unique_ptr<TThreadList<TLogItem>> FLogQueue;
  std::unique_ptr<TThreadList<TProgressItem>> FProgressQueue;
  int32_t FSendingCount = 0;
  bool FShowErrorIcon = false;
  int32_t FSortColumn = 0;
  uint8_t FSortDirection = 0;
  bool FTimerMode = false;
  std::unique_ptr<TCheckVersionThread> FCheckVersionThread;
  // Why the automatic check could not start; logged as soon as the log queue exists.
  std::string FVersionCheckFailure;

  const bool FTrayAvailable;
  bool FQuitting = false;
  std::array<TCategoryData, 4> FCategories;

  // The store's notices reach the window as posted messages.
  class TWindowTarget : public TNotifyTarget {
  public:
    explicit TWindowTarget(QObject* Window) : FWindow(Window) {}
    void post(unsigned Message) override;

  private:
    QObject* const FWindow;
  };
  TWindowTarget FNotifyTarget{this};

  // Controls.
  QToolBar* ToolBar1 = nullptr;
  QTreeWidget* TVCategory = nullptr;
  QSplitter* Splitter1 = nullptr;
  QTreeView* VTMails = nullptr;
  TMailListModel* FMailModel = nullptr;
  QSplitter* SplitterLog = nullptr;
  QTextEdit* RELog = nullptr;
  std::array<QLabel*, 4> FStatusPanels{};
  QSystemTrayIcon* RTIconVexa = nullptr;
  QTimer* TimerRefresh = nullptr;
  QTimer* FIconCycle = nullptr;
  int FIconFrame = 0;
  TTrayState FTrayState{TTrayImages::Normal, 0, false};
  bool FTrayIconSet = false;
  QMenu* Language1 = nullptr;
  QMenu* PMTrayIcon = nullptr;
  QMenu* PMLog = nullptr;
  QMenu* PMMailGrid = nullptr;
  QAction *SIStartServer = nullptr, *MIStart = nullptr, *PMIStartServer = nullptr;
  QAction *SIStopServer = nullptr, *MIStop = nullptr, *PMIStopServer = nullptr;
  QAction *SIPause = nullptr, *MIPause = nullptr, *PMIPause = nullptr;
  QAction *SIVewLog = nullptr, *MIViewlogs = nullptr, *PMIViewLog = nullptr;
  QAction* ShowMainWindow1 = nullptr;
  QAction *SortOrder1 = nullptr, *SortOrder2 = nullptr;
};
