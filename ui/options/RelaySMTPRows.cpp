#include "ui/options/RelaySMTPRows.h"

#include <QTreeWidget>

#include "ui/options/DialogControls.h"
#include "ui/options/EditSMTP.h"

namespace {
// Deleting the row frees its record.
class TRelaySMTPRow : public QTreeWidgetItem {
public:
  explicit TRelaySMTPRow(const TRelaySMTPItem& Item) : Item(Item) { Refresh(); }
  void Refresh() {
    setText(0, ToQ(Item.Host));
    setText(1, QString::number(Item.Port));
  }
  TRelaySMTPItem Item;
};

TRelaySMTPRow* RelayRow(QTreeWidgetItem* Row) { return static_cast<TRelaySMTPRow*>(Row); }

// Runs the relay server editor on Item; true with the edited server in Result.
bool RunEditor(QWidget* Owner, const TRelaySMTPRows& Rows, const TRelaySMTPItem& Item, TRelaySMTPItem& Result) {
  TFormEditSMTPItem Editor(Owner);
  const TFormVariable<TFormEditSMTPItem> Open(FormEditSMTPItem, &Editor);
  Editor.OnCheckDuplicate = [&Rows](const TRelaySMTPItem& I) { return Rows.Exists(I); };
  if (Editor.Execute(Item) != QDialog::Accepted) return false;
  Result = Editor.NewItem;
  return true;
}
}  // namespace

QTreeWidgetItem* TRelaySMTPRows::AddRow(const TRelaySMTPItem& Item, int Index) {
  auto* Row = new TRelaySMTPRow(Item);
  if (Index < 0)
    FView->addTopLevelItem(Row);
  else
    FView->insertTopLevelItem(Index, Row);
  return Row;
}

void TRelaySMTPRows::Load(const std::string& List) {
  for (const TRelaySMTPItem& Item : ParseRelaySMTPList(List)) AddRow(Item);
}

std::string TRelaySMTPRows::Get() const {
  std::vector<TRelaySMTPItem> Items;
  for (int I = 0; I < FView->topLevelItemCount(); ++I) Items.push_back(RelayRow(FView->topLevelItem(I))->Item);
  return FormatRelaySMTPList(Items);
}

bool TRelaySMTPRows::Exists(const TRelaySMTPItem& Item) const {
  for (int I = 0; I < FView->topLevelItemCount(); ++I)
    if (RelayRow(FView->topLevelItem(I))->Item == Item) return true;
  return false;
}

void TRelaySMTPRows::Clear() { FView->clear(); }

bool TRelaySMTPRows::Add(QWidget* Owner) {
  TRelaySMTPItem Result;
  if (!RunEditor(Owner, *this, TRelaySMTPItem(), Result)) return false;
  AddRow(Result);
  return true;
}

bool TRelaySMTPRows::Edit(QWidget* Owner) {
  QTreeWidgetItem* Row = SelectedRow(FView);
  if (!Row) return false;
  TRelaySMTPItem Result;
  if (!RunEditor(Owner, *this, RelayRow(Row)->Item, Result)) return false;
  RelayRow(Row)->Item = Result;
  RelayRow(Row)->Refresh();
  return true;
}

bool TRelaySMTPRows::Remove() {
  QTreeWidgetItem* Row = SelectedRow(FView);
  if (!Row) return false;
  delete Row;
  FView->clearSelection();
  FView->setCurrentItem(nullptr);
  return true;
}

bool TRelaySMTPRows::Move(int Offset) {
  QTreeWidgetItem* Row = SelectedRow(FView);
  if (!Row) return false;
  const int From = FView->indexOfTopLevelItem(Row);
  const int To = From + Offset;
  if (To < 0 || To >= FView->topLevelItemCount()) return false;
  FView->takeTopLevelItem(From);
  FView->insertTopLevelItem(To, Row);
  FView->setCurrentItem(Row);
  return true;
}
