#include "ui/options/AccessListForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "engine/settings/ListFormats.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/DialogControls.h"

TAccessListForm::TAccessListForm(QWidget* Owner, const TTexts& Texts) : QDialog(Owner), FEntryColumn(Texts.EntryColumn) {
  setObjectName(QLatin1String(Texts.FormName));
  setWindowTitle(QString::fromUtf8(Texts.Caption));
  Label1 = NewControl<QLabel>(this, "Label1", Texts.Label1);
  RBGrantList = NewControl<QRadioButton>(this, "RBGrantList", "Only the list below");
  RBDenyList = NewControl<QRadioButton>(this, "RBDenyList", "All except the list below");
  (Texts.DenyListAtDesign ? RBDenyList : RBGrantList)->setChecked(true);
  Label2 = NewControl<QLabel>(this, "Label2", Texts.Label2);
  LVIPList = NewReportView(this, "LVIPList", {QString(), QString()}, {80, 200});
  LVIPList->setMinimumSize(320, 180);
  Label2->setBuddy(LVIPList);
  BtnAdd = NewControl<QPushButton>(this, "BtnAdd", "&Add");
  BtnEdit = NewControl<QPushButton>(this, "BtnEdit", "&Edit...");
  BtnRemove = NewControl<QPushButton>(this, "BtnRemove", "&Remove");

  auto* ListButtons = new QVBoxLayout;
  ListButtons->addWidget(BtnAdd);
  ListButtons->addWidget(BtnEdit);
  ListButtons->addWidget(BtnRemove);
  ListButtons->addStretch();
  auto* Middle = new QHBoxLayout;
  Middle->addWidget(LVIPList, 1);
  Middle->addLayout(ListButtons);
  auto* Main = new QVBoxLayout(this);
  Main->addWidget(Label1);
  Main->addWidget(RBGrantList);
  Main->addWidget(RBDenyList);
  Main->addSpacing(4);
  Main->addWidget(Label2);
  Main->addLayout(Middle);
  EndDialogLayout(this, Main, BtnOK, BtnCancel);

  for (QRadioButton* B : {RBGrantList, RBDenyList})
    connect(B, &QRadioButton::toggled, this, [this] { RunGuarded([this] { RBGrantListClick(); }); });
  connect(BtnAdd, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnAddClick(); }); });
  connect(BtnEdit, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnEditClick(); }); });
  connect(BtnRemove, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnRemoveClick(); }); });
  connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);
  FormCreate();
}

void TAccessListForm::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  LVIPList->setHeaderLabels({ToQ(LangStrings[61]), ToQ(LangStrings[FEntryColumn])});
  // List views take no name from a label; a screen reader names the list after its own.
  LVIPList->setAccessibleName(Label2->text().remove(QLatin1Char('&')));
}

int TAccessListForm::Execute() {
  (UseGranted ? RBGrantList : RBDenyList)->setChecked(true);
  if (UseGranted)
    LoadList(LangStrings[57], GrantList);
  else
    LoadList(LangStrings[58], DenyList);
  ShowingGrantList = RBGrantList->isChecked();
  Modified = false;
  const int Result = exec();
  UseGranted = RBGrantList->isChecked();
  (ShowingGrantList ? GrantList : DenyList) = BuildList();
  return Result;
}

std::string TAccessListForm::AccessCaption() const { return LangStrings[RBGrantList->isChecked() ? 57 : 58]; }

void TAccessListForm::LoadList(const std::string& Caption, const std::string& List) {
  LVIPList->clear();
  for (const auto& Entry : CutListSetting(List)) new QTreeWidgetItem(LVIPList, {ToQ(Caption), ToQ(ShownEntry(Entry))});
}

std::string TAccessListForm::BuildList() const {
  std::vector<std::string> Entries;
  for (int I = 0; I < LVIPList->topLevelItemCount(); ++I) {
    const std::string Shown = RowText(LVIPList->topLevelItem(I), 1);
    if (!Trim(Shown).empty()) Entries.push_back(StoredEntry(Shown));
  }
  return JoinList(Entries);
}

bool TAccessListForm::FindShown(const std::string& Key) const {
  for (int I = 0; I < LVIPList->topLevelItemCount(); ++I)
    if (RowText(LVIPList->topLevelItem(I), 1) == Key) return true;
  return false;
}

void TAccessListForm::BtnAddClick() {
  std::string Result;
  if (!EditEntry(std::string(), true, Result)) return;
  new QTreeWidgetItem(LVIPList, {ToQ(AccessCaption()), ToQ(Result)});
  Modified = true;
}

void TAccessListForm::BtnEditClick() {
  QTreeWidgetItem* Row = SelectedRow(LVIPList);
  if (!Row) return;
  std::string Result;
  if (!EditEntry(RowText(Row, 1), false, Result)) return;
  Row->setText(0, ToQ(AccessCaption()));
  Row->setText(1, ToQ(Result));
  Modified = true;
}

void TAccessListForm::BtnRemoveClick() {
  QTreeWidgetItem* Row = SelectedRow(LVIPList);
  if (!Row) return;
  delete Row;
  Modified = true;
}

void TAccessListForm::RBGrantListClick() {
  if (!isVisible() || RBGrantList->isChecked() == ShowingGrantList) return;
  (ShowingGrantList ? GrantList : DenyList) = BuildList();
  ShowingGrantList = RBGrantList->isChecked();
  if (ShowingGrantList)
    LoadList(LangStrings[57], GrantList);
  else
    LoadList(LangStrings[58], DenyList);
  Modified = true;
}
