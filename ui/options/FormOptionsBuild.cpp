// The options dialog's composition: six pages of controls named as the language files
// name them, in their tab order, and the buttons below the pages.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <climits>

#include "ui/options/DialogControls.h"
#include "ui/options/FormOptions.h"

namespace {
QString Q(const char* S) { return QString::fromUtf8(S); }

template <class T>
T* Named(QWidget* Parent, const char* Name) {
  auto* W = new T(Parent);
  W->setObjectName(Q(Name));
  return W;
}

// A spin field keeps its value within Min..Max.
QSpinBox* Spin(QWidget* Parent, const char* Name, int Min, int Max) {
  auto* S = Named<QSpinBox>(Parent, Name);
  S->setRange(Min, Max);
  return S;
}

QGroupBox* Group(QWidget* Page, const char* Name, const char* Caption) {
  auto* G = Named<QGroupBox>(Page, Name);
  G->setTitle(Q(Caption));
  return G;
}

// A page holding its group boxes from the top, the rest of the height left empty.
QWidget* Page(QTabWidget* Tabs, const char* Name, const char* Caption) {
  auto* P = new QWidget;
  P->setObjectName(Q(Name));
  new QVBoxLayout(P);
  Tabs->addTab(P, Q(Caption));
  return P;
}

// Buttons stacked beside a list, from the top.
QVBoxLayout* ButtonColumn(std::initializer_list<QPushButton*> Buttons) {
  auto* V = new QVBoxLayout;
  for (QPushButton* B : Buttons) V->addWidget(B);
  V->addStretch(1);
  return V;
}

// The indentation of controls that belong to a check box above them.
constexpr int Indent = 20;
}  // namespace

void TFormOptions::BuildWindow() {
  setObjectName(QStringLiteral("FormOptions"));
  setWindowTitle(QStringLiteral("Options"));
  auto* Main = new QVBoxLayout(this);
  PCOptions = Named<QTabWidget>(this, "PCOptions");
  Main->addWidget(PCOptions);
  BuildGeneralPage();
  BuildDNSPage();
  BuildProxyPage();
  BuildServerPage();
  BuildRelayPage();
  BuildAdvancedPage();

  auto* Buttons = new QHBoxLayout;
  Buttons->addStretch(1);
  BtnOK = NewControl<QPushButton>(this, "BtnOK", "OK");
  BtnCancel = NewControl<QPushButton>(this, "BtnCancel", "Cancel");
  BtnApply = NewControl<QPushButton>(this, "BtnApply", "Apply");
  BtnOK->setDefault(true);
  BtnApply->setEnabled(false);
  for (QPushButton* B : {BtnOK, BtnCancel, BtnApply}) {
    B->setAutoDefault(false);
    Buttons->addWidget(B);
  }
  BtnOK->setAutoDefault(true);
  Main->addLayout(Buttons);
  // A dialog border: the size the layout gives.
  Main->setSizeConstraint(QLayout::SetFixedSize);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

QWidget* TFormOptions::BuildGeneralPage() {
  QWidget* P = Page(PCOptions, "TSGeneral", "General");
  QGroupBox* G = Group(P, "GroupBoxGeneral", "General Setting");
  P->layout()->addWidget(G);
  static_cast<QVBoxLayout*>(P->layout())->addStretch(1);
  auto* L = new QGridLayout(G);
  CBAutoRun = NewControl<QCheckBox>(G, "CBAutoRun", "Run when Windows starts up");
  CBAutoStartServer = NewControl<QCheckBox>(G, "CBAutoStartServer", "Auto start server when program starts up");
  CBDelMessageAfterSent = NewControl<QCheckBox>(G, "CBDelMessageAfterSent", "Delete successful sent mails after:");
  RSEDelMessageDelay = Spin(G, "RSEDelMessageDelay", 0, 1000);
  QLabel* Days = NewControl<QLabel>(G, "LabelDays", "day(s)");
  CBRetrySend = NewControl<QCheckBox>(G, "CBRetrySend", "Retry when mail send failed");
  LabelIBR = NewControl<QLabel>(G, "LabelIBR", "Interval Between Retries:");
  RSERetryInterval = Spin(G, "RSERetryInterval", 0, 1000);
  Labelmin = NewControl<QLabel>(G, "Labelmin", "min");
  LabelMaxRetries = NewControl<QLabel>(G, "LabelMaxRetries", "Max Retries:");
  RSEMaxRetries = Spin(G, "RSEMaxRetries", 0, 1000);
  CBMinToTray = NewControl<QCheckBox>(G, "CBMinToTray", "Minimize to system tray when starts up");

  L->addWidget(CBAutoRun, 0, 0, 1, 4);
  L->addWidget(CBAutoStartServer, 1, 0, 1, 4);
  L->addWidget(CBDelMessageAfterSent, 2, 0, 1, 2);
  L->addWidget(RSEDelMessageDelay, 2, 2);
  L->addWidget(Days, 2, 3);
  L->addWidget(CBRetrySend, 3, 0, 1, 4);
  L->addItem(new QSpacerItem(Indent, 0, QSizePolicy::Fixed), 4, 0);
  L->addWidget(LabelIBR, 4, 1);
  L->addWidget(RSERetryInterval, 4, 2);
  L->addWidget(Labelmin, 4, 3);
  L->addWidget(LabelMaxRetries, 5, 1);
  L->addWidget(RSEMaxRetries, 5, 2);
  L->addWidget(CBMinToTray, 6, 0, 1, 4);
  LabelIBR->setBuddy(RSERetryInterval);
  LabelMaxRetries->setBuddy(RSEMaxRetries);
  L->setColumnStretch(3, 1);
  return P;
}

QWidget* TFormOptions::BuildDNSPage() {
  QWidget* P = Page(PCOptions, "TabSheet2", "DNS");
  QGroupBox* G = Group(P, "GroupBoxDNS", " DNS ");
  auto* L = new QGridLayout(G);
  RBAutoDetectDNS = NewControl<QRadioButton>(G, "RBAutoDetectDNS", "Automatic detect DNS settings (Recommended)");
  RBSpecifyDNS = NewControl<QRadioButton>(G, "RBSpecifyDNS", "Specify DNS server addresses");
  Label1 = NewControl<QLabel>(G, "Label1", "Primary DNS Server:");
  EditDNSPrimary = Named<QLineEdit>(G, "EditDNSPrimary");
  Label2 = NewControl<QLabel>(G, "Label2", "Secondary DNS Server:");
  EditDNSSecondary = Named<QLineEdit>(G, "EditDNSSecondary");
  BtnUseDefaultDNS = NewControl<QPushButton>(G, "BtnUseDefaultDNS", "Use Default");
  QLabel* Timeout = NewControl<QLabel>(G, "LabelDNSQueryTimeout", "DNS Query Timeout:");
  RSEDNSQueryTimeout = Spin(G, "RSEDNSQueryTimeout", 1, INT_MAX);
  QLabel* Ms = NewControl<QLabel>(G, "Labelms", "ms");
  BtnAutoDetectDNS = NewControl<QPushButton>(G, "BtnAutoDetectDNS", "Auto Detect");

  L->addWidget(RBAutoDetectDNS, 0, 0, 1, 4);
  L->addWidget(BtnAutoDetectDNS, 0, 4);
  L->addWidget(RBSpecifyDNS, 1, 0, 1, 4);
  L->addItem(new QSpacerItem(Indent, 0, QSizePolicy::Fixed), 2, 0);
  L->addWidget(Label1, 2, 1);
  L->addWidget(EditDNSPrimary, 2, 2, 1, 2);
  L->addWidget(Label2, 3, 1);
  L->addWidget(EditDNSSecondary, 3, 2, 1, 2);
  L->addWidget(BtnUseDefaultDNS, 3, 4);
  L->addWidget(Timeout, 4, 0, 1, 2);
  L->addWidget(RSEDNSQueryTimeout, 4, 2);
  L->addWidget(Ms, 4, 3);
  L->setColumnStretch(3, 1);
  Label1->setBuddy(EditDNSPrimary);
  Label2->setBuddy(EditDNSSecondary);
  Timeout->setBuddy(RSEDNSQueryTimeout);
  // Tab order follows the rows, not the order of creation.
  setTabOrder(RBAutoDetectDNS, BtnAutoDetectDNS);
  setTabOrder(BtnAutoDetectDNS, RBSpecifyDNS);

  MemoDNSDetectResult = Named<QPlainTextEdit>(P, "MemoDNSDetectResult");
  MemoDNSDetectResult->setReadOnly(true);
  MemoDNSDetectResult->setFixedHeight(72);
  P->layout()->addWidget(G);
  P->layout()->addWidget(MemoDNSDetectResult);
  static_cast<QVBoxLayout*>(P->layout())->addStretch(1);
  return P;
}

QWidget* TFormOptions::BuildProxyPage() {
  QWidget* P = Page(PCOptions, "TabSheet4", "Proxy");
  QGroupBox* G = Group(P, "GroupBoxProxy", " Proxy ");
  P->layout()->addWidget(G);
  static_cast<QVBoxLayout*>(P->layout())->addStretch(1);
  auto* L = new QGridLayout(G);
  CBUseSocksProxy = NewControl<QCheckBox>(G, "CBUseSocksProxy", "Use Socks proxy");
  LabelSocksVersion = NewControl<QLabel>(G, "LabelSocksVersion", "Socks Version:");
  CBSocksVersion = Named<QComboBox>(G, "CBSocksVersion");
  CBSocksVersion->addItems({QStringLiteral("Socks5"), QStringLiteral("Socks4"), QStringLiteral("Socks4A")});
  LabelHost = NewControl<QLabel>(G, "LabelHost", "Host:");
  EditSocksHost = Named<QLineEdit>(G, "EditSocksHost");
  LabelPort = NewControl<QLabel>(G, "LabelPort", "Port:");
  EditSocksPort = Named<QLineEdit>(G, "EditSocksPort");
  EditSocksPort->setMaximumWidth(80);
  CBSocksAuthentication = NewControl<QCheckBox>(G, "CBSocksAuthentication", "Authentication");
  LabelUsername = NewControl<QLabel>(G, "LabelUsername", "Username:");
  EditSocksUsername = Named<QLineEdit>(G, "EditSocksUsername");
  LabelPassword = NewControl<QLabel>(G, "LabelPassword", "Password:");
  EditSocksPassword = Named<QLineEdit>(G, "EditSocksPassword");
  SetPasswordMode(EditSocksPassword);

  L->addWidget(CBUseSocksProxy, 0, 0, 1, 5);
  L->addItem(new QSpacerItem(Indent, 0, QSizePolicy::Fixed), 1, 0);
  L->addWidget(LabelSocksVersion, 1, 1);
  L->addWidget(CBSocksVersion, 1, 2);
  L->addWidget(LabelHost, 2, 1);
  L->addWidget(EditSocksHost, 2, 2);
  L->addWidget(LabelPort, 2, 3);
  L->addWidget(EditSocksPort, 2, 4);
  L->addWidget(CBSocksAuthentication, 3, 1, 1, 4);
  auto* Auth = new QGridLayout;
  Auth->addItem(new QSpacerItem(Indent, 0, QSizePolicy::Fixed), 0, 0);
  Auth->addWidget(LabelUsername, 0, 1);
  Auth->addWidget(EditSocksUsername, 0, 2);
  Auth->addWidget(LabelPassword, 1, 1);
  Auth->addWidget(EditSocksPassword, 1, 2);
  L->addLayout(Auth, 4, 1, 1, 4);
  LabelSocksVersion->setBuddy(CBSocksVersion);
  LabelHost->setBuddy(EditSocksHost);
  LabelPort->setBuddy(EditSocksPort);
  LabelUsername->setBuddy(EditSocksUsername);
  LabelPassword->setBuddy(EditSocksPassword);
  L->setColumnStretch(2, 1);
  return P;
}

QWidget* TFormOptions::BuildServerPage() {
  QWidget* P = Page(PCOptions, "TabSheet3", "Server");
  QGroupBox* G = Group(P, "GroupBoxSMTPServer", " Built-in SMTP server ");
  auto* L = new QGridLayout(G);
  QLabel* Port = NewControl<QLabel>(G, "LabelSMTPPort", "SMTP Port:");
  EditSMTPPort = Named<QLineEdit>(G, "EditSMTPPort");
  EditSMTPPort->setMaximumWidth(80);
  QLabel* MaxConn = NewControl<QLabel>(G, "LabelMaxConnections", "Max Connections:");
  RSESMTPMaxConnections = Spin(G, "RSESMTPMaxConnections", 1, 10);
  CBLocalUserOnly = NewControl<QCheckBox>(G, "CBLocalUserOnly", "Local User Only");
  CBSMTPAuthLogin = NewControl<QCheckBox>(G, "CBSMTPAuthLogin", "Require Authentication");
  LabelSMTPUN = NewControl<QLabel>(G, "LabelSMTPUN", "Username:");
  EditSMTPLoginUsername = Named<QLineEdit>(G, "EditSMTPLoginUsername");
  LabelSMTPPW = NewControl<QLabel>(G, "LabelSMTPPW", "Password:");
  EditSMTPLoginPassword = Named<QLineEdit>(G, "EditSMTPLoginPassword");
  SetPasswordMode(EditSMTPLoginPassword);
  CBAuthByFrom = NewControl<QCheckBox>(G, "CBAuthByFrom", "Authenticate by FROM address");
  CBSMTPRcptLimit = NewControl<QCheckBox>(G, "CBSMTPRcptLimit", "Limit number of recipients per message to:");
  RSESMTPRcptLimit = Spin(G, "RSESMTPRcptLimit", 1, 5000);
  BtnIPAdrSetting = NewControl<QPushButton>(G, "BtnIPAdrSetting", "IP Address Settings");
  BtnConnectionCtrl = NewControl<QPushButton>(G, "BtnConnectionCtrl", "Connection Control");
  BtnAttFilter = NewControl<QPushButton>(G, "BtnAttFilter", "Attachment Filter");
  BtnFromAddrSetting = NewControl<QPushButton>(G, "BtnFromAddrSetting", "FROM Addr Settings");

  L->addWidget(Port, 0, 0, 1, 2);
  L->addWidget(EditSMTPPort, 0, 2);
  L->addWidget(MaxConn, 0, 3);
  L->addWidget(RSESMTPMaxConnections, 0, 4, Qt::AlignLeft);
  L->addWidget(CBLocalUserOnly, 1, 0, 1, 5);
  L->addWidget(CBSMTPAuthLogin, 2, 0, 1, 5);
  L->addItem(new QSpacerItem(Indent, 0, QSizePolicy::Fixed), 3, 0);
  L->addWidget(LabelSMTPUN, 3, 1);
  L->addWidget(EditSMTPLoginUsername, 3, 2);
  L->addWidget(LabelSMTPPW, 3, 3);
  L->addWidget(EditSMTPLoginPassword, 3, 4);
  L->addWidget(CBAuthByFrom, 4, 0, 1, 5);
  L->addWidget(CBSMTPRcptLimit, 5, 0, 1, 3);
  L->addWidget(RSESMTPRcptLimit, 5, 3);
  auto* Subs = new QGridLayout;
  Subs->addWidget(BtnIPAdrSetting, 0, 0);
  Subs->addWidget(BtnConnectionCtrl, 0, 1);
  Subs->addWidget(BtnAttFilter, 1, 0);
  Subs->addWidget(BtnFromAddrSetting, 1, 1);
  L->addLayout(Subs, 6, 0, 1, 5);
  Port->setBuddy(EditSMTPPort);
  MaxConn->setBuddy(RSESMTPMaxConnections);
  LabelSMTPUN->setBuddy(EditSMTPLoginUsername);
  LabelSMTPPW->setBuddy(EditSMTPLoginPassword);
  L->setColumnStretch(2, 1);
  L->setColumnStretch(4, 1);

  QGroupBox* S = Group(P, "GroupBoxMailSender", " Mail Sender ");
  auto* M = new QGridLayout(S);
  QLabel* Threads = NewControl<QLabel>(S, "LabelDeliveryThreads", "Delivery Threads:");
  RSESenderMaxThreadCount = Spin(S, "RSESenderMaxThreadCount", 1, 15);
  QLabel* Timeout = NewControl<QLabel>(S, "LabelConnectTimeout", "Connect Timeout:");
  RSESenderConntecTimeout = Spin(S, "RSESenderConntecTimeout", 1, INT_MAX);
  QLabel* Seconds = NewControl<QLabel>(S, "Labels", "s");
  QLabel* Hostname = NewControl<QLabel>(S, "LabelSenderHostname", "Hostname for HELO/EHLO:");
  EditSenderHostname = Named<QLineEdit>(S, "EditSenderHostname");
  CBSenderPauseAfterSent = NewControl<QCheckBox>(S, "CBSenderPauseAfterSent", "After sent");
  RSESenderPauseMailCount = Spin(S, "RSESenderPauseMailCount", 1, 65535);
  QLabel* PauseFor = NewControl<QLabel>(S, "LabelPauseFor", "mails, pause for");
  RSESenderPauseTime = Spin(S, "RSESenderPauseTime", 1, 65535);
  QLabel* PauseSeconds = NewControl<QLabel>(S, "LabelPauseSeconds", "seconds.");

  M->addWidget(Threads, 0, 0);
  M->addWidget(RSESenderMaxThreadCount, 0, 1);
  M->addWidget(Timeout, 0, 2);
  M->addWidget(RSESenderConntecTimeout, 0, 3);
  M->addWidget(Seconds, 0, 4);
  M->addWidget(Hostname, 1, 0);
  M->addWidget(EditSenderHostname, 1, 1, 1, 5);
  auto* Pause = new QHBoxLayout;
  for (QWidget* W : std::initializer_list<QWidget*>{CBSenderPauseAfterSent, RSESenderPauseMailCount, PauseFor,
                                                    RSESenderPauseTime, PauseSeconds})
    Pause->addWidget(W);
  Pause->addStretch(1);
  M->addLayout(Pause, 2, 0, 1, 6);
  Threads->setBuddy(RSESenderMaxThreadCount);
  Timeout->setBuddy(RSESenderConntecTimeout);
  Hostname->setBuddy(EditSenderHostname);
  M->setColumnStretch(5, 1);

  P->layout()->addWidget(G);
  P->layout()->addWidget(S);
  static_cast<QVBoxLayout*>(P->layout())->addStretch(1);
  return P;
}

QWidget* TFormOptions::BuildRelayPage() {
  QWidget* P = Page(PCOptions, "TSSMTPRelay", "SMTP Relay");
  QGroupBox* G = Group(P, "GroupBoxSMTPRelay", "SMTP Relay Settings");
  P->layout()->addWidget(G);
  auto* L = new QGridLayout(G);
  CBRelayToSMTP = NewControl<QCheckBox>(G, "CBRelayToSMTP", "If mail sent failed, relay it to following SMTP Servers.");
  LVSMTPList = NewReportView(G, "LVSMTPList", {QStringLiteral("Host"), QStringLiteral("Port")}, {260, 60});
  LVSMTPList->setFixedHeight(110);
  FSMTPRows = std::make_unique<TRelaySMTPRows>(LVSMTPList);
  BtnSMTPAdd = NewControl<QPushButton>(G, "BtnSMTPAdd", "Add");
  BtnSMTPEdit = NewControl<QPushButton>(G, "BtnSMTPEdit", "Edit...");
  BtnSMTPRemove = NewControl<QPushButton>(G, "BtnSMTPRemove", "Remove");
  BtnSMTPUp = NewControl<QPushButton>(G, "BtnSMTPUp", "Move Up");
  BtnSMTPDown = NewControl<QPushButton>(G, "BtnSMTPDown", "Move Down");
  CBDisableDirectDelivery = NewControl<QCheckBox>(G, "CBDisableDirectDelivery", "Disable directly mail delivery.");
  CBRelayDomains = NewControl<QCheckBox>(G, "CBRelayDomains", "Relay mails which send to following domain(s):");
  LVRelayDomainList = NewReportView(G, "LVRelayDomainList", {QString()}, {});
  LVRelayDomainList->setHeaderHidden(true);
  LVRelayDomainList->setFixedHeight(80);
  LVRelayDomainList->setSortingEnabled(true);
  LVRelayDomainList->sortByColumn(0, Qt::AscendingOrder);
  BtnRelayDomainAdd = NewControl<QPushButton>(G, "BtnRelayDomainAdd", "Add");
  BtnRelayDomainEdit = NewControl<QPushButton>(G, "BtnRelayDomainEdit", "Edit...");
  BtnRelayDomainRemove = NewControl<QPushButton>(G, "BtnRelayDomainRemove", "Remove");

  L->addWidget(CBRelayToSMTP, 0, 0, 1, 3);
  L->addItem(new QSpacerItem(Indent, 0, QSizePolicy::Fixed), 1, 0);
  L->addWidget(LVSMTPList, 1, 1);
  L->addLayout(ButtonColumn({BtnSMTPAdd, BtnSMTPEdit, BtnSMTPRemove, BtnSMTPUp, BtnSMTPDown}), 1, 2);
  L->addWidget(CBDisableDirectDelivery, 2, 1, 1, 2);
  L->addWidget(CBRelayDomains, 3, 1, 1, 2);
  auto* Domains = new QHBoxLayout;
  Domains->addSpacing(Indent);
  Domains->addWidget(LVRelayDomainList, 1);
  L->addLayout(Domains, 4, 1);
  L->addLayout(ButtonColumn({BtnRelayDomainAdd, BtnRelayDomainEdit, BtnRelayDomainRemove}), 4, 2);
  L->setColumnStretch(1, 1);
  return P;
}

QWidget* TFormOptions::BuildAdvancedPage() {
  QWidget* P = Page(PCOptions, "TabSheet1", "Advanced");
  QGroupBox* G = Group(P, "GroupBoxAdvanced", "Advanced");
  P->layout()->addWidget(G);
  static_cast<QVBoxLayout*>(P->layout())->addStretch(1);
  auto* L = new QGridLayout(G);
  CBSendNotifyMail = NewControl<QCheckBox>(G, "CBSendNotifyMail", "When mail sent failed, send notify mail to:");
  RBNotifyMailSender = NewControl<QRadioButton>(G, "RBNotifyMailSender", "Mail Sender");
  RBNotifySpecialMail = NewControl<QRadioButton>(G, "RBNotifySpecialMail", "Special Mail Address:");
  EditSpecialNotifyMail = Named<QLineEdit>(G, "EditSpecialNotifyMail");
  CBDelNotifiedMail = NewControl<QCheckBox>(G, "CBDelNotifiedMail", "Delete failed mail after sending notify mail.");
  CBPlayEventSound = NewControl<QCheckBox>(G, "CBPlayEventSound", "Play a sound when send mail finished");
  LVSoundEvent = NewReportView(G, "LVSoundEvent", {QStringLiteral("Event"), QStringLiteral("Sound File Name")}, {130});
  LVSoundEvent->setFixedHeight(76);
  // A long path is shortened at its start, so that the file's own name stays in sight.
  LVSoundEvent->setTextElideMode(Qt::ElideLeft);
  BtnSoundPlay = NewControl<QPushButton>(G, "BtnSoundPlay", "Play");
  BtnSoundChange = NewControl<QPushButton>(G, "BtnSoundChange", "Change");

  L->addWidget(CBSendNotifyMail, 0, 0, 1, 4);
  L->addItem(new QSpacerItem(Indent, 0, QSizePolicy::Fixed), 1, 0);
  L->addWidget(RBNotifyMailSender, 1, 1, 1, 2);
  L->addWidget(RBNotifySpecialMail, 2, 1);
  L->addWidget(EditSpecialNotifyMail, 2, 2);
  L->addWidget(CBDelNotifiedMail, 3, 1, 1, 3);
  L->addWidget(CBPlayEventSound, 4, 0, 1, 4);
  L->addWidget(LVSoundEvent, 5, 1, 1, 2);
  L->addLayout(ButtonColumn({BtnSoundPlay, BtnSoundChange}), 5, 3);
  L->setColumnStretch(2, 1);
  return P;
}
