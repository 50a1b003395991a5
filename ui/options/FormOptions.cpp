// The options dialog's life: loading the settings into the controls, the enabling rules,
// the checks, applying and saving, and the sub-dialogs on working copies.
#include "ui/options/FormOptions.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <type_traits>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "engine/store/MailText.h"
#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/main/FormMain.h"
#include "ui/options/AccessCtrl.h"
#include "ui/options/AttFilter.h"
#include "ui/options/DialogControls.h"
#include "ui/options/FROMAddrSet.h"
#include "ui/options/SSIPBind.h"

TFormOptions* FormOptions = nullptr;

namespace {
QString Q(const std::string& S) { return QString::fromStdString(S); }
std::string S(const QString& Text) { return Text.toStdString(); }

// The machine's DNS servers are read from the resolver configuration, which every Linux
// system has: detection is always offered.
bool DNSDetectionOffered() { return true; }

// Input controls take the window or the button-face colour as well; labels, buttons,
// check boxes and radio buttons only change Enabled.
void SwitchControl(QWidget* W, bool On) {
  if (qobject_cast<QAbstractButton*>(W) || qobject_cast<QLabel*>(W))
    W->setEnabled(On);
  else
    SetInputEnabled(W, On);
}

void SwitchControls(std::initializer_list<QWidget*> Controls, bool On) {
  for (QWidget* W : Controls) SwitchControl(W, On);
}

// Runs a grant and deny list dialog on the three working copies; true when it changed them.
template <class TForm>
bool RunAccessList(QWidget* Owner, TForm*& Variable, bool& UseGranted, std::string& GrantList, std::string& DenyList) {
  TForm Dialog(Owner);
  const TFormVariable<TForm> Open(Variable, &Dialog);
  Dialog.UseGranted = UseGranted;
  Dialog.GrantList = GrantList;
  Dialog.DenyList = DenyList;
  if (Dialog.Execute() != QDialog::Accepted || !Dialog.Modified) return false;
  UseGranted = Dialog.UseGranted;
  GrantList = Dialog.GrantList;
  DenyList = Dialog.DenyList;
  return true;
}

// The drop-down's item for a stored "SocksVersion": one outside its three items (-1 would
// show an empty list and be stored back as such) is the default, Socks5, as the engine
// takes it.
int SocksVersionIndex(int Version) { return Version >= 0 && Version <= 2 ? Version : 0; }

// A port text the user typed: a whole number from 1 to 65535.
bool ValidPort(const QString& Text) {
  int32_t Port;
  return TryStrToInt(S(Text), Port) && Port >= 1 && Port <= 65535;
}
}  // namespace

TFormOptions::TFormOptions(QWidget* Owner) : QDialog(Owner), GetSystemDNSServers(GetDNSServers) {
  BuildWindow();
  ConnectHandlers();
  FormCreate();
}

TFormOptions::~TFormOptions() { FormDestroy(); }

// Every handler runs guarded: an exception must never leave a slot.
void TFormOptions::ConnectHandlers() {
  auto Click = [this](QPushButton* B, void (TFormOptions::*Handler)()) {
    connect(B, &QPushButton::clicked, this, [this, Handler] { RunGuarded([&] { (this->*Handler)(); }); });
  };
  // Change events: loading the controls fires them as well, so the dialog ends its
  // creation with SetModified(false).
  auto Mark = [this](auto* Control) {
    using T = std::remove_pointer_t<decltype(Control)>;
    if constexpr (std::is_base_of_v<QAbstractButton, T>)
      connect(Control, &QAbstractButton::toggled, this, [this] { RunGuarded([this] { CBAutoRunClick(); }); });
    else if constexpr (std::is_base_of_v<QLineEdit, T>)
      connect(Control, &QLineEdit::textChanged, this, [this] { RunGuarded([this] { CBAutoRunClick(); }); });
    else if constexpr (std::is_base_of_v<QSpinBox, T>)
      connect(Control, &QSpinBox::valueChanged, this, [this] { RunGuarded([this] { CBAutoRunClick(); }); });
    else
      connect(Control, &QComboBox::currentIndexChanged, this, [this] { RunGuarded([this] { CBAutoRunClick(); }); });
  };
  auto MarkUpdate = [this](QAbstractButton* Control) {
    connect(Control, &QAbstractButton::toggled, this, [this] { RunGuarded([this] { CBUseSocksProxyClick(); }); });
  };

  for (QCheckBox* B :
       {CBAutoRun, CBAutoStartServer, CBDelMessageAfterSent, CBMinToTray, CBDisableDirectDelivery, CBDelNotifiedMail})
    Mark(B);
  for (QSpinBox* E : {RSEDelMessageDelay, RSERetryInterval, RSEMaxRetries, RSEDNSQueryTimeout, RSESMTPMaxConnections,
                      RSESMTPRcptLimit, RSESenderMaxThreadCount, RSESenderConntecTimeout, RSESenderPauseMailCount,
                      RSESenderPauseTime})
    Mark(E);
  for (QLineEdit* E :
       {EditDNSPrimary, EditDNSSecondary, EditSocksHost, EditSocksPort, EditSocksUsername, EditSocksPassword,
        EditSMTPPort, EditSMTPLoginUsername, EditSMTPLoginPassword, EditSenderHostname, EditSpecialNotifyMail})
    Mark(E);
  Mark(CBSocksVersion);
  for (QAbstractButton* B : std::initializer_list<QAbstractButton*>{
           CBRetrySend, RBAutoDetectDNS, RBSpecifyDNS, CBUseSocksProxy, CBSocksAuthentication, CBLocalUserOnly,
           CBSMTPAuthLogin, CBAuthByFrom, CBSMTPRcptLimit, CBSenderPauseAfterSent, CBRelayToSMTP, CBRelayDomains,
           CBSendNotifyMail, RBNotifyMailSender, RBNotifySpecialMail, CBPlayEventSound})
    MarkUpdate(B);

  Click(BtnOK, &TFormOptions::BtnOKClick);
  Click(BtnApply, &TFormOptions::BtnApplyClick);
  Click(BtnCancel, &TFormOptions::BtnCancelClick);
  Click(BtnAutoDetectDNS, &TFormOptions::BtnAutoDetectDNSClick);
  Click(BtnUseDefaultDNS, &TFormOptions::BtnUseDefaultDNSClick);
  Click(BtnIPAdrSetting, &TFormOptions::BtnIPAdrSettingClick);
  Click(BtnConnectionCtrl, &TFormOptions::BtnConnectionCtrlClick);
  Click(BtnAttFilter, &TFormOptions::BtnAttFilterClick);
  Click(BtnFromAddrSetting, &TFormOptions::BtnFromAddrSettingClick);
  Click(BtnSMTPAdd, &TFormOptions::BtnSMTPAddClick);
  Click(BtnSMTPEdit, &TFormOptions::BtnSMTPEditClick);
  Click(BtnSMTPRemove, &TFormOptions::BtnSMTPRemoveClick);
  Click(BtnSMTPUp, &TFormOptions::BtnSMTPUpClick);
  Click(BtnSMTPDown, &TFormOptions::BtnSMTPDownClick);
  Click(BtnRelayDomainAdd, &TFormOptions::BtnRelayDomainAddClick);
  Click(BtnRelayDomainEdit, &TFormOptions::BtnRelayDomainEditClick);
  Click(BtnRelayDomainRemove, &TFormOptions::BtnRelayDomainRemoveClick);
  Click(BtnSoundPlay, &TFormOptions::BtnSoundPlayClick);
  Click(BtnSoundChange, &TFormOptions::BtnSoundChangeClick);
  connect(LVSMTPList, &QTreeWidget::itemDoubleClicked, this, [this] { RunGuarded([this] { BtnSMTPEditClick(); }); });
}

void TFormOptions::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  LVSMTPList->setHeaderLabels({Q(LangStrings[63]), Q(LangStrings[64])});
  LVSoundEvent->setHeaderLabels({Q(LangStrings[83]), Q(LangStrings[84])});
  NameUnlabelledControls();
  PrepareSoundDialog();
  PCOptions->setCurrentIndex(0);
  RSESenderMaxThreadCount->setRange(1, SenderThreadLimit);
  RSESMTPMaxConnections->setRange(1, SMTPConnectionLimit);
  RSESMTPRcptLimit->setRange(1, DefaultMaxRcptNumber);
  LoadSettings();
  UpdateControls();
  SetModified(false);
}

// Controls that stand beside a check box or radio button rather than a label of their own
// are named after it for screen readers, in the language of the window.
void TFormOptions::NameUnlabelledControls() {
  const std::pair<QWidget*, QAbstractButton*> Named[] = {{RSEDelMessageDelay, CBDelMessageAfterSent},
                                                         {RSESMTPRcptLimit, CBSMTPRcptLimit},
                                                         {RSESenderPauseMailCount, CBSenderPauseAfterSent},
                                                         {EditSpecialNotifyMail, RBNotifySpecialMail},
                                                         {LVSMTPList, CBRelayToSMTP},
                                                         {LVRelayDomainList, CBRelayDomains},
                                                         {LVSoundEvent, CBPlayEventSound},
                                                         {MemoDNSDetectResult, BtnAutoDetectDNS}};
  for (const auto& [Control, Button] : Named)
    Control->setAccessibleName(QString(Button->text()).remove(QLatin1Char('&')));
  if (auto* PauseFor = findChild<QLabel*>(QStringLiteral("LabelPauseFor")))
    RSESenderPauseTime->setAccessibleName(PauseFor->text());
}

void TFormOptions::FormDestroy() { ClearSMTPList(); }

TFormMain* TFormOptions::MainWindow() const { return qobject_cast<TFormMain*>(parentWidget()); }

// One list of pairs serves loading and applying, so that no working copy is loaded and
// then forgotten on apply, or the reverse.
template <class TVisit>
void TFormOptions::ForEachWorkingCopy(TVisit Visit) {
  Visit(SMTPMultiIPBind, FSMTPMultiIPBind);
  Visit(SMTPMultiIPBinds, FSMTPMultiIPBinds);
  Visit(SMTPIPUseGranted, FSMTPIPUseGranted);
  Visit(SMTPIPGrantList, FSMTPIPGrantList);
  Visit(SMTPIPDenyList, FSMTPIPDenyList);
  Visit(AuthFromUseGranted, FAuthFromUseGranted);
  Visit(AuthFromGrantList, FAuthFromGrantList);
  Visit(AuthFromDenyList, FAuthFromDenyList);
  Visit(UseAttachmentFilter, FUseAttachmentFilter);
  Visit(AttachmentFilters, FAttachmentFilters);
}

void TFormOptions::LoadSettings() {
  // General.
  CBAutoRun->setChecked(AutoRun);
  CBAutoStartServer->setChecked(AutoStartServer);
  CBDelMessageAfterSent->setChecked(DelMessageAfterSent);
  RSEDelMessageDelay->setValue(DelMessageDelay);
  CBRetrySend->setChecked(RetrySend);
  RSERetryInterval->setValue(RetryInterval);
  RSEMaxRetries->setValue(MaxRetries);
  CBMinToTray->setChecked(!MinToTray);
  // DNS.
  (AutoDetectDNS ? RBAutoDetectDNS : RBSpecifyDNS)->setChecked(true);
  EditDNSPrimary->setText(Q(DNSPrimary));
  EditDNSSecondary->setText(Q(DNSSecondary));
  RSEDNSQueryTimeout->setValue(DNSQueryTimeout);
  // Proxy.
  CBUseSocksProxy->setChecked(UseSocksProxy);
  CBSocksVersion->setCurrentIndex(SocksVersionIndex(SocksVersion));
  EditSocksHost->setText(Q(SocksHost));
  EditSocksPort->setText(QString::number(SocksPort.load()));
  CBSocksAuthentication->setChecked(SocksAuthentication);
  EditSocksUsername->setText(Q(SocksUsername));
  EditSocksPassword->setText(Q(SocksPassword));
  // Server.
  EditSMTPPort->setText(QString::number(SMTPPort.load()));
  RSESMTPMaxConnections->setValue(SMTPMaxConnections);
  CBLocalUserOnly->setChecked(LocalUserOnly);
  CBSMTPAuthLogin->setChecked(SMTPAUthLogin);
  EditSMTPLoginUsername->setText(Q(SMTPLoginUsername));
  EditSMTPLoginPassword->setText(Q(SMTPLoginPassword));
  CBAuthByFrom->setChecked(AuthByFromAddr);
  CBSMTPRcptLimit->setChecked(SMTPRcptLimit);
  RSESMTPRcptLimit->setValue(SMTPMaxRcptNumber);
  RSESenderMaxThreadCount->setValue(SenderMaxThreadCount);
  RSESenderConntecTimeout->setValue(SenderConntecTimeout);
  EditSenderHostname->setText(Q(SenderHostname));
  CBSenderPauseAfterSent->setChecked(SenderPauseAfterSent);
  RSESenderPauseMailCount->setValue(SenderPauseMailCount);
  RSESenderPauseTime->setValue(SenderPauseTime);
  // SMTP Relay.
  CBRelayToSMTP->setChecked(RelayToSMTP);
  LoadRelaySMTPList();
  CBDisableDirectDelivery->setChecked(DisableDirectDelivery);
  CBRelayDomains->setChecked(RelayDomains);
  LoadRelayDomainList();
  // Advanced.
  CBSendNotifyMail->setChecked(SendNotifyMail);
  (NotifyMailSender ? RBNotifyMailSender : RBNotifySpecialMail)->setChecked(true);
  EditSpecialNotifyMail->setText(Q(SpecialNotifyMail));
  CBDelNotifiedMail->setChecked(DelNotifiedMail);
  CBPlayEventSound->setChecked(PlayEventSound);
  LoadSoundEvents();

  ForEachWorkingCopy([](const auto& Setting, auto& Copy) { Copy = Setting; });

  if (!DNSDetectionOffered()) {
    AutoDetectDNS = false;
    RBAutoDetectDNS->setEnabled(false);
    RBSpecifyDNS->setChecked(true);
    BtnAutoDetectDNS->setEnabled(false);
  }
}

void TFormOptions::UpdateControls() {
  SwitchControls({LabelIBR, RSERetryInterval, Labelmin, LabelMaxRetries, RSEMaxRetries}, CBRetrySend->isChecked());

  const bool Proxy = CBUseSocksProxy->isChecked();
  SwitchControls(
      {LabelSocksVersion, CBSocksVersion, LabelHost, EditSocksHost, LabelPort, EditSocksPort, CBSocksAuthentication},
      Proxy);
  SwitchControls({LabelUsername, EditSocksUsername, LabelPassword, EditSocksPassword},
                 Proxy && CBSocksAuthentication->isChecked());

  const bool Relay = CBRelayToSMTP->isChecked();
  SwitchControls({LVSMTPList, BtnSMTPAdd, BtnSMTPEdit, BtnSMTPRemove, BtnSMTPUp, BtnSMTPDown, CBDisableDirectDelivery,
                  CBRelayDomains},
                 Relay);
  SwitchControls({LVRelayDomainList, BtnRelayDomainAdd, BtnRelayDomainEdit, BtnRelayDomainRemove},
                 Relay && CBRelayDomains->isChecked());

  const bool Notify = CBSendNotifyMail->isChecked();
  SwitchControls({RBNotifyMailSender, RBNotifySpecialMail, CBDelNotifiedMail}, Notify);
  SwitchControl(EditSpecialNotifyMail, Notify && RBNotifySpecialMail->isChecked());

  SwitchControl(BtnConnectionCtrl, !CBLocalUserOnly->isChecked());
  SwitchControls({LabelSMTPUN, LabelSMTPPW, EditSMTPLoginUsername, EditSMTPLoginPassword},
                 CBSMTPAuthLogin->isChecked());
  SwitchControl(RSESMTPRcptLimit, CBSMTPRcptLimit->isChecked());

  const bool Sounds = CBPlayEventSound->isChecked();
  SwitchControls({LVSoundEvent, BtnSoundPlay, BtnSoundChange}, Sounds);
  if (Sounds && LVSoundEvent->topLevelItemCount() > 0) LVSoundEvent->setCurrentItem(LVSoundEvent->topLevelItem(0));

  SwitchControls({Label1, Label2, EditDNSPrimary, EditDNSSecondary, BtnUseDefaultDNS}, !RBAutoDetectDNS->isChecked());
  SwitchControl(BtnFromAddrSetting, CBAuthByFrom->isChecked());
  SwitchControls({RSESenderPauseMailCount, RSESenderPauseTime}, CBSenderPauseAfterSent->isChecked());
}

bool TFormOptions::ValidateSettings() {
  if (CBUseSocksProxy->isChecked()) {
    if (Trim(S(EditSocksHost->text())).empty()) {
      ErrorBox(LangStrings[38]);
      return false;
    }
    if (!ValidPort(EditSocksPort->text())) {
      ErrorBox(LangFmt(39, S(EditSocksPort->text())));
      return false;
    }
  }
  if (!ValidPort(EditSMTPPort->text())) {
    ErrorBox(LangFmt(40, S(EditSMTPPort->text())));
    return false;
  }
  if (Trim(S(EditDNSPrimary->text())).empty()) {
    ErrorBox(LangStrings[42]);
    return false;
  }
  if (CBSendNotifyMail->isChecked() && RBNotifySpecialMail->isChecked()) {
    const std::string Address = S(EditSpecialNotifyMail->text());
    if (Trim(Address).empty()) {
      ErrorBox(LangStrings[45]);
      return false;
    }
    if (!IsValidEmail(Address)) {
      ErrorBox(LangFmt(46, Address));
      return false;
    }
  }
  return true;
}

bool TFormOptions::ApplySettings() {
  if (!ValidateSettings()) return false;
  // Every number is converted before the first setting changes, so a text that is no
  // number cannot leave the settings half assigned. The proxy port is checked only while
  // the proxy is on; otherwise a text that is no number keeps the stored port.
  int32_t NewSocksPort = SocksPort;
  if (int32_t Port; TryStrToInt(S(EditSocksPort->text()), Port)) NewSocksPort = Port;
  int32_t NewSMTPPort = SMTPPort;
  TryStrToInt(S(EditSMTPPort->text()), NewSMTPPort);

  // General.
  AutoRun = CBAutoRun->isChecked();
  AutoStartServer = CBAutoStartServer->isChecked();
  DelMessageAfterSent = CBDelMessageAfterSent->isChecked();
  DelMessageDelay = RSEDelMessageDelay->value();
  RetrySend = CBRetrySend->isChecked();
  RetryInterval = RSERetryInterval->value();
  MaxRetries = RSEMaxRetries->value();
  MinToTray = !CBMinToTray->isChecked();
  // DNS.
  AutoDetectDNS = RBAutoDetectDNS->isChecked();
  DNSPrimary = S(EditDNSPrimary->text());
  DNSSecondary = S(EditDNSSecondary->text());
  DNSQueryTimeout = RSEDNSQueryTimeout->value();
  // Proxy.
  UseSocksProxy = CBUseSocksProxy->isChecked();
  SocksVersion = SocksVersionIndex(CBSocksVersion->currentIndex());
  SocksHost = S(EditSocksHost->text());
  SocksPort = NewSocksPort;
  SocksAuthentication = CBSocksAuthentication->isChecked();
  SocksUsername = S(EditSocksUsername->text());
  SocksPassword = S(EditSocksPassword->text());
  // Server.
  SMTPPort = NewSMTPPort;
  SMTPMaxConnections = RSESMTPMaxConnections->value();
  LocalUserOnly = CBLocalUserOnly->isChecked();
  SMTPAUthLogin = CBSMTPAuthLogin->isChecked();
  SMTPLoginUsername = S(EditSMTPLoginUsername->text());
  SMTPLoginPassword = S(EditSMTPLoginPassword->text());
  SMTPRcptLimit = CBSMTPRcptLimit->isChecked();
  SMTPMaxRcptNumber = RSESMTPRcptLimit->value();
  AuthByFromAddr = CBAuthByFrom->isChecked();
  SenderMaxThreadCount = RSESenderMaxThreadCount->value();
  SenderConntecTimeout = RSESenderConntecTimeout->value();
  SenderHostname = S(EditSenderHostname->text());
  SenderPauseAfterSent = CBSenderPauseAfterSent->isChecked();
  SenderPauseMailCount = RSESenderPauseMailCount->value();
  SenderPauseTime = RSESenderPauseTime->value();
  // SMTP Relay.
  RelayToSMTP = CBRelayToSMTP->isChecked();
  RelaySMTPList = GetRelaySMTPList();
  DisableDirectDelivery = CBDisableDirectDelivery->isChecked();
  RelayDomains = CBRelayDomains->isChecked();
  RelayDomainList = GetRelayDomainList();
  // Advanced.
  SendNotifyMail = CBSendNotifyMail->isChecked();
  NotifyMailSender = RBNotifyMailSender->isChecked();
  SpecialNotifyMail = S(EditSpecialNotifyMail->text());
  DelNotifiedMail = CBDelNotifiedMail->isChecked();
  PlayEventSound = CBPlayEventSound->isChecked();
  SaveSoundEvents();
  // The sub-dialogs' working copies.
  ForEachWorkingCopy([](auto& Setting, const auto& Copy) { Setting = Copy; });

  const bool Saved = WriteSettings();
  // The settings are saved whatever happens to the autostart entry.
  try {
    SetAutoRun();
  } catch (const std::exception& E) {
    ErrorBox(LangFmt(100, E.what()));
  }
  if (TFormMain* Main = MainWindow(); Main && Main->ServerRunning()) {
    if (YesNoBox(LangStrings[35])) {
      Main->StopServer();
      Main->StartServer();
    }
  }
  // A save that failed has shown its box; Apply stays on for another try, and OK keeps
  // the dialog open with everything as the user left it.
  if (!Saved) return false;
  SetModified(false);
  return true;
}

void TFormOptions::SetModified(bool Value) {
  FModified = Value;
  BtnApply->setEnabled(Value);
}

void TFormOptions::CBAutoRunClick() { SetModified(true); }

void TFormOptions::CBUseSocksProxyClick() {
  SetModified(true);
  UpdateControls();
}

void TFormOptions::BtnOKClick() {
  if (FModified && !ApplySettings()) return;
  accept();
}

void TFormOptions::BtnApplyClick() { ApplySettings(); }

void TFormOptions::BtnCancelClick() { reject(); }

void TFormOptions::BtnAutoDetectDNSClick() {
  std::vector<std::string> Servers;
  GetSystemDNSServers(Servers);
  MemoDNSDetectResult->clear();
  for (const std::string& Server : Servers) MemoDNSDetectResult->appendPlainText(Q(Server));
  if (Servers.empty()) InfoBox(LangStrings[82]);
}

void TFormOptions::BtnUseDefaultDNSClick() {
  EditDNSPrimary->setText(QString::fromLatin1(DefaultDNSPrimary));
  EditDNSSecondary->setText(QString::fromLatin1(DefaultDNSSecondary));
  SetModified(true);
}

// The sub-dialogs edit the working copies; the settings change only on apply.
void TFormOptions::BtnIPAdrSettingClick() {
  TFormSMTPIPBind Dialog(this);
  const TFormVariable<TFormSMTPIPBind> Open(FormSMTPIPBind, &Dialog);
  Dialog.MultiIPBind = FSMTPMultiIPBind;
  Dialog.Bindings = FSMTPMultiIPBinds;
  if (Dialog.Execute() != QDialog::Accepted || !Dialog.Modified) return;
  FSMTPMultiIPBind = Dialog.MultiIPBind;
  FSMTPMultiIPBinds = Dialog.Bindings;
  SetModified(true);
}

void TFormOptions::BtnConnectionCtrlClick() {
  if (RunAccessList<TFormConnectionCtrl>(this, FormConnectionCtrl, FSMTPIPUseGranted, FSMTPIPGrantList,
                                         FSMTPIPDenyList))
    SetModified(true);
}

void TFormOptions::BtnAttFilterClick() {
  TFormAttachmentFilter Dialog(this);
  const TFormVariable<TFormAttachmentFilter> Open(FormAttachmentFilter, &Dialog);
  if (Dialog.Execute(FUseAttachmentFilter, FAttachmentFilters) != QDialog::Accepted) return;
  FUseAttachmentFilter = Dialog.CBUseAttachmentFilter->isChecked();
  Dialog.BuildList(FAttachmentFilters);
  SetModified(true);
}

void TFormOptions::BtnFromAddrSettingClick() {
  if (RunAccessList<TFormFROMAddrSet>(this, FormFROMAddrSet, FAuthFromUseGranted, FAuthFromGrantList,
                                      FAuthFromDenyList))
    SetModified(true);
}
