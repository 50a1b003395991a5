// The lists the options dialog edits on its own pages: the relay SMTP servers in the order
// they are tried, the relay domains kept sorted, and the two event sounds.
#include <QFileInfo>
#include <QTreeWidget>

#include "engine/settings/LangDefs.h"
#include "engine/settings/ListFormats.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "ui/common/EventSounds.h"
#include "ui/common/FileTypes.h"
#include "ui/options/DialogControls.h"
#include "ui/options/FormOptions.h"
#include "ui/options/MailDomain.h"

namespace {
QString Q(const std::string& S) { return QString::fromStdString(S); }

// Relay domain rows sort by their text without regard to letter case.
class TDomainRow : public QTreeWidgetItem {
public:
  explicit TDomainRow(const QString& Domain) { setText(0, Domain); }
  bool operator<(const QTreeWidgetItem& Other) const override {
    const int C = text(0).compare(Other.text(0), Qt::CaseInsensitive);
    return C != 0 ? C < 0 : text(0) < Other.text(0);
  }
};

bool FileExists(const QString& Name) { return !Name.isEmpty() && QFileInfo(Name).isFile(); }
}  // namespace

// The relay server rows and their commands are the wizard's as well; the dialog adds that
// a change marks it modified.
void TFormOptions::LoadRelaySMTPList() { FSMTPRows->Load(RelaySMTPList); }

std::string TFormOptions::GetRelaySMTPList() { return FSMTPRows->Get(); }

bool TFormOptions::RelaySMTPExists(const TRelaySMTPItem& Item) { return FSMTPRows->Exists(Item); }

void TFormOptions::ClearSMTPList() {
  if (FSMTPRows) FSMTPRows->Clear();
}

void TFormOptions::BtnSMTPAddClick() {
  if (FSMTPRows->Add(this)) SetModified(true);
}

void TFormOptions::BtnSMTPEditClick() {
  if (FSMTPRows->Edit(this)) SetModified(true);
}

void TFormOptions::BtnSMTPRemoveClick() {
  if (FSMTPRows->Remove()) SetModified(true);
}

void TFormOptions::BtnSMTPUpClick() {
  if (FSMTPRows->Move(-1)) SetModified(true);
}

void TFormOptions::BtnSMTPDownClick() {
  if (FSMTPRows->Move(1)) SetModified(true);
}

void TFormOptions::LoadRelayDomainList() {
  for (const std::string& Domain : SplitList(RelayDomainList))
    if (!Trim(Domain).empty()) LVRelayDomainList->addTopLevelItem(new TDomainRow(Q(Domain)));
}

std::string TFormOptions::GetRelayDomainList() {
  std::vector<std::string> Domains;
  for (int I = 0; I < LVRelayDomainList->topLevelItemCount(); ++I)
    Domains.push_back(LVRelayDomainList->topLevelItem(I)->text(0).toStdString());
  return JoinList(Domains);
}

bool TFormOptions::RelayDomainExists(const std::string& Domain) {
  const QString D = Q(Domain);
  for (int I = 0; I < LVRelayDomainList->topLevelItemCount(); ++I)
    if (LVRelayDomainList->topLevelItem(I)->text(0).compare(D, Qt::CaseInsensitive) == 0) return true;
  return false;
}

// Runs the relay domain editor on Given, with this list for its duplicate test; true with
// the edited domain after OK.
bool TFormOptions::EditRelayDomain(const std::string& Given, std::string& Result) {
  TFormMailDomain Editor(this);
  const TFormVariable<TFormMailDomain> Open(FormMailDomain, &Editor);
  Editor.OnCheckDuplicate = [this](const std::string& Domain) { return RelayDomainExists(Domain); };
  if (Editor.Execute(Given) != QDialog::Accepted) return false;
  Result = Editor.Domain;
  return true;
}

void TFormOptions::BtnRelayDomainAddClick() {
  std::string Domain;
  if (!EditRelayDomain(std::string(), Domain)) return;
  auto* Row = new TDomainRow(Q(Domain));
  LVRelayDomainList->addTopLevelItem(Row);
  LVRelayDomainList->setCurrentItem(Row);
  SetModified(true);
}

void TFormOptions::BtnRelayDomainEditClick() {
  QTreeWidgetItem* Row = SelectedRow(LVRelayDomainList);
  std::string Domain;
  if (!Row || !EditRelayDomain(Row->text(0).toStdString(), Domain)) return;
  // The list keeps itself sorted: the row moves to its new place.
  Row->setText(0, Q(Domain));
  SetModified(true);
}

void TFormOptions::BtnRelayDomainRemoveClick() {
  QTreeWidgetItem* Row = SelectedRow(LVRelayDomainList);
  if (!Row) return;
  delete Row;
  SetModified(true);
}

void TFormOptions::PrepareSoundDialog() {
  ODSound.DefaultExt = QStringLiteral("WAV");
  // "%s (*.wav)|*.wav" with the desktop's name for WAV files.
  ODSound.Filter = GetFileTypeDescription("wav") + " (*.wav)|*.wav";
  ODSound.InitialDir = Q(ProgramDir() + "Sound/");
  ODSound.FileMustExist = true;
}

void TFormOptions::LoadSoundEvents() {
  LVSoundEvent->clear();
  LVSoundEvent->setUpdatesEnabled(false);
  LVSoundEvent->addTopLevelItem(new QTreeWidgetItem({Q(LangStrings[85]), Q(SndMailSent)}));
  LVSoundEvent->addTopLevelItem(new QTreeWidgetItem({Q(LangStrings[86]), Q(SndMailSentFailed)}));
  LVSoundEvent->setUpdatesEnabled(true);
}

// A file that no longer exists leaves its setting as it was.
void TFormOptions::SaveSoundEvents() {
  if (LVSoundEvent->topLevelItemCount() < 2) return;
  const QString Sent = LVSoundEvent->topLevelItem(0)->text(1);
  const QString Failed = LVSoundEvent->topLevelItem(1)->text(1);
  if (FileExists(Sent)) SndMailSent = Sent.toStdString();
  if (FileExists(Failed)) SndMailSentFailed = Failed.toStdString();
}

void TFormOptions::BtnSoundPlayClick() {
  QTreeWidgetItem* Row = SelectedRow(LVSoundEvent);
  if (Row && FileExists(Row->text(1))) SoundPlayer().Play(Row->text(1));
}

void TFormOptions::BtnSoundChangeClick() {
  QTreeWidgetItem* Row = SelectedRow(LVSoundEvent);
  if (!Row) return;
  ODSound.FileName = FileExists(Row->text(1)) ? Row->text(1) : QString();
  if (!ODSound.Execute(this)) return;
  Row->setText(1, QFileInfo(ODSound.FileName).absoluteFilePath());
  SetModified(true);
}
