#pragma once
// The options dialog: almost every setting on six pages. It tracks whether anything was
// changed, checks the fields that can be wrong, and on OK or Apply writes the settings,
// saves them, updates the autostart entry and offers to restart a running server. The
// list-valued settings that sub-dialogs edit are held here as working copies until apply.
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/settings/ListFormats.h"
#include "ui/common/FileDialogs.h"
#include "ui/options/RelaySMTPRows.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TFormMain;

class TFormOptions : public QDialog {
  Q_OBJECT
public:
  // Owner: the main window (its server is offered a restart on apply), or any window.
  explicit TFormOptions(QWidget* Owner);
  ~TFormOptions() override;

  // Where "Auto Detect" finds the machine's DNS servers (tests put in their own).
  std::function<void(std::vector<std::string>&)> GetSystemDNSServers;

  bool Modified() const { return FModified; }

private:
  // Composition (FormOptionsBuild.cpp).
  void BuildWindow();
  QWidget* BuildGeneralPage();
  QWidget* BuildDNSPage();
  QWidget* BuildProxyPage();
  QWidget* BuildServerPage();
  QWidget* BuildRelayPage();
  QWidget* BuildAdvancedPage();
  void ConnectHandlers();

  void FormCreate();
  void FormDestroy();
  void NameUnlabelledControls();

  // Handlers.
  void BtnOKClick();
  void BtnApplyClick();
  void BtnCancelClick();
  void CBAutoRunClick();
  void CBUseSocksProxyClick();
  void BtnAutoDetectDNSClick();
  void BtnUseDefaultDNSClick();
  void BtnIPAdrSettingClick();
  void BtnConnectionCtrlClick();
  void BtnAttFilterClick();
  void BtnFromAddrSettingClick();

  void LoadSettings();
  void UpdateControls();
  bool ValidateSettings();
  // False when validation refused the input (nothing was assigned or saved), or when the
  // settings could not be saved (the dialog stays modified).
  bool ApplySettings();
  void SetModified(bool Value);
  // Visit(Setting, WorkingCopy) for each setting a sub-dialog edits.
  template <class TVisit>
  void ForEachWorkingCopy(TVisit Visit);
  TFormMain* MainWindow() const;

  // Relay lists and sound rows (FormOptionsLists.cpp).
  void LoadRelaySMTPList();
  std::string GetRelaySMTPList();
  bool RelaySMTPExists(const TRelaySMTPItem& Item);
  void ClearSMTPList();
  void LoadRelayDomainList();
  std::string GetRelayDomainList();
  bool RelayDomainExists(const std::string& Domain);
  void LoadSoundEvents();
  void SaveSoundEvents();
  void PrepareSoundDialog();
  void BtnSMTPAddClick();
  void BtnSMTPEditClick();
  void BtnSMTPRemoveClick();
  void BtnSMTPUpClick();
  void BtnSMTPDownClick();
  void BtnRelayDomainAddClick();
  void BtnRelayDomainEditClick();
  void BtnRelayDomainRemoveClick();
  void BtnSoundPlayClick();
  void BtnSoundChangeClick();
  bool EditRelayDomain(const std::string& Given, std::string& Result);

  bool FModified = false;
  // Working copies of the settings the sub-dialogs edit.
  bool FSMTPMultiIPBind = false;
  std::string FSMTPMultiIPBinds;
  bool FSMTPIPUseGranted = false;
  std::string FSMTPIPGrantList;
  std::string FSMTPIPDenyList;
  bool FAuthFromUseGranted = false;
  std::string FAuthFromGrantList;
  std::string FAuthFromDenyList;
  bool FUseAttachmentFilter = false;
  std::string FAttachmentFilters;

  TOpenDialog ODSound;

  // Controls.
  QTabWidget* PCOptions = nullptr;
  // General.
  QCheckBox *CBAutoRun = nullptr, *CBAutoStartServer = nullptr, *CBDelMessageAfterSent = nullptr;
  QSpinBox* RSEDelMessageDelay = nullptr;
  QCheckBox* CBRetrySend = nullptr;
  QLabel *LabelIBR = nullptr, *Labelmin = nullptr, *LabelMaxRetries = nullptr;
  QSpinBox *RSERetryInterval = nullptr, *RSEMaxRetries = nullptr;
  QCheckBox* CBMinToTray = nullptr;
  // DNS.
  QRadioButton *RBAutoDetectDNS = nullptr, *RBSpecifyDNS = nullptr;
  QLabel *Label1 = nullptr, *Label2 = nullptr;
  QLineEdit *EditDNSPrimary = nullptr, *EditDNSSecondary = nullptr;
  QSpinBox* RSEDNSQueryTimeout = nullptr;
  QPushButton *BtnAutoDetectDNS = nullptr, *BtnUseDefaultDNS = nullptr;
  QPlainTextEdit* MemoDNSDetectResult = nullptr;
  // Proxy.
  QCheckBox* CBUseSocksProxy = nullptr;
  QLabel *LabelSocksVersion = nullptr, *LabelHost = nullptr, *LabelPort = nullptr;
  QComboBox* CBSocksVersion = nullptr;
  QLineEdit *EditSocksHost = nullptr, *EditSocksPort = nullptr;
  QCheckBox* CBSocksAuthentication = nullptr;
  QLabel *LabelUsername = nullptr, *LabelPassword = nullptr;
  QLineEdit *EditSocksUsername = nullptr, *EditSocksPassword = nullptr;
  // Server.
  QLineEdit* EditSMTPPort = nullptr;
  QSpinBox* RSESMTPMaxConnections = nullptr;
  QCheckBox *CBLocalUserOnly = nullptr, *CBSMTPAuthLogin = nullptr;
  QLabel *LabelSMTPUN = nullptr, *LabelSMTPPW = nullptr;
  QLineEdit *EditSMTPLoginUsername = nullptr, *EditSMTPLoginPassword = nullptr;
  QCheckBox *CBAuthByFrom = nullptr, *CBSMTPRcptLimit = nullptr;
  QSpinBox* RSESMTPRcptLimit = nullptr;
  QPushButton *BtnIPAdrSetting = nullptr, *BtnConnectionCtrl = nullptr, *BtnAttFilter = nullptr,
              *BtnFromAddrSetting = nullptr;
  QSpinBox *RSESenderMaxThreadCount = nullptr, *RSESenderConntecTimeout = nullptr;
  QLineEdit* EditSenderHostname = nullptr;
  QCheckBox* CBSenderPauseAfterSent = nullptr;
  QSpinBox *RSESenderPauseMailCount = nullptr, *RSESenderPauseTime = nullptr;
  // SMTP Relay.
  QCheckBox* CBRelayToSMTP = nullptr;
  QTreeWidget* LVSMTPList = nullptr;
  std::unique_ptr<TRelaySMTPRows> FSMTPRows;  // the rows of LVSMTPList
  QPushButton *BtnSMTPAdd = nullptr, *BtnSMTPEdit = nullptr, *BtnSMTPRemove = nullptr, *BtnSMTPUp = nullptr,
              *BtnSMTPDown = nullptr;
  QCheckBox *CBDisableDirectDelivery = nullptr, *CBRelayDomains = nullptr;
  QTreeWidget* LVRelayDomainList = nullptr;
  QPushButton *BtnRelayDomainAdd = nullptr, *BtnRelayDomainEdit = nullptr, *BtnRelayDomainRemove = nullptr;
  // Advanced.
  QCheckBox* CBSendNotifyMail = nullptr;
  QRadioButton *RBNotifyMailSender = nullptr, *RBNotifySpecialMail = nullptr;
  QLineEdit* EditSpecialNotifyMail = nullptr;
  QCheckBox *CBDelNotifiedMail = nullptr, *CBPlayEventSound = nullptr;
  QTreeWidget* LVSoundEvent = nullptr;
  QPushButton *BtnSoundPlay = nullptr, *BtnSoundChange = nullptr;
  // Below the pages.
  QPushButton *BtnOK = nullptr, *BtnCancel = nullptr, *BtnApply = nullptr;
};

// The options dialog while it runs.
extern TFormOptions* FormOptions;
