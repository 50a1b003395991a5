// What the main window reports: the log pane fed from any thread, delivery progress, the
// status bar and tray icon, the view settings and the language menu.
#include <QAction>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>
#include <fstream>

#include "engine/settings/LangDefs.h"
#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "platform/PrivateFiles.h"
#include "platform/Registry.h"
#include "ui/common/AppImages.h"
#include "ui/common/MultiLang.h"
#include "ui/common/WindowMessages.h"
#include "ui/common/ZQDiag.h"
#include "ui/main/FormMain.h"
#include "ui/viewer/ViewMail.h"

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
    // characterCount counts the closing paragraph separator too.
    if (RELog->document()->characterCount() - 1 > 65536) RELog->clear();
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

// Log-line reports (with a text) change nothing here; with the window hidden every report
// is only freed.
void TFormMain::FlushProgressQueue() {
  if (!FProgressQueue) return;
  FProgressQueue->Drain([this](TProgressItem& Item) {
    if (!isVisible()) return;
    if (TMailNodeData* Node = FindMailNode(Item.MailID); Node && Item.Text.empty())
      FMailModel->SetProgress(Node, Item.Percent);
  });
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

// The platform's tool tips break lines at LF.
QString TFormMain::TrayHintText() {
  return QString::fromStdString(BuildTrayHint()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void TFormMain::UpdateTrayIcon() {
  const QString Hint = TrayHintText();
  if (RTIconVexa->toolTip() != Hint) RTIconVexa->setToolTip(Hint);
  if (FSendingCount < 0) FSendingCount = 0;
  if (FShowErrorIcon)
    SetTrayIcon(TTrayImages::Error, -1, true);
  else if (!FServerRunning)
    SetTrayIcon(TTrayImages::Normal, 1, false);
  else if (FPauseDelivery)
    SetTrayIcon(TTrayImages::Normal, 2, false);
  else if (FSendingCount < 1)
    SetTrayIcon(TTrayImages::Normal, 0, false);
  else
    SetTrayIcon(TTrayImages::Running, -1, true);
}

// Animated lists show their images in turn every 800 ms. Setting the same look again
// leaves the icon alone: notices come by the thousand, and each new icon goes to the tray.
void TFormMain::SetTrayIcon(TTrayImages Images, int Index, bool Animated) {
  const bool Same = FTrayState.Images == Images && FTrayState.Index == Index && FTrayState.Animated == Animated;
  if (Same && FTrayIconSet) return;
  FTrayIconSet = true;
  FTrayState = {Images, Index, Animated};
  const std::vector<QIcon> List = Images == TTrayImages::Normal    ? TrayImagesNormal()
                                  : Images == TTrayImages::Running ? TrayImagesRunning()
                                                                   : TrayImagesError();
  disconnect(FIconCycle, nullptr, this, nullptr);
  FIconFrame = 0;
  RTIconVexa->setIcon(List[static_cast<size_t>(std::max(0, Index))]);
  if (Animated) {
    connect(FIconCycle, &QTimer::timeout, this, [this, List] {
      FIconFrame = (FIconFrame + 1) % static_cast<int>(List.size());
      RTIconVexa->setIcon(List[static_cast<size_t>(FIconFrame)]);
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
  // The choice is stored only once its file is in force: a stored name whose file cannot
  // be read would greet every later start with the wrong texts.
  const std::string Path = LanguageDir() + File;
  if (!std::ifstream(Path)) {
    Item->setChecked(false);
    throw std::runtime_error("Cannot read the language file " + Path);
  }
  LoadLanguageFile(Path);
  LanguageName = File;
  ApplyLanguage();
  try {
    TRegistry Reg;
    if (Reg.OpenKey(SettingsKey, true)) Reg.WriteString("LanguageName", File);
  } catch (const std::exception&) {
  }
  for (QAction* A : Language1->actions()) A->setChecked(A == Item);
}

void TFormMain::ApplyLanguage() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  if (FormViewMail) LoadFormLanguage(FormViewMail, LanguageDir() + LanguageName.get());
  RELog->setFont(font());
  if (FormViewMail) FormViewMail->SetPaneFont(font());
  setWindowTitle(QStringLiteral("Quillon Pro"));
  for (int I = 2; I < TMailListModel::ColumnCount; ++I) FMailModel->SetCaption(I, QString::fromStdString(LangStrings[I - 2]));
  for (int I = 0; I < 4; ++I) {
    FCategories[static_cast<size_t>(I)].Caption = 6 + I;
    SetCategoryText(I);
  }
  UpdateStatusBar();
  RELog->clear();
}

// The layout file lives in the data folder, whose global is made to end with a separator.
std::string TFormMain::PlacementFile() {
  std::string Dir = DataDir.get();
  if (!Dir.empty() && Dir.back() != '/') {
    Dir += '/';
    DataDir = Dir;
  }
  return Dir + "vexa2.ini";
}

void TFormMain::FPMainSavePlacement() {
  // QSettings gives a file it rewrites the mode it finds, and a new one the umask's.
  MakePrivateFile(PlacementFile());
  QSettings Ini(QString::fromStdString(PlacementFile()), QSettings::IniFormat);
  Ini.beginGroup(QStringLiteral("FormMain"));
  const QRect R = normalGeometry().isValid() ? normalGeometry() : geometry();
  Ini.setValue(QStringLiteral("Left"), R.x());
  Ini.setValue(QStringLiteral("Top"), R.y());
  Ini.setValue(QStringLiteral("Width"), R.width());
  Ini.setValue(QStringLiteral("Height"), R.height());
  Ini.setValue(QStringLiteral("Maximized"), isMaximized() ? 1 : 0);
  // Panes that were never laid out (a start to the tray alone) keep what was read.
  const int LogHeight = FPanesLaidOut ? RELog->height() : FRestoreLogHeight;
  const int TreeWidth = FPanesLaidOut ? TVCategory->width() : FRestoreTreeWidth;
  if (LogHeight >= 0) Ini.setValue(QStringLiteral("RELog.Height"), LogHeight);
  if (TreeWidth >= 0) Ini.setValue(QStringLiteral("TVCategory.Width"), TreeWidth);
  for (int I = 1; I < TMailListModel::ColumnCount; ++I)
    Ini.setValue(QStringLiteral("GridMails_Col_%1").arg(I), VTMails->header()->sectionSize(I));
  Ini.setValue(QStringLiteral("SortColumn"), FSortColumn);
  Ini.setValue(QStringLiteral("SortDirection"), FSortDirection);
  Ini.endGroup();
}

void TFormMain::FPMainRestorePlacement() {
  QSettings Ini(QString::fromStdString(PlacementFile()), QSettings::IniFormat);
  Ini.beginGroup(QStringLiteral("FormMain"));
  auto Int = [&Ini](const char* Key, int Default) {
    bool Ok = false;
    const int V = Ini.value(QString::fromLatin1(Key)).toInt(&Ok);
    return Ok ? V : Default;
  };
  if (Ini.contains(QStringLiteral("Width"))) {
    const QRect R(Int("Left", x()), Int("Top", y()), std::max(200, Int("Width", width())), std::max(150, Int("Height", height())));
    setGeometry(R);
    if (Int("Maximized", 0)) setWindowState(windowState() | Qt::WindowMaximized);
  }
  // The panes get their sizes once the window is laid out (showEvent).
  FRestoreLogHeight = Int("RELog.Height", -1);
  FRestoreTreeWidth = Int("TVCategory.Width", -1);
  QHeaderView* Header = VTMails->header();
  for (int I = 1; I < TMailListModel::ColumnCount; ++I)
    Header->resizeSection(I, Int(QStringLiteral("GridMails_Col_%1").arg(I).toLatin1().constData(), Header->sectionSize(I)));
  Header->resizeSection(0, 20);
  FSortColumn = Int("SortColumn", 0);
  if (FSortColumn < 0 || FSortColumn >= TMailListModel::ColumnCount) FSortColumn = 0;
  FSortDirection = Int("SortDirection", 0) ? 1 : 0;
  Ini.endGroup();
  UpdateSortMenu();
  SortList();
}

void TFormMain::ApplyPaneSizes() {
  FPanesLaidOut = true;
  if (FRestoreLogHeight < 0 && FRestoreTreeWidth < 0) return;
  if (layout()) layout()->activate();
  auto Apply = [](QSplitter* Splitter, int Size, bool Second) {
    if (Size < 0) return;
    const QList<int> Sizes = Splitter->sizes();
    const int Total = Sizes.value(0) + Sizes.value(1);
    Size = std::min(Size, Total);
    Splitter->setSizes(Second ? QList<int>{Total - Size, Size} : QList<int>{Size, Total - Size});
  };
  Apply(SplitterLog, FRestoreLogHeight, true);
  Apply(Splitter1, FRestoreTreeWidth, false);
  FRestoreLogHeight = FRestoreTreeWidth = -1;
}
