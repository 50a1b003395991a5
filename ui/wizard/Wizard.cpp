#include "ui/wizard/Wizard.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTreeWidget>

#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/DialogControls.h"

TFormWizard* FormWizard = nullptr;

// The pictures live in the library's resources, which a static library has to register.
static void LoadWizardResources() { Q_INIT_RESOURCE(Wizard); }

namespace {
// The registry's string Name, or Default when it is missing or no string.
std::string ReadStringDef(const TRegistry& Reg, const std::string& Name, const std::string& Default) {
  try {
    return Reg.ValueExists(Name) ? Reg.ReadString(Name) : Default;
  } catch (const std::exception&) {
    return Default;
  }
}

QFont HeadingFont(const QFont& FormFont, int PointSize) {
  QFont F = FormFont;
  if (PointSize > 0) F.setPointSize(PointSize);
  F.setBold(true);
  return F;
}

TMailAccountInfo* AccountOf(QTreeWidgetItem* Row) {
  return static_cast<TMailAccountInfo*>(Row->data(0, Qt::UserRole).value<void*>());
}
}  // namespace

void MarkWizardAlreadyRun() {
  TRegistry Reg;
  if (Reg.OpenKey(SettingsKey, false)) Reg.WriteBool("WizardAlreadyRun", true);
}

TFormWizard::TFormWizard(QWidget* Owner)
    : QDialog(Owner), GetSystemDNSServers(GetDNSServers), OutlookExpressRunning(IsOutlookExpressRunning) {
  BuildWindow();
  Connect();
  FormCreate();
  // Centred on the screen.
  if (const QScreen* S = screen())
    move(S->availableGeometry().center() - QPoint(sizeHint().width(), sizeHint().height()) / 2);
}

TFormWizard::~TFormWizard() { FormDestroy(); }

void TFormWizard::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  LVAccounts->setHeaderLabels({ToQ(LangStrings[67]), ToQ(LangStrings[68])});
  LVSMTPList->setHeaderLabels({ToQ(LangStrings[63]), ToQ(LangStrings[64])});
  for (QLabel* Heading : {Label11, Label12, Label13, Label29}) Heading->setFont(HeadingFont(font(), 0));
  for (QLabel* Heading : {Label1, Label2}) Heading->setFont(HeadingFont(font(), 14));
  MarkWizardAlreadyRun();
  LoadWizardResources();
  const QPixmap Picture(QStringLiteral(":/wizard/WIZARD"));
  ImageFinish->setPixmap(Picture);
  ImageWelcome->setPixmap(Picture);
  const QPixmap Icon(QStringLiteral(":/wizard/WIZARDICON"));
  for (QLabel* Image : {ImageStep2, ImageStep3, ImageStep4, ImageStep5}) Image->setPixmap(Icon);
  LoadAccounts();
  LoadSettings();
  // DNS detection reads the machine's resolver configuration, which every Linux has, so
  // both ways of choosing the DNS servers are offered.
  FStep = 1;
  ShowStep();
}

void TFormWizard::FormDestroy() {
  ClearSMTPList();
  FreeAccounts();
}

void TFormWizard::ShowStep() {
  if (FStep < 1 || FStep > 6) return;
  for (int I = 1; I <= 6; ++I)
    if (auto* Panel = findChild<QWidget*>(QStringLiteral("PanelStep%1").arg(I))) Panel->setVisible(I == FStep);
  BtnBack->setEnabled(FStep != 1);
  BtnNext->setVisible(FStep != 6);
  BtnFinish->setVisible(FStep == 6);
  (FStep == 6 ? BtnFinish : BtnNext)->setDefault(true);
  if (FStep == 2)
    EditDNSPrimaryChange();
  else
    BtnNext->setEnabled(true);
}

void TFormWizard::BtnNextClick() {
  if (FStep < 6) ++FStep;
  ShowStep();
}

void TFormWizard::BtnBackClick() {
  if (FStep > 1) --FStep;
  ShowStep();
}

void TFormWizard::EditDNSPrimaryChange() {
  BtnNext->setEnabled(RBAutoDetectDNS->isChecked() || !Trim(FromQ(EditDNSPrimary->text())).empty());
}

void TFormWizard::BtnDetectDNSClick() {
  std::vector<std::string> Servers;
  GetSystemDNSServers(Servers);
  if (Servers.empty()) {
    InfoBox(LangStrings[82]);
    return;
  }
  RBSpecifyDNS->setChecked(true);
  EditDNSPrimary->setText(ToQ(Servers[0]));
  if (Servers.size() >= 2) EditDNSSecondary->setText(ToQ(Servers[1]));
}

void TFormWizard::BtnUseDefaultDNSClick() {
  RBSpecifyDNS->setChecked(true);
  EditDNSPrimary->setText(QString::fromLatin1(DefaultDNSPrimary));
  EditDNSSecondary->setText(QString::fromLatin1(DefaultDNSSecondary));
}

void TFormWizard::LoadAccounts() {
  for (TMailAccountInfo& A : ReadOEAccounts()) FAccounts.push_back(std::make_unique<TMailAccountInfo>(std::move(A)));
  Label23->setVisible(FAccounts.empty());
  for (const auto& A : FAccounts) {
    auto* Row = new QTreeWidgetItem({ToQ(A->AccountName), QString::fromLatin1(AccountProgramName(A->Kind))});
    Row->setFlags(Row->flags() | Qt::ItemIsUserCheckable);
    Row->setCheckState(0, LowerCase(A->SMTPServer) != "localhost" ? Qt::Checked : Qt::Unchecked);
    Row->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(A.get())));
    LVAccounts->addTopLevelItem(Row);
  }
}

void TFormWizard::FreeAccounts() {
  LVAccounts->clear();
  FAccounts.clear();
}

// The DNS fields show what the registry holds; where it holds nothing yet (the first start)
// they show the setting in force, so that Finish never stores an empty primary server.
void TFormWizard::LoadSettings() {
  TRegistry Reg;
  if (Reg.OpenKey(SettingsKey, true)) {
    EditDNSPrimary->setText(ToQ(ReadStringDef(Reg, "DNSPrimary", DNSPrimary.get())));
    EditDNSSecondary->setText(ToQ(ReadStringDef(Reg, "DNSSecondary", DNSSecondary.get())));
    Reg.CloseKey();
    (AutoDetectDNS ? RBAutoDetectDNS : RBSpecifyDNS)->setChecked(true);
    LoadRelaySMTPList();
  } else {
    ErrorBoxCaption("Error reading registry!", "Error");
    EditDNSPrimary->setText(ToQ(DNSPrimary.get()));
    EditDNSSecondary->setText(ToQ(DNSSecondary.get()));
  }
}

void TFormWizard::LoadRelaySMTPList() { FSMTPRows->Load(RelaySMTPList.get()); }

std::string TFormWizard::GetRelaySMTPList() const { return FSMTPRows->Get(); }

void TFormWizard::ClearSMTPList() { FSMTPRows->Clear(); }

void TFormWizard::BtnSMTPAddClick() { FSMTPRows->Add(this); }

void TFormWizard::BtnSMTPEditClick() { FSMTPRows->Edit(this); }

void TFormWizard::BtnSMTPRemoveClick() { FSMTPRows->Remove(); }

void TFormWizard::BtnSMTPUpClick() { FSMTPRows->Move(-1); }

void TFormWizard::BtnSMTPDownClick() { FSMTPRows->Move(1); }

void TFormWizard::ApplyAccountChanges() {
  std::vector<const TMailAccountInfo*> Checked;
  for (int I = 0; I < LVAccounts->topLevelItemCount(); ++I) {
    QTreeWidgetItem* Row = LVAccounts->topLevelItem(I);
    if (Row->checkState(0) == Qt::Checked) Checked.push_back(AccountOf(Row));
  }
  SetOEAccountsToLocalhost(Checked);
}

// A failure on the way (an autostart entry that cannot be written, say) is shown by the
// handler's guard and leaves the wizard open on this page; what was saved before it stays.
void TFormWizard::BtnFinishClick() {
  std::string Primary = FromQ(EditDNSPrimary->text()), Secondary = FromQ(EditDNSSecondary->text());
  // Only the automatic mode lets a blank primary server through to here (the other mode
  // keeps Next off), and the options dialog refuses to apply one: keep the server in
  // force, or take the default pair when there is none.
  if (RBAutoDetectDNS->isChecked() && Trim(Primary).empty()) {
    Primary = DNSPrimary.get();
    if (Trim(Primary).empty()) {
      Primary = DefaultDNSPrimary;
      if (Trim(Secondary).empty()) Secondary = DefaultDNSSecondary;
    }
  }
  DNSPrimary = Primary;
  DNSSecondary = Secondary;
  AutoDetectDNS = RBAutoDetectDNS->isChecked();
  RelayToSMTP = CBRelayToSMTP->isChecked();
  RelaySMTPList = GetRelaySMTPList();
  AutoRun = CBAutoRun->isChecked();
  MinToTray = !CBMinToTray->isChecked();
  WriteSettings();
  ApplyAccountChanges();
  if (OutlookExpressRunning()) InfoBox(LangStrings[65]);
  SetAutoRun();
  accept();
}
