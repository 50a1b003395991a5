#include "ui/options/AccessListForm.h"

#include <QGridLayout>
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
  Label1 = new QLabel(QString::fromUtf8(Texts.Label1), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  RBGrantList = new QRadioButton(QStringLiteral("Only the list below"), this);
  RBGrantList->setObjectName(QStringLiteral("RBGrantList"));
  RBDenyList = new QRadioButton(QStringLiteral("All except the list below"), this);
  RBDenyList->setObjectName(QStringLiteral("RBDenyList"));
  (Texts.DenyListAtDesign ? RBDenyList : RBGrantList)->setChecked(true);
  Label2 = new QLabel(QString::fromUtf8(Texts.Label2), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  LVIPList = NewReportView(this, "LVIPList", {QString(), QString()}, {80, 200});
  LVIPList->setMinimumSize(320, 180);
  Label2->setBuddy(LVIPList);
  auto NewButton = [this](const char* Name, const char* Text) {
    auto* B = new QPushButton(QString::fromUtf8(Text), this);
    B->setObjectName(QLatin1String(Name));
    return B;
  };
  BtnAdd = NewButton("BtnAdd", "&Add");
  BtnEdit = NewButton("BtnEdit", "&Edit...");
  BtnRemove = NewButton("BtnRemove", "&Remove");
  BtnOK = NewButton("BtnOK", "&OK");
  BtnOK->setDefault(true);
  BtnCancel = NewButton("BtnCancel", "&Cancel");

  auto* ListButtons = new QVBoxLayout;
  ListButtons->addWidget(BtnAdd);
  ListButtons->addWidget(BtnEdit);
  ListButtons->addWidget(BtnRemove);
  ListButtons->addStretch();
  auto* Middle = new QHBoxLayout;
  Middle->addWidget(LVIPList, 1);
  Middle->addLayout(ListButtons);
  auto* Buttons = new QHBoxLayout;
  Buttons->addStretch();
  Buttons->addWidget(BtnOK);
  Buttons->addWidget(BtnCancel);
  auto* Main = new QVBoxLayout(this);
  Main->addWidget(Label1);
  Main->addWidget(RBGrantList);
  Main->addWidget(RBDenyList);
  Main->addSpacing(4);
  Main->addWidget(Label2);
  Main->addLayout(Middle);
  Main->addSpacing(6);
  Main->addLayout(Buttons);
  SetDialogBorder(this);

  for (QRadioButton* B : {RBGrantList, RBDenyList})
    connect(B, &QRadioButton::toggled, this, [this] { RunGuarded([this] { RBGrantListClick(); }); });
  connect(BtnAdd, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnAddClick(); }); });
  connect(BtnEdit, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnEditClick(); }); });
  connect(BtnRemove, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnRemoveClick(); }); });
  connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
  FormCreate();
}

void TAccessListForm::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  LVIPList->setHeaderLabels({ToQ(LangStrings[61]), ToQ(LangStrings[FEntryColumn])});
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
