// The main window's composition: commands, menus, tool bar, client area, status bar, tray.
#include <QAction>
#include <QActionGroup>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>

#include "ui/common/AppImages.h"
#include "ui/common/ZQDiag.h"
#include "ui/main/FormMain.h"

namespace {
// Opens Menu where the view is right-clicked (or the menu key pressed).
void AttachPopupMenu(QAbstractScrollArea* View, QMenu* Menu) {
  View->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(View, &QWidget::customContextMenuRequested, Menu,
                   [View, Menu](const QPoint& At) { Menu->popup(View->viewport()->mapToGlobal(At)); });
}
}  // namespace

QAction* TFormMain::NewAction(const char* Name, const char* Caption, void (TFormMain::*Handler)(), bool Enabled) {
  auto* A = new QAction(QString::fromUtf8(Caption), this);
  A->setObjectName(QString::fromLatin1(Name));
  A->setEnabled(Enabled);
  connect(A, &QAction::triggered, this, [this, Handler] { RunGuarded([&] { (this->*Handler)(); }); });
  return A;
}

QMenu* TFormMain::NewMenu(QWidget* Parent, const char* Name, const char* Caption) {
  auto* M = new QMenu(QString::fromUtf8(Caption), Parent);
  M->setObjectName(QString::fromLatin1(Name));
  return M;
}

void TFormMain::BuildWindow() {
  setObjectName(QStringLiteral("FormMain"));
  setWindowIcon(EnvelopeIcon(TMarkColour::None));
  BuildActions();
  BuildMenus();
  BuildToolBar();
  BuildClientArea();
  BuildStatusBar();
  BuildTray();
  TimerRefresh = new QTimer(this);
  TimerRefresh->setObjectName(QStringLiteral("TimerRefresh"));
  TimerRefresh->setInterval(1000);
  connect(TimerRefresh, &QTimer::timeout, this, [this] { RunGuarded([this] { TimerRefreshTimer(); }); });
  resize(600, 350);
}

// Tool buttons: the caption is the hint's short part, shown as the tool tip.
void TFormMain::BuildActions() {
  struct TTool {
    const char* Name;
    const char* Hint;
    const char* Theme;
    const char* Own;
    void (TFormMain::*Handler)();
    bool Enabled;
    QAction** Field;
  };
  const TTool Tools[] = {
      {"SIStartServer", "Start Server|", "media-playback-start", "tool-start", &TFormMain::SIStartServerClick, true, &SIStartServer},
      {"SIStopServer", "Stop Server|", "media-playback-stop", "tool-stop", &TFormMain::SIStopServerClick, false, &SIStopServer},
      {"SIPause", "Pause Delivery|", "media-playback-pause", "tool-pause", &TFormMain::SIPauseClick, true, &SIPause},
      {"SIDelMsg", "Delete Message", "edit-delete", "tool-delete", &TFormMain::SIDelMsgClick, true, nullptr},
      {"SIClearAll", "Clear All Messages", "edit-clear", "tool-clear", &TFormMain::SIClearAllClick, true, nullptr},
      {"SIResend", "Resend Message|", "mail-send", "tool-resend", &TFormMain::SIResendClick, true, nullptr},
      {"SIViewMail", "View Message Source|", "document-open", "tool-view", &TFormMain::SIViewMailClick, true, nullptr},
      {"SIOptions", "Options|", "preferences-system", "tool-options", &TFormMain::SIOptionsClick, true, nullptr},
      {"SIVewLog", "View Log|", "text-x-generic", "tool-log", &TFormMain::SIVewLogClick, true, &SIVewLog},
      {"SIExit", "Exit|", "application-exit", "tool-exit", &TFormMain::SIExitClick, true, nullptr},
  };
  for (const TTool& T : Tools) {
    const QString Hint = QString::fromLatin1(T.Hint);
    const QString Short = Hint.section(QLatin1Char('|'), 0, 0);
    QAction* A = NewAction(T.Name, "", T.Handler, T.Enabled);
    A->setText(Short);
    A->setToolTip(Short);
    A->setIcon(ThemeIcon(T.Theme, T.Own));
    A->setIconVisibleInMenu(false);
    if (T.Field) *T.Field = A;
  }
  SIPause->setCheckable(true);
  SIPause->setChecked(true);
  SIVewLog->setCheckable(true);
}

void TFormMain::BuildMenus() {
  QMenuBar* Bar = menuBar();
  Bar->setObjectName(QStringLiteral("MainMenu"));
  auto Add = [this](QMenu* M, const char* Name, const char* Caption, void (TFormMain::*Handler)(), bool Enabled = true) {
    QAction* A = NewAction(Name, Caption, Handler, Enabled);
    M->addAction(A);
    return A;
  };

  QMenu* Server = NewMenu(Bar, "Server1", "&Server");
  MIStart = Add(Server, "MIStart", "St&art", &TFormMain::SIStartServerClick);
  MIStop = Add(Server, "MIStop", "St&op", &TFormMain::SIStopServerClick, false);
  MIPause = Add(Server, "MIPause", "&Pause Delivery", &TFormMain::SIPauseClick);
  Server->addSeparator();
  Add(Server, "Exit1", "E&xit", &TFormMain::SIExitClick);

  QMenu* Messages = NewMenu(Bar, "Messages1", "&Messages");
  Add(Messages, "Delete1", "&Delete", &TFormMain::SIDelMsgClick);
  Add(Messages, "Clear1", "Clear &All", &TFormMain::SIClearAllClick);
  Add(Messages, "Retry1", "&Resend", &TFormMain::SIResendClick);
  Messages->addSeparator();
  Add(Messages, "ViewSource1", "&View Source", &TFormMain::SIViewMailClick, true);

  QMenu* View = NewMenu(Bar, "View1", "&View");
  QMenu* SortBy = NewMenu(View, "SortBy1", "Sort By");
  struct TSort {
    const char* Name;
    const char* Caption;
    int Column;
  };
  for (const TSort& S : {TSort{"MISort1", "Sender", 2}, TSort{"MISort2", "Recipients", 3}, TSort{"MISort3", "Subject", 4},
                         TSort{"MISort5", "Received Date", 6}, TSort{"MISort6", "Sent Date", 7},
                         TSort{"MISort4", "Size", 5}, TSort{"MISort0", "Queue", 0}}) {
    auto* A = new QAction(QString::fromLatin1(S.Caption), this);
    A->setObjectName(QString::fromLatin1(S.Name));
    A->setData(S.Column);
    A->setCheckable(true);
    connect(A, &QAction::triggered, this, [this, A] { RunGuarded([&] { OnSortMenu(A); }); });
    SortBy->addAction(A);
  }
  SortBy->addSeparator();
  SortOrder1 = Add(SortBy, "SortOrder1", "Sort Ascending", &TFormMain::SortOrder1Click);
  SortOrder2 = Add(SortBy, "SortOrder2", "Sort Descending", &TFormMain::SortOrder2Click);
  auto* Direction = new QActionGroup(SortBy);
  for (QAction* A : {SortOrder1, SortOrder2}) {
    A->setCheckable(true);
    Direction->addAction(A);
  }
  View->addMenu(SortBy);
  MIViewlogs = Add(View, "MIViewlogs", "View &Log", &TFormMain::SIVewLogClick);
  MIViewlogs->setCheckable(true);

  QMenu* Tools = NewMenu(Bar, "Tools1", "&Tools");
  Add(Tools, "MIOptions", "&Options", &TFormMain::SIOptionsClick);
  Tools->addSeparator();
  Add(Tools, "ConfigureWizard1", "Configuration Wizard", &TFormMain::ConfigureWizard1Click);

  Language1 = NewMenu(Bar, "Language1", "Language");

  QMenu* Help = NewMenu(Bar, "Help1", "&Help");
  Add(Help, "HelpTopics1", "Help Topics", &TFormMain::HelpTopics1Click);
  Add(Help, "MIHomepage", "&Homepage", &TFormMain::MIHomepageClick);
  Help->addSeparator();
  Add(Help, "MICheckVersion", "Check Latest Version ...", &TFormMain::MICheckVersionClick);
  Help->addSeparator();
  Add(Help, "MIAboutQuillon", "&About Quillon", &TFormMain::MIAboutQuillonClick);

  for (QMenu* M : {Server, Messages, View, Tools, Language1, Help}) Bar->addMenu(M);
}

void TFormMain::BuildToolBar() {
  auto* Bar = new QToolBar(this);
  Bar->setObjectName(QStringLiteral("CBToolbar"));
  Bar->setMovable(false);
  Bar->setIconSize(QSize(32, 32));
  Bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ToolBar1 = Bar;
  for (const char* Name : {"SIStartServer", "SIStopServer", "SIPause", "|", "SIDelMsg", "SIClearAll", "SIResend",
                           "SIViewMail", "|", "SIOptions", "SIVewLog", "|", "SIExit"}) {
    if (Name[0] == '|')
      Bar->addSeparator();
    else
      Bar->addAction(findChild<QAction*>(QString::fromLatin1(Name), Qt::FindDirectChildrenOnly));
  }
  addToolBar(Qt::TopToolBarArea, Bar);
}

void TFormMain::BuildClientArea() {
  SplitterLog = new QSplitter(Qt::Vertical, this);
  SplitterLog->setObjectName(QStringLiteral("SplitterLog"));
  SplitterLog->setHandleWidth(3);
  SplitterLog->setChildrenCollapsible(false);
  Splitter1 = new QSplitter(Qt::Horizontal, SplitterLog);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(3);

  TVCategory = new QTreeWidget(Splitter1);
  TVCategory->setObjectName(QStringLiteral("TVCategory"));
  TVCategory->setHeaderHidden(true);
  TVCategory->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TVCategory->setSelectionMode(QAbstractItemView::SingleSelection);
  TVCategory->setIconSize(QSize(16, 16));
  connect(TVCategory, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* Node) { RunGuarded([&] { TVCategoryChange(Node); }); });

  VTMails = new QTreeView(Splitter1);
  VTMails->setObjectName(QStringLiteral("VTMails"));
  VTMails->setRootIsDecorated(false);
  VTMails->setIndentation(0);
  VTMails->setSelectionBehavior(QAbstractItemView::SelectRows);
  VTMails->setSelectionMode(QAbstractItemView::ExtendedSelection);
  VTMails->setEditTriggers(QAbstractItemView::NoEditTriggers);
  VTMails->setUniformRowHeights(true);  // row heights are never asked row by row: large lists stay quick
  VTMails->setAllColumnsShowFocus(true);
  VTMails->setIconSize(QSize(16, 16));
  FMailModel = new TMailListModel(VTMails);
  FMailModel->SetStateImages(StateImages());
  VTMails->setModel(FMailModel);
  QHeaderView* Header = VTMails->header();
  Header->setMinimumSectionSize(20);
  Header->setStretchLastSection(false);
  Header->setSectionsMovable(true);
  Header->setSectionsClickable(true);
  Header->setHighlightSections(true);
  const int Widths[8] = {20, 40, 120, 120, 150, 100, 100, 100};
  for (int I = 0; I < 8; ++I) Header->resizeSection(I, Widths[I]);
  Header->setSectionResizeMode(0, QHeaderView::Fixed);
  Header->setFirstSectionMovable(false);
  Header->setSortIndicatorShown(true);
  Header->setSortIndicator(-1, Qt::AscendingOrder);
  connect(Header, &QHeaderView::sectionClicked, this, [this](int Column) { RunGuarded([&] { VTMailsHeaderClick(Column); }); });
  // The header's own minimum is one for all; the wider columns keep theirs here.
  connect(Header, &QHeaderView::sectionResized, this, [Header](int Column, int, int Size) {
    static const int Minimum[8] = {20, 32, 120, 120, 100, 80, 100, 100};
    if (Column > 0 && Column < 8 && Size < Minimum[Column]) Header->resizeSection(Column, Minimum[Column]);
  });
  connect(VTMails, &QTreeView::doubleClicked, this, [this] { RunGuarded([this] { SIViewMailClick(); }); });

  PMMailGrid = NewMenu(VTMails, "PMMailGrid", "");
  PMMailGrid->addAction(NewAction("DeleteMessage1", "Delete Message", &TFormMain::SIDelMsgClick));
  PMMailGrid->addAction(NewAction("ClearAllMessages1", "Clear All Messages", &TFormMain::SIClearAllClick));
  PMMailGrid->addAction(NewAction("N8", "Resend Message", &TFormMain::SIResendClick));
  PMMailGrid->addAction(NewAction("ViewMailSource1", "View Mail Source", &TFormMain::SIViewMailClick, true));
  AttachPopupMenu(VTMails, PMMailGrid);

  Splitter1->addWidget(TVCategory);
  Splitter1->addWidget(VTMails);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({153, 447});

  RELog = new QTextEdit(SplitterLog);
  RELog->setObjectName(QStringLiteral("RELog"));
  RELog->setReadOnly(true);
  RELog->setLineWrapMode(QTextEdit::NoWrap);
  RELog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RELog->setMinimumHeight(22);
  PMLog = NewMenu(RELog, "PMLog", "");
  PMLog->addAction(NewAction("PMIHideLog", "Hide Log", &TFormMain::PMIHideLogClick));
  PMLog->addSeparator();
  PMLog->addAction(NewAction("PMIClearLog", "Clear", &TFormMain::PMIClearLogClick));
  AttachPopupMenu(RELog, PMLog);

  SplitterLog->addWidget(Splitter1);
  SplitterLog->addWidget(RELog);
  SplitterLog->setStretchFactor(0, 1);
  SplitterLog->setSizes({180, 80});
  setCentralWidget(SplitterLog);
}

void TFormMain::BuildStatusBar() {
  QStatusBar* Bar = statusBar();
  Bar->setObjectName(QStringLiteral("StatusBarMain"));
  const int Widths[4] = {100, 100, 100, 50};
  for (int I = 0; I < 4; ++I) {
    FStatusPanels[I] = new QLabel(Bar);
    FStatusPanels[I]->setFixedWidth(Widths[I]);
    Bar->addWidget(FStatusPanels[I]);
  }
}

void TFormMain::BuildTray() {
  PMTrayIcon = NewMenu(this, "PMTrayIcon", "");
  ShowMainWindow1 = NewAction("ShowMainWindow1", "&Show Main Window  ", &TFormMain::ShowMainWindow1Click);
  PMIStartServer = NewAction("PMIStartServer", "St&art Server", &TFormMain::SIStartServerClick);
  PMIStopServer = NewAction("PMIStopServer", "St&op Server", &TFormMain::SIStopServerClick, false);
  PMIPause = NewAction("PMIPause", "&Pause Delivery", &TFormMain::SIPauseClick);
  QAction* Options = NewAction("PMIOptions", "Op&tions", &TFormMain::SIOptionsClick);
  PMIViewLog = NewAction("PMIViewLog", "View &Log", &TFormMain::SIVewLogClick);
  QAction* About = NewAction("AboutQuillon2", "&About Quillon", &TFormMain::MIAboutQuillonClick);
  QAction* Exit = NewAction("Exit2", "E&xit", &TFormMain::SIExitClick);
  for (QAction* A : {MIPause, PMIPause, PMIViewLog}) A->setCheckable(true);
  PMTrayIcon->addAction(ShowMainWindow1);
  PMTrayIcon->setDefaultAction(ShowMainWindow1);
  PMTrayIcon->addSeparator();
  PMTrayIcon->addActions({PMIStartServer, PMIStopServer, PMIPause});
  PMTrayIcon->addSeparator();
  PMTrayIcon->addActions({Options, PMIViewLog});
  PMTrayIcon->addSeparator();
  PMTrayIcon->addAction(About);
  PMTrayIcon->addSeparator();
  PMTrayIcon->addAction(Exit);

  RTIconVexa = new QSystemTrayIcon(TrayImagesNormal()[0], this);
  RTIconVexa->setObjectName(QStringLiteral("RTIconVexa"));
  RTIconVexa->setContextMenu(PMTrayIcon);
  connect(RTIconVexa, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Why) {
    // Trays of the StatusNotifierItem kind report a click as a single activation only.
    if (Why == QSystemTrayIcon::Trigger || Why == QSystemTrayIcon::DoubleClick)
      RunGuarded([this] { ShowMainWindow1Click(); });
  });
  FIconCycle = new QTimer(this);
  FIconCycle->setInterval(800);
}
