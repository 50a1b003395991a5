// The category tree and the store's change notices. The mail list itself shows the rows
// of the selected category once it has its own model.
#include <QTreeWidget>

#include "engine/settings/LangFormat.h"
#include "ui/main/FormMain.h"

void TFormMain::BuildCategoryTree() {
  const TMailKindSet AllKinds{1, 2, 3};
  FCategories[0] = {0, AllKinds, {msWaiting, msSent, msFailed, msRequeued}, 0, 6};
  FCategories[1] = {1, AllKinds, {msWaiting, msSending, msHeld, msRequeued}, 0, 7};
  FCategories[2] = {2, AllKinds, {msSent}, 0, 8};
  FCategories[3] = {3, AllKinds, {msFailed}, 0, 9};
  TVCategory->clear();
  auto* Root = new QTreeWidgetItem(TVCategory);
  for (int I = 1; I < 4; ++I) new QTreeWidgetItem(Root);
  TVCategory->expandAll();
  UpdateCategoryNodes();
  TVCategory->setCurrentItem(Root->child(0));
  FCurrentCategory = &FCategories[1];
}

void TFormMain::UpdateCategoryNodes() {
  QTreeWidgetItem* Root = TVCategory->topLevelItem(0);
  if (!Root || !FMailStore) return;
  for (int I = 0; I < 4; ++I) {
    TCategoryData& C = FCategories[static_cast<size_t>(I)];
    C.Count = FMailStore->GetMailCount(C.MailKinds, C.States);
    (I == 0 ? Root : Root->child(I - 1))->setText(0, QString::fromStdString(LangFmt(C.Caption, C.Count)));
  }
}

void TFormMain::WMMailStoreChange() {
  if (!FTimerMode) ProcessStoreEvents();
}

void TFormMain::ProcessStoreEvents() {
  if (!FMailStore) return;
  bool Any = false;
  TMailNotice N;
  while (FMailStore->PopNotice(N)) {
    Any = true;
    if (N.Action == naAdded && N.State == msWaiting) ++FReceivedCount;
    if (N.Action == naAdded && N.State == msSent) ++FSentCount, --FSendingCount;
    if (N.Action == naAdded && N.State == msFailed) ++FFailedCount, --FSendingCount;
    if (N.Action == naChanged && N.State == msSending) ++FSendingCount;
    if (N.Action == naChanged && N.State == msWaiting) --FSendingCount;
  }
  if (!Any) return;
  UpdateCategoryNodes();
  UpdateStatusBar();
  UpdateTrayIcon();
}
