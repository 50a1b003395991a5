// The category tree and the mail list following the store's change notices.
#include <QTreeWidget>

#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "ui/common/AppImages.h"
#include "ui/common/EventSounds.h"
#include "ui/common/WindowMessages.h"
#include "ui/main/FormMain.h"

namespace {
constexpr int TimerModeThreshold = 200;

// The node that counts a mail in State: the queue, sent or sent failed; -1 for none.
int StateNode(TMailState State) {
  switch (State) {
    case msWaiting:
    case msSending:
    case msHeld:
    case msRequeued: return 1;
    case msSent: return 2;
    case msFailed: return 3;
    default: return -1;
  }
}
}  // namespace

void TFormMain::BuildCategoryTree() {
  const TMailKindSet AllKinds{1, 2, 3};
  FCategories[0] = {0, AllKinds, {msWaiting, msSent, msFailed, msRequeued}, 0, 6};
  FCategories[1] = {1, AllKinds, {msWaiting, msSending, msHeld, msRequeued}, 0, 7};
  FCategories[2] = {2, AllKinds, {msSent}, 0, 8};
  FCategories[3] = {3, AllKinds, {msFailed}, 0, 9};
  FCurrentCategory = nullptr;
  TVCategory->clear();
  const std::array<QIcon, 4> Images = CategoryImages();
  auto* Root = new QTreeWidgetItem(TVCategory);
  for (int I = 1; I < 4; ++I) new QTreeWidgetItem(Root);
  for (int I = 0; I < 4; ++I) {
    TCategoryData& C = FCategories[static_cast<size_t>(I)];
    C.Count = FMailStore ? FMailStore->GetMailCount(C.MailKinds, C.States) : 0;
    QTreeWidgetItem* Node = I == 0 ? Root : Root->child(I - 1);
    Node->setIcon(0, Images[static_cast<size_t>(I)]);
    Node->setData(0, Qt::UserRole, I);
    SetCategoryText(I);
  }
  TVCategory->expandAll();
  TVCategory->setCurrentItem(Root->child(0));
}

void TFormMain::SetCategoryText(int Kind) {
  QTreeWidgetItem* Root = TVCategory->topLevelItem(0);
  if (!Root) return;
  const TCategoryData& C = FCategories[static_cast<size_t>(Kind)];
  (Kind == 0 ? Root : Root->child(Kind - 1))->setText(0, QString::fromStdString(LangFmt(C.Caption, C.Count)));
}

void TFormMain::ChangeCount(int Kind, int Delta) {
  int32_t& Count = FCategories[static_cast<size_t>(Kind)].Count;
  Count = std::max(0, Count + Delta);
  SetCategoryText(Kind);
}

void TFormMain::TVCategoryChange(QTreeWidgetItem* Node) {
  if (!Node || !Node->data(0, Qt::UserRole).isValid()) return;
  TCategoryData* Category = &FCategories[static_cast<size_t>(Node->data(0, Qt::UserRole).toInt())];
  if (Category == FCurrentCategory) return;
  // Notices older than the scan below must not add their mails a second time.
  ProcessStoreEvents();
  FCurrentCategory = Category;
  FMailModel->Clear();
  if (FMailStore) {
    std::vector<TMailRecord> Records;
    Records.reserve(static_cast<size_t>(std::max(0, Category->Count)));
    TMailRecord Rec;
    for (bool More = FMailStore->FindFirst(Category->MailKinds, Category->States, Rec); More;
         More = FMailStore->FindNext(Rec))
      Records.push_back(Rec);
    FMailModel->AppendRecords(Records);
  }
  SetRefreshMode(Category->Count >= TimerModeThreshold || !isVisible());
}

// Message mode takes each notice as its message comes; timer mode takes them all once a
// second. Going back to message mode takes what was queued meanwhile.
void TFormMain::SetRefreshMode(bool Timer) {
  FTimerMode = Timer;
  if (Timer) {
    TimerRefresh->start();
  } else {
    TimerRefresh->stop();
    PostWindowMessage(this, WM_MAILSTORECHANGE);
  }
}

void TFormMain::WMMailStoreChange() {
  if (FTimerMode) return;
  ProcessStoreEvents();
  if (FCurrentCategory && (FCurrentCategory->Count >= TimerModeThreshold || !isVisible())) SetRefreshMode(true);
}

void TFormMain::TimerRefreshTimer() {
  ProcessStoreEvents();
  if (isVisible() && FCurrentCategory && FCurrentCategory->Count < TimerModeThreshold) SetRefreshMode(false);
}

TMailNodeData* TFormMain::FindMailNode(const std::string& ID) const { return FMailModel->FindMailNode(ID); }

void TFormMain::ProcessStoreEvents() {
  if (!FMailStore) return;
  TVCategory->setUpdatesEnabled(false);
  // Rows of removed mails leave the list together at the end: one at a time, each would
  // shift and renumber the rows after it.
  FMailModel->BeginBatch();
  TMailNotice N;
  // A notice whose row or mail is gone is taken all the same: leaving the rest for the
  // next pass would put the list one pass further behind each time.
  try {
    while (FMailStore->PopNotice(N)) ApplyNotice(N);
  } catch (...) {
    FMailModel->EndBatch();
    TVCategory->setUpdatesEnabled(true);
    throw;
  }
  FMailModel->EndBatch();
  TVCategory->setUpdatesEnabled(true);
}

// A row that exists follows its record whatever the notice's state: the root category
// leaves out mails being sent, so the change to sending and the removal that ends the
// delivery carry a state it does not list, while the row stays.
void TFormMain::RefreshRow(TMailNodeData* Row, const std::string& ID, bool Gone) {
  TMailRecord Rec;
  try {
    FMailStore->GetMailRecord(ID, Rec);
  } catch (const EVexaMailNotFind&) {
    // Removed from the store: the row goes with a removed notice; a change leaves it to the
    // removed notice that follows.
    if (Gone) FMailModel->Remove(Row);
    return;
  }
  FMailModel->Refill(Row, Rec);
}

void TFormMain::ApplyNotice(const TMailNotice& N) {
  const int Node = StateNode(N.State);
  const bool Current = FCurrentCategory && FCurrentCategory->States.Contains(N.State);
  if (N.Action == naAdded) {
    ChangeCount(0, 1);
    if (Node < 0) return;
    ChangeCount(Node, 1);
    if (TMailNodeData* Row = FindMailNode(N.ID)) {
      RefreshRow(Row, N.ID, false);
    } else if (Current) {
      TMailRecord Rec;
      // A mail deleted meanwhile gets no row; its counters still move.
      try {
        FMailStore->GetMailRecord(N.ID, Rec);
        FMailModel->Append(Rec);
      } catch (const EVexaMailNotFind&) {
      }
    }
    if (N.State == msWaiting) ++FReceivedCount;
    if (N.State == msSent || N.State == msFailed) {
      ++(N.State == msSent ? FSentCount : FFailedCount);
      --FSendingCount;
      UpdateTrayIcon();
      if (PlayEventSound) PlaySound(N.State == msSent ? SndMailSent.get() : SndMailSentFailed.get());
    }
    UpdateStatusBar();
    RTIconVexa->setToolTip(TrayHintText());
    if (N.State == msFailed && !isVisible()) {
      FShowErrorIcon = true;
      UpdateTrayIcon();
    }
  } else if (N.Action == naRemoved) {
    ChangeCount(0, -1);
    if (Node < 0) return;
    ChangeCount(Node, -1);
    if (TMailNodeData* Row = FindMailNode(N.ID)) {
      if (Current)
        FMailModel->Remove(Row);
      else
        RefreshRow(Row, N.ID, true);
    }
  } else if (N.Action == naChanged) {
    if (TMailNodeData* Row = FindMailNode(N.ID)) RefreshRow(Row, N.ID, false);
    if (N.State == msSending || N.State == msWaiting) {
      FSendingCount += N.State == msSending ? 1 : -1;
      UpdateTrayIcon();
    }
  }
}

void TFormMain::PlaySound(const std::string& File) { SoundPlayer().Play(QString::fromStdString(File)); }
