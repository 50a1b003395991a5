// What the user does with the mail list: sorting, and the commands Delete, Resend, Clear
// All and View Source.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>

#include "engine/delivery/MailSender.h"
#include "engine/settings/LangDefs.h"
#include "ui/common/ZQDiag.h"
#include "ui/main/FormMain.h"
#include "ui/viewer/ViewMail.h"

void TFormMain::SortList() {
  if (FSortColumn == 0) {
    FMailModel->SortBy(0, false);
    VTMails->header()->setSortIndicator(-1, Qt::AscendingOrder);
  } else {
    FMailModel->SortBy(FSortColumn, FSortDirection != 0);
    VTMails->header()->setSortIndicator(FSortColumn, FSortDirection ? Qt::DescendingOrder : Qt::AscendingOrder);
  }
}

void TFormMain::SortByColumn(int Column) {
  if (Column == FSortColumn) {
    if (Column == 0) {
      // The header shows no glyph for the queue order; a click must not leave one there.
      VTMails->header()->setSortIndicator(-1, Qt::AscendingOrder);
      return;
    }
    FSortDirection = FSortDirection ? 0 : 1;
  } else if (Column >= 0 && Column < TMailListModel::ColumnCount) {
    FSortColumn = Column;
  } else {
    return;
  }
  UpdateSortMenu();
  SortList();
}

// A click toggles the checkable item by itself, the current column's too, which the sort
// may then leave alone (Queue again does nothing): the marks are set back after it.
void TFormMain::OnSortMenu(QAction* Item) {
  SortByColumn(Item->data().toInt());
  UpdateSortMenu();
}

// Each direction item sets its own direction: choosing the one in force changes nothing.
void TFormMain::OnSortOrder(uint8_t Direction) {
  FSortDirection = Direction;
  UpdateSortMenu();
  // Column 0 has no direction and column 1 no order: only the stored direction changes.
  if (FSortColumn == 0 || FSortColumn == 1) return;
  SortList();
}

// The Tag (the column in the item's data) decides, not the name.
void TFormMain::UpdateSortMenu() {
  for (int I = 0; I < TMailListModel::ColumnCount; ++I)
    if (auto* Item = findChild<QAction*>(QStringLiteral("MISort%1").arg(I))) Item->setChecked(Item->data().toInt() == FSortColumn);
  SortOrder1->setChecked(FSortDirection == 0);
  SortOrder2->setChecked(FSortDirection != 0);
}

// In list order.
std::vector<TMailNodeData*> TFormMain::SelectedNodes() const {
  QModelIndexList Rows = VTMails->selectionModel()->selectedRows();
  std::sort(Rows.begin(), Rows.end(), [](const QModelIndex& A, const QModelIndex& B) { return A.row() < B.row(); });
  std::vector<TMailNodeData*> Nodes;
  for (const QModelIndex& I : Rows)
    if (TMailNodeData* N = FMailModel->Node(I)) Nodes.push_back(N);
  return Nodes;
}

void TFormMain::SIDelMsgClick() {
  const std::vector<TMailNodeData*> Nodes = SelectedNodes();
  if (Nodes.empty()) return;
  for (TMailNodeData* N : Nodes) {
    // The row's state may be behind the store's (timer mode): a mail being sent is cut
    // off first whatever the row says; cancelling one that is not being sent does nothing.
    if (FSender) FSender->CancelMail(N->MailID);
    FMailStore->DeleteMail(N->MailID);
  }
  FMailModel->RemoveAll(Nodes);
}

void TFormMain::SIResendClick() {
  if (!FCurrentCategory || FCurrentCategory->States.Contains(msWaiting)) return;
  std::vector<TMailNodeData*> Nodes = SelectedNodes();
  if (Nodes.empty()) return;
  std::vector<std::string> IDs;
  std::vector<TMailNodeData*> Resent;
  for (TMailNodeData* N : Nodes) {
    IDs.push_back(N->MailID);
    if (N->State == msWaiting || N->State == msSending)
      VTMails->selectionModel()->select(FMailModel->index(FMailModel->RowOf(N), 0),
                                        QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    else
      Resent.push_back(N);
  }
  FMailModel->RemoveAll(Resent);
  for (const std::string& ID : IDs) {
    TMailRecord Rec;
    try {
      FMailStore->GetMailRecord(ID, Rec);
    } catch (const EVexaMailNotFind&) {
      continue;  // deleted meanwhile: the others are still resent
    }
    if (Rec.State != msWaiting && Rec.State != msSending) FMailStore->ChangeMailState(ID, Rec.State, msWaiting);
  }
}

void TFormMain::ClearAllMessages() {
  if (!FCurrentCategory || FCurrentCategory->Count == 0) return;
  if (!YesNoBox(LangStrings[18])) return;
  // As with Delete, a row's state may be behind the store's: every row's attempt is cut
  // off, whatever the row says.
  if (FCurrentCategory->States.Contains(msSending) && FSender) {
    for (int R = 0; R < FMailModel->rowCount(); ++R) FSender->CancelMail(FMailModel->Node(R)->MailID);
  }
  FMailStore->DeleteMails(FCurrentCategory->States);
  FMailModel->Clear();
  QCoreApplication::processEvents();
  // In timer mode the removed notices are still queued: taken now, they cannot take the
  // same mails off the fresh counts a second time.
  ProcessStoreEvents();
  FCategories[0].Count = FMailStore->GetMailCount(FCategories[0].MailKinds, FCategories[0].States);
  SetCategoryText(0);
  FCurrentCategory->Count = FMailStore->GetMailCount(FCurrentCategory->MailKinds, FCurrentCategory->States);
  SetCategoryText(FCurrentCategory->Kind);
}

void TFormMain::SIViewMailClick() {
  const std::vector<TMailNodeData*> Nodes = SelectedNodes();
  if (!Nodes.empty()) ShowMailSource(Nodes.front()->MailID);
}

void TFormMain::ShowMailSource(const std::string& ID) {
  if (!FormViewMail) FormViewMail = new TFormViewMail(this);
  if (!FMailStore) return;
  std::unique_ptr<TMailData> Mail = FMailStore->LoadMailData(ID);
  if (!Mail) return;
  FormViewMail->ShowMail(*Mail);
  FMailStore->FreeMailData(std::move(Mail));
}
