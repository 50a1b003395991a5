// What the main window reports: the log pane fed from any thread, delivery progress, the
// status bar and tray icon, the view settings and the language menu.
#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QSplitter>
#include <QTextEdit>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"
#include "ui/common/AppImages.h"
#include "ui/common/MultiLang.h"
#include "ui/common/WindowMessages.h"
#include "ui/common/ZQDiag.h"
#include "ui/main/FormMain.h"

void TFormMain::PostLogMessage(uint8_t Level, const std::string& Text) {
  if (!FLogQueue) return;
  auto Item = std::make_unique<TLogItem>();
  Item->Level = Level;
  Item->Text = Text.substr(0, 255);
  FLogQueue->Add(std::move(Item));
  PostWindowMessage(this, WM_LOGMESSAGE);
}

void TFormMain::FlushLogQueue() {
  if (!FLogQueue) return;
  FLogQueue->Drain([this](TLogItem& Item) {
    if (!FViewLog || Trim(Item.Text).empty()) return;
    if (RELog->document()->characterCount() > 65536) RELog->clear();
    QColor Colour(Qt::black);
    if (Item.Level == 1) Colour = QColor(0, 0, 255);
    if (Item.Level == 2) Colour = QColor(0, 128, 0);
    if (Item.Level == 3) Colour = QColor(255, 0, 0);
    QTextCharFormat Format;
    Format.setForeground(Colour);
    QTextCursor C(RELog->document());
    C.movePosition(QTextCursor::End);
    if (!RELog->document()->isEmpty()) C.insertBlock();
    C.insertText(QDateTime::currentDateTime().toString(QStringLiteral("[yyyy-MM-dd HH:mm:ss] ")) +
                     QString::fromStdString(Item.Text),
                 Format);
    RELog->verticalScrollBar()->setValue(RELog->verticalScrollBar()->maximum());
  });
}

void TFormMain::PostDeliveryProgress(const std::string& MailID, const std::string& Text, int32_t Percent) {
  if (!FProgressQueue) return;
  auto Item = std::make_unique<TProgressItem>();
  Item->MailID = MailID.substr(0, 10);
  Item->Text = Text.substr(0, 100);
  Item->Percent = Percent;
  FProgressQueue->Add(std::move(Item));
  PostWindowMessage(this, WM_DELIVERYPROGRESS);
}

// The list's rows take their percentages once the list shows the store; until then the
// reports are only freed.
void TFormMain::FlushProgressQueue() {
  if (FProgressQueue) FProgressQueue->Drain([](TProgressItem&) {});
}

void TFormMain::PMIClearLogClick() { RELog->clear(); }

std::string TFormMain::BuildTrayHint() {
  return "Quillon Pro   \r\n" + LangFmt(10, FReceivedCount) + "\r\n" + LangFmt(11, FSentCount) + "\r\n" +
         LangFmt(12, FFailedCount);
}

void TFormMain::UpdateStatusBar() {
  FStatusPanels[0]->setText(QString::fromStdString(LangFmt(10, FReceivedCount)));
  FStatusPanels[1]->setText(QString::fromStdString(LangFmt(11, FSentCount)));
  FStatusPanels[2]->setText(QString::fromStdString(LangFmt(12, FFailedCount)));
}

void TFormMain::UpdateTrayIcon() {
  RTIconVexa->setToolTip(QString::fromStdString(BuildTrayHint()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  if (FSendingCount < 0) FSendingCount = 0;
  // The error and running states blink between their mark and the bare envelope.
  TMarkColour Mark = TMarkColour::Green;
  bool Cycle = false;
  if (FShowErrorIcon) {
    Mark = TMarkColour::Red;
    Cycle = true;
  } else if (!FServerRunning) {
    Mark = TMarkColour::Grey;
  } else if (FPauseDelivery) {
    Mark = TMarkColour::Yellow;
  } else if (FSendingCount >= 1) {
    Mark = TMarkColour::Orange;
    Cycle = true;
  }
  disconnect(FIconCycle, nullptr, this, nullptr);
  FIconFrame = 0;
  RTIconVexa->setIcon(EnvelopeIcon(Mark));
  if (Cycle) {
    connect(FIconCycle, &QTimer::timeout, this, [this, Mark] {
      FIconFrame ^= 1;
      RTIconVexa->setIcon(EnvelopeIcon(FIconFrame ? TMarkColour::None : Mark));
    });
    FIconCycle->start();
  } else {
    FIconCycle->stop();
  }
}

void TFormMain::ToggleLogView(bool KeepState) {
  if (!KeepState) FViewLog = !FViewLog;
  RELog->setVisible(FViewLog);
  for (QAction* A : {SIVewLog, MIViewlogs, PMIViewLog}) A->setChecked(FViewLog);
}

void TFormMain::LoadViewSettings() {
  TRegistry Reg;
  if (!Reg.OpenKey(SettingsKey, true)) {
    ErrorBoxCaption(LangStrings[19], LangStrings[20]);
    return;
  }
  auto Read = [&Reg](const char* Name, bool Default) {
    try {
      return Reg.ValueExists(Name) ? Reg.ReadBool(Name) : Default;
    } catch (const std::exception&) {
      return Default;
    }
  };
  FPauseDelivery = Read("PauseDelivery", false);
  FViewLog = Read("ViewLog", true);
  Reg.CloseKey();
  TogglePauseDelivery(true);
  ToggleLogView(true);
}

void TFormMain::SaveViewSettings() {
  TRegistry Reg;
  if (!Reg.OpenKey(SettingsKey, true)) {
    ErrorBoxCaption(LangStrings[19], LangStrings[20]);
    return;
  }
  for (auto [Name, Value] : {std::pair{"PauseDelivery", FPauseDelivery}, std::pair{"ViewLog", FViewLog}}) {
    try {
      Reg.WriteBool(Name, Value);
    } catch (const std::exception&) {
    }
  }
}

namespace {
std::string LanguageFileOf(const std::string& Entry) {
  const size_t Eq = Entry.find('=');
  return Eq == std::string::npos ? std::string() : Entry.substr(Eq + 1);
}
}  // namespace

void TFormMain::BuildLanguageMenu() {
  const std::vector<std::string> List = GetLanguageList();
  for (size_t I = 0; I < List.size(); ++I) {
    const size_t Eq = List[I].find('=');
    const std::string Name = List[I].substr(0, Eq);
    if (Trim(Name).empty()) continue;
    auto* Item = new QAction(QString::fromStdString(Name), this);
    Item->setObjectName(QStringLiteral("LangMenu%1").arg(I));
    Item->setData(static_cast<int>(I));
    Item->setCheckable(true);
    Item->setChecked(LanguageFileOf(List[I]) == LanguageName.get());
    connect(Item, &QAction::triggered, this, [this, Item] { RunGuarded([&] { LanguageMenuClick(Item); }); });
    Language1->addAction(Item);
  }
}

void TFormMain::LanguageMenuClick(QAction* Item) {
  const std::vector<std::string> List = GetLanguageList();
  const size_t Index = static_cast<size_t>(Item->data().toInt());
  const std::string File = Index < List.size() ? LanguageFileOf(List[Index]) : std::string();
  if (Trim(File).empty() || File == LanguageName.get()) {
    // A checkable item unchecks itself when clicked; the check stays where it was.
    Item->setChecked(File == LanguageName.get());
    return;
  }
  LanguageName = File;
  try {
    TRegistry Reg;
    if (Reg.OpenKey(SettingsKey, true)) Reg.WriteString("LanguageName", File);
  } catch (const std::exception&) {
  }
  LoadLanguageFile(LanguageDir() + File);
  ApplyLanguage();
  for (QAction* A : Language1->actions()) A->setChecked(A == Item);
}

void TFormMain::ApplyLanguage() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  RELog->setFont(font());
  setWindowTitle(QStringLiteral("Quillon Pro"));
  UpdateCategoryNodes();
  UpdateStatusBar();
  RELog->clear();
}
