#include "ui/options/AttFilter.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "engine/settings/ListFormats.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "ui/common/FileTypes.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/DialogControls.h"
#include "ui/options/EditFileExt.h"

TFormAttachmentFilter* FormAttachmentFilter = nullptr;

TFormAttachmentFilter::TFormAttachmentFilter(QWidget* Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("FormAttachmentFilter"));
  setWindowTitle(QStringLiteral("Attachment Filter"));
  CBUseAttachmentFilter =
      NewControl<QCheckBox>(this, "CBUseAttachmentFilter", "Reject mail  which contains following types of files.");
  LVFileExt = NewReportView(this, "LVFileExt", {QString(), QString()}, {100, 200});
  LVFileExt->setMinimumSize(320, 220);
  BtnSelectAll = NewControl<QPushButton>(this, "BtnSelectAll", "Select All");
  BtnSelectNone = NewControl<QPushButton>(this, "BtnSelectNone", "Select None");
  BtnAdd = NewControl<QPushButton>(this, "BtnAdd", "&Add");
  BtnEdit = NewControl<QPushButton>(this, "BtnEdit", "&Edit...");
  BtnRemove = NewControl<QPushButton>(this, "BtnRemove", "&Remove");
  BtnReset = NewControl<QPushButton>(this, "BtnReset", "Reset");

  auto* ListButtons = new QVBoxLayout;
  for (QPushButton* B : {BtnSelectAll, BtnSelectNone}) ListButtons->addWidget(B);
  ListButtons->addSpacing(8);
  for (QPushButton* B : {BtnAdd, BtnEdit, BtnRemove}) ListButtons->addWidget(B);
  ListButtons->addSpacing(8);
  ListButtons->addWidget(BtnReset);
  ListButtons->addStretch();
  auto* Middle = new QHBoxLayout;
  Middle->addWidget(LVFileExt, 1);
  Middle->addLayout(ListButtons);
  auto* Main = new QVBoxLayout(this);
  Main->addWidget(CBUseAttachmentFilter);
  Main->addLayout(Middle);
  EndDialogLayout(this, Main, BtnOK, BtnCancel);

  auto Guarded = [this](void (TFormAttachmentFilter::*Handler)()) {
    return [this, Handler] { RunGuarded([this, Handler] { (this->*Handler)(); }); };
  };
  connect(CBUseAttachmentFilter, &QCheckBox::toggled, this, Guarded(&TFormAttachmentFilter::CBUseAttachmentFilterClick));
  connect(BtnSelectAll, &QPushButton::clicked, this, Guarded(&TFormAttachmentFilter::BtnSelectAllClick));
  connect(BtnSelectNone, &QPushButton::clicked, this, Guarded(&TFormAttachmentFilter::BtnSelectNoneClick));
  connect(BtnAdd, &QPushButton::clicked, this, Guarded(&TFormAttachmentFilter::BtnAddClick));
  connect(BtnEdit, &QPushButton::clicked, this, Guarded(&TFormAttachmentFilter::BtnEditClick));
  connect(BtnRemove, &QPushButton::clicked, this, Guarded(&TFormAttachmentFilter::BtnRemoveClick));
  connect(BtnReset, &QPushButton::clicked, this, Guarded(&TFormAttachmentFilter::BtnResetClick));
  connect(BtnOK, &QPushButton::clicked, this, Guarded(&TFormAttachmentFilter::BtnOKClick));
  FormCreate();
  UpdateControls();
}

void TFormAttachmentFilter::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  LVFileExt->setHeaderLabels({ToQ(LangStrings[59]), ToQ(LangStrings[60])});
  LVFileExt->setAccessibleName(windowTitle());
}

int TFormAttachmentFilter::Execute(bool UseFilter, const std::string& Filters) {
  OldFilters = Filters;
  OldUseFilter = UseFilter;
  CBUseAttachmentFilter->setChecked(UseFilter);
  // Read leniently: an entry without ":" is skipped, and every flag but "0" blocks.
  for (const auto& Entry : CutListSetting(Filters)) {
    const size_t Colon = Entry.find(':');
    if (Colon == std::string::npos) continue;
    AddExt(Entry.substr(Colon + 1), Entry[0] != '0');
  }
  UpdateControls();
  return exec();
}

void TFormAttachmentFilter::AddExt(const std::string& Ext, bool Ticked) {
  auto* Row = new QTreeWidgetItem(LVFileExt, {ToQ(Ext).toLower(), ToQ(GetFileTypeDescription(Ext))});
  Row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  Row->setCheckState(0, Ticked ? Qt::Checked : Qt::Unchecked);
  LVFileExt->sortItems(0, Qt::AscendingOrder);
}

void TFormAttachmentFilter::UpdateControls() {
  const bool On = CBUseAttachmentFilter->isChecked();
  SetInputEnabled(LVFileExt, On);
  for (QPushButton* B : {BtnSelectAll, BtnSelectNone, BtnAdd, BtnEdit, BtnRemove, BtnReset}) B->setEnabled(On);
}

void TFormAttachmentFilter::CBUseAttachmentFilterClick() { UpdateControls(); }

void TFormAttachmentFilter::BtnSelectAllClick() {
  for (int I = 0; I < LVFileExt->topLevelItemCount(); ++I) LVFileExt->topLevelItem(I)->setCheckState(0, Qt::Checked);
}

void TFormAttachmentFilter::BtnSelectNoneClick() {
  for (int I = 0; I < LVFileExt->topLevelItemCount(); ++I) LVFileExt->topLevelItem(I)->setCheckState(0, Qt::Unchecked);
}

void TFormAttachmentFilter::BtnRemoveClick() { delete SelectedRow(LVFileExt); }

// Runs the extension editor on Ext; true with the edited extension after OK. The editor
// finds this list for its duplicate test through the form variables.
bool TFormAttachmentFilter::EditExt(std::string& Ext) {
  const TFormVariable<TFormAttachmentFilter> List(FormAttachmentFilter, this);
  TFormEditFileExt Editor(this);
  const TFormVariable<TFormEditFileExt> Open(FormEditFileExt, &Editor);
  if (Editor.Execute(Ext) != QDialog::Accepted) return false;
  Ext = FromQ(Editor.EditFileExtension->text());
  return true;
}

void TFormAttachmentFilter::BtnAddClick() {
  std::string Ext;
  if (EditExt(Ext)) AddExt(Ext, true);
}

void TFormAttachmentFilter::BtnEditClick() {
  QTreeWidgetItem* Row = SelectedRow(LVFileExt);
  if (!Row) return;
  std::string Ext = RowText(Row, 0);
  if (!EditExt(Ext)) return;
  Row->setText(0, ToQ(Ext).toLower());
  Row->setText(1, ToQ(GetFileTypeDescription(Ext)));
  LVFileExt->sortItems(0, Qt::AscendingOrder);
}

void TFormAttachmentFilter::BtnResetClick() {
  LVFileExt->clear();
  for (const char* Ext : {"exe", "com", "bat", "pif", "scr", "vbs", "js"}) AddExt(Ext, true);
}

void TFormAttachmentFilter::BuildList(std::string& Filters) const {
  std::vector<std::string> Entries;
  for (int I = 0; I < LVFileExt->topLevelItemCount(); ++I) {
    const QTreeWidgetItem* Row = LVFileExt->topLevelItem(I);
    Entries.push_back((Row->checkState(0) == Qt::Checked ? "1:" : "0:") + RowText(Row, 0));
  }
  Filters = JoinList(Entries);
}

void TFormAttachmentFilter::BtnOKClick() {
  std::string Filters;
  BuildList(Filters);
  if (Filters == OldFilters && CBUseAttachmentFilter->isChecked() == OldUseFilter)
    reject();
  else
    accept();
}
