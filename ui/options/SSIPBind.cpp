#include "ui/options/SSIPBind.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/ListFormats.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/DialogControls.h"

TFormSMTPIPBind* FormSMTPIPBind = nullptr;

std::function<std::vector<std::string>()> TFormSMTPIPBind::LocalAddresses = &TFormSMTPIPBind::MachineAddresses;

namespace {
bool OKCancelBox(const std::string& Text) {
  return MessageBoxes().Show(TBoxKind::OKCancel, ApplicationTitle(), ToQ(Text));
}

// A port in the range a listening socket can take.
bool ReadPort(const std::string& Text, int32_t& Port) {
  return TryStrToInt(Trim(Text), Port) && Port >= 1 && Port <= 65535;
}

std::string DottedQuad(uint32_t V) {
  return std::to_string(V >> 24) + "." + std::to_string((V >> 16) & 255) + "." + std::to_string((V >> 8) & 255) + "." +
         std::to_string(V & 255);
}

// Two bindings are the same when they name the same address and port, however written;
// a stored text that is no address or port is compared as it stands, trimmed.
bool SameBinding(const std::string& IP1, const std::string& Port1, const std::string& IP2, const std::string& Port2) {
  const std::string A1 = Trim(IP1), A2 = Trim(IP2);
  const bool SameIP = IsValidIP(A1) && IsValidIP(A2) ? IPToInt(A1) == IPToInt(A2) : A1 == A2;
  int32_t P1, P2;
  const bool SamePort = ReadPort(Port1, P1) && ReadPort(Port2, P2) ? P1 == P2 : Trim(Port1) == Trim(Port2);
  return SameIP && SamePort;
}
}  // namespace

std::vector<std::string> TFormSMTPIPBind::MachineAddresses() {
  std::vector<std::string> R;
  ifaddrs* List = nullptr;
  if (getifaddrs(&List) != 0) return R;
  for (const ifaddrs* I = List; I; I = I->ifa_next) {
    if (!I->ifa_addr || I->ifa_addr->sa_family != AF_INET) continue;
    char Text[INET_ADDRSTRLEN];
    const auto* A = reinterpret_cast<const sockaddr_in*>(I->ifa_addr);
    if (inet_ntop(AF_INET, &A->sin_addr, Text, sizeof Text)) R.emplace_back(Text);
  }
  freeifaddrs(List);
  return R;
}

TFormSMTPIPBind::TFormSMTPIPBind(QWidget* Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("FormSMTPIPBind"));
  setWindowTitle(QStringLiteral("IP Address Settings"));
  CBSMTPMultiIPBind =
      NewControl<QCheckBox>(this, "CBSMTPMultiIPBind", "Configure multiple IP addresses for built-in SMTP server");
  LVIPBind = NewReportView(this, "LVIPBind", {QString(), QString()}, {150, 80});
  LVIPBind->setMinimumSize(260, 160);
  LabelIPAddress = NewControl<QLabel>(this, "LabelIPAddress", "IP Address:");
  CBIPAddress = new QComboBox(this);
  CBIPAddress->setObjectName(QStringLiteral("CBIPAddress"));
  CBIPAddress->setEditable(true);
  CBIPAddress->setInsertPolicy(QComboBox::NoInsert);
  CBIPAddress->setMinimumWidth(140);
  LabelIPAddress->setBuddy(CBIPAddress);
  LabelTCPPort = NewControl<QLabel>(this, "LabelTCPPort", "TCP Port:");
  EditPort = NewEdit(this, "EditPort", 0);
  EditPort->setText(QStringLiteral("25"));
  LabelTCPPort->setBuddy(EditPort);
  BtnAdd = NewControl<QPushButton>(this, "BtnAdd", "Add");
  BtnRemove = NewControl<QPushButton>(this, "BtnRemove", "Remove");

  auto* Inputs = new QVBoxLayout;
  Inputs->addWidget(LabelIPAddress);
  Inputs->addWidget(CBIPAddress);
  Inputs->addWidget(LabelTCPPort);
  Inputs->addWidget(EditPort);
  Inputs->addSpacing(6);
  Inputs->addWidget(BtnAdd);
  Inputs->addWidget(BtnRemove);
  Inputs->addStretch();
  auto* Middle = new QHBoxLayout;
  Middle->addWidget(LVIPBind, 1);
  Middle->addLayout(Inputs);
  auto* Main = new QVBoxLayout(this);
  Main->addWidget(CBSMTPMultiIPBind);
  Main->addLayout(Middle);
  EndDialogLayout(this, Main, BtnOK, BtnCancel, "OK", "Cancel");

  connect(CBSMTPMultiIPBind, &QCheckBox::toggled, this, [this] { RunGuarded([this] { CBSMTPMultiIPBindClick(); }); });
  connect(BtnAdd, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnAddClick(); }); });
  connect(BtnRemove, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnRemoveClick(); }); });
  connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);
  FormCreate();
  UpdateControls();
}

void TFormSMTPIPBind::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  LVIPBind->setHeaderLabels({ToQ(LangStrings[51]), ToQ(LangStrings[52])});
  LVIPBind->setAccessibleName(windowTitle());
  std::vector<std::string> Addresses = LocalAddresses ? LocalAddresses() : std::vector<std::string>();
  bool HasLoopback = false;
  for (const auto& A : Addresses) HasLoopback = HasLoopback || SameText(A, "127.0.0.1");
  if (!HasLoopback) Addresses.insert(Addresses.begin(), "127.0.0.1");
  for (const auto& A : Addresses) CBIPAddress->addItem(ToQ(A));
  CBIPAddress->setCurrentIndex(-1);
  CBIPAddress->setEditText(QString());
}

int TFormSMTPIPBind::Execute() {
  CBSMTPMultiIPBind->setChecked(MultiIPBind);
  LVIPBind->clear();
  for (const auto& Entry : CutListSetting(Bindings)) {
    const auto F = SplitFields(Entry, 2);
    if (F.size() < 2) continue;
    new QTreeWidgetItem(LVIPBind, {ToQ(F[0]), ToQ(F[1])});
  }
  UpdateControls();
  const int Result = exec();
  if (Result == QDialog::Accepted && Modified) BuildBindings(MultiIPBind, Bindings);
  return Result;
}

void TFormSMTPIPBind::CBSMTPMultiIPBindClick() {
  Modified = true;
  UpdateControls();
}

void TFormSMTPIPBind::UpdateControls() {
  const bool On = CBSMTPMultiIPBind->isChecked();
  for (QWidget* Input : std::initializer_list<QWidget*>{LVIPBind, CBIPAddress, EditPort}) SetInputEnabled(Input, On);
  for (QWidget* W : std::initializer_list<QWidget*>{LabelIPAddress, LabelTCPPort, BtnAdd, BtnRemove}) W->setEnabled(On);
}

void TFormSMTPIPBind::BtnAddClick() {
  const std::string Typed = Trim(FromQ(CBIPAddress->currentText()));
  // The server binds each address as written, so only a valid IPv4 address in its plain
  // dotted form is taken.
  if (Typed.empty() || !IsValidIP(Typed)) {
    ErrorBox(LangStrings[47]);
    return;
  }
  const std::string Address = DottedQuad(IPToInt(Typed));
  if (CBIPAddress->findText(ToQ(Address), Qt::MatchFixedString) < 0 && !OKCancelBox(LangFmt(48, Address))) return;
  const std::string PortText = FromQ(EditPort->text());
  int32_t Port;
  if (!ReadPort(PortText, Port)) {
    ErrorBox(LangStrings[49]);
    return;
  }
  const std::string PortValue = std::to_string(Port);
  for (int I = 0; I < LVIPBind->topLevelItemCount(); ++I) {
    const QTreeWidgetItem* Row = LVIPBind->topLevelItem(I);
    if (SameBinding(RowText(Row, 0), RowText(Row, 1), Address, PortValue)) {
      ErrorBox(LangStrings[50]);
      return;
    }
  }
  auto* Row = new QTreeWidgetItem(LVIPBind, {ToQ(Address), ToQ(PortValue)});
  LVIPBind->setCurrentItem(Row);
}

void TFormSMTPIPBind::BtnRemoveClick() { delete SelectedRow(LVIPBind); }

void TFormSMTPIPBind::BuildBindings(bool& MultiBind, std::string& Binds) {
  MultiBind = CBSMTPMultiIPBind->isChecked();
  std::vector<std::string> Entries;
  for (int I = 0; I < LVIPBind->topLevelItemCount(); ++I) {
    const QTreeWidgetItem* Row = LVIPBind->topLevelItem(I);
    Entries.push_back(RowText(Row, 0) + ":" + RowText(Row, 1));
  }
  Binds = JoinList(Entries);
}
