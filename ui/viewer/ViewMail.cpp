#include "ui/viewer/ViewMail.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <fstream>
#include <stdexcept>

#include "engine/settings/LangDefs.h"
#include "engine/store/MailData.h"
#include "ui/common/ZQDiag.h"
#include "ui/viewer/MailPreview.h"

TFormViewMail* FormViewMail = nullptr;

namespace {
// The source pane shows no more than this; Save To File writes the whole message.
constexpr size_t SourcePaneLimit = 32768;

// Line ends as the panes want them.
QString PaneText(const std::string& Text) {
  QString S = QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
  S.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return S;
}

void CaretToStart(QPlainTextEdit* Pane) {
  Pane->moveCursor(QTextCursor::Start);
  Pane->ensureCursorVisible();
}

void WriteLinesFile(const QString& FileName, const std::vector<std::string>& Lines) {
  std::ofstream Out(FileName.toStdString(), std::ios::binary | std::ios::trunc);
  if (!Out) throw std::runtime_error("Cannot create file \"" + FileName.toStdString() + "\"");
  for (const std::string& L : Lines) Out << L << "\r\n";
  Out.flush();
  if (!Out) throw std::runtime_error("Cannot write file \"" + FileName.toStdString() + "\"");
}

std::vector<std::string> PaneLines(const QPlainTextEdit* Pane) {
  std::vector<std::string> Lines;
  if (Pane->document()->isEmpty()) return Lines;
  for (const QString& L : Pane->toPlainText().split(QLatin1Char('\n'))) Lines.push_back(L.toStdString());
  return Lines;
}
}  // namespace

std::string MailLinesText(const std::vector<std::string>& Lines) {
  std::string Text;
  for (const std::string& L : Lines) Text.append(L).append("\r\n");
  return Text;
}

TFormViewMail::TFormViewMail(QWidget* Owner) : QDialog(Owner) {
  BuildWindow();
  FormCreate();
}

TFormViewMail::~TFormViewMail() { FormDestroy(); }

QPlainTextEdit* TFormViewMail::NewPane(QWidget* Page, const char* Name) {
  auto* Pane = new QPlainTextEdit(Page);
  Pane->setObjectName(QString::fromLatin1(Name));
  Pane->setReadOnly(true);
  Pane->setLineWrapMode(QPlainTextEdit::NoWrap);
  Pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Pane->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Pane, &QWidget::customContextMenuRequested, this,
          [this, Pane](const QPoint& At) { PMEdit->popup(Pane->viewport()->mapToGlobal(At)); });
  auto* L = new QVBoxLayout(Page);
  L->setContentsMargins(4, 4, 4, 4);
  L->addWidget(Pane);
  return Pane;
}

void TFormViewMail::BuildWindow() {
  setObjectName(QStringLiteral("FormViewMail"));
  setWindowTitle(QStringLiteral("View Mail Source"));
  resize(560, 420);

  PageControlMain = new QTabWidget(this);
  PageControlMain->setObjectName(QStringLiteral("PageControlMain"));
  struct TPage {
    const char* Name;
    const char* Caption;
    const char* PaneName;
    QWidget** Page;
    QPlainTextEdit** Pane;
  };
  PMEdit = new QMenu(this);
  PMEdit->setObjectName(QStringLiteral("PMEdit"));
  for (const TPage& P : {TPage{"TabSheetPreview", "Preview", "REPreview", &TabSheetPreview, &REPreview},
                         TPage{"TabSheetSource", "Source", "REMailSource", &TabSheetSource, &REMailSource},
                         TPage{"TabSheetLog", "Log", "REMailLog", &TabSheetLog, &REMailLog}}) {
    *P.Page = new QWidget(PageControlMain);
    (*P.Page)->setObjectName(QString::fromLatin1(P.Name));
    *P.Pane = NewPane(*P.Page, P.PaneName);
    PageControlMain->addTab(*P.Page, QString::fromLatin1(P.Caption));
  }

  auto NewAction = [this](const char* Name, const char* Caption, QKeySequence Key, void (TFormViewMail::*Handler)()) {
    auto* A = new QAction(QString::fromLatin1(Caption), this);
    A->setObjectName(QString::fromLatin1(Name));
    A->setShortcut(Key);
    A->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(A, &QAction::triggered, this, [this, Handler] { RunGuarded([&] { (this->*Handler)(); }); });
    addAction(A);
    return A;
  };
  SelectAll1 = NewAction("SelectAll1", "Select &All", QKeySequence(QStringLiteral("Ctrl+A")), &TFormViewMail::SelectAll1Click);
  Copy1 = NewAction("Copy1", "&Copy", QKeySequence(QStringLiteral("Ctrl+C")), &TFormViewMail::Copy1Click);
  SaveToFile1 = NewAction("SaveToFile1", "&Save To File", QKeySequence(), &TFormViewMail::SaveToFile1Click);
  PMEdit->addAction(SelectAll1);
  PMEdit->addAction(Copy1);
  PMEdit->addSeparator();
  PMEdit->addAction(SaveToFile1);

  BitBtn1 = new QPushButton(QStringLiteral("Close"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { RunGuarded([this] { BitBtn1Click(); }); });

  auto* Buttons = new QHBoxLayout;
  Buttons->addStretch(1);
  Buttons->addWidget(BitBtn1);
  auto* Main = new QVBoxLayout(this);
  Main->setContentsMargins(6, 6, 6, 6);
  Main->addWidget(PageControlMain, 1);
  Main->addLayout(Buttons);
}

void TFormViewMail::FormCreate() {
  MailSource.clear();
  PageControlMain->setCurrentIndex(0);
}

void TFormViewMail::FormDestroy() {
  MailSource.clear();
  if (FormViewMail == this) FormViewMail = nullptr;
}

void TFormViewMail::SetPaneFont(const QFont& Font) {
  for (QPlainTextEdit* P : {REMailSource, REMailLog, REPreview}) P->setFont(Font);
}

void TFormViewMail::ShowMail(const TMailData& Mail) {
  try {
    MailSource = Mail.Data;
    REMailSource->setPlainText(PaneText(CutText(MailLinesText(Mail.Data), SourcePaneLimit)));
  } catch (const std::exception&) {
  }
  try {
    REPreview->clear();
    TMailContent Content;
    if (ParseMailPreview(MailLinesText(Mail.Data), Content)) {
      const std::string Lines[] = {LangStrings[0] + ": " + Content.From, LangStrings[1] + ": " + Content.To,
                                   LangStrings[2] + ": " + Content.Subject, std::string(), Content.Body};
      for (const std::string& L : Lines) {
        try {
          REPreview->appendPlainText(PaneText(L));
        } catch (const std::exception&) {
        }
      }
      CaretToStart(REPreview);
    }
    CaretToStart(REMailSource);
    REMailLog->clear();
    for (const std::string& L : Mail.Log) REMailLog->appendPlainText(PaneText(L));
    CaretToStart(REMailLog);
    exec();
  } catch (const std::exception&) {
    ErrorBoxCaption("Load mail source data error.", "Error");
    close();
  }
}

void TFormViewMail::BitBtn1Click() { close(); }

QPlainTextEdit* TFormViewMail::FrontPane() const {
  switch (PageControlMain->currentIndex()) {
    case 0:
      return REPreview;
    case 1:
      return REMailSource;
    case 2:
      return REMailLog;
    default:
      return nullptr;
  }
}

void TFormViewMail::SelectAll1Click() {
  if (QPlainTextEdit* P = FrontPane()) P->selectAll();
}

void TFormViewMail::Copy1Click() {
  if (QPlainTextEdit* P = FrontPane()) P->copy();
}

void TFormViewMail::SaveToFile1Click() {
  const int Tab = PageControlMain->currentIndex();
  if (Tab < 0 || Tab > 2) return;
  static const int Titles[3] = {72, 73, 74};
  static const int Filters[3] = {75, 76, 77};
  static const char* const Exts[3] = {"txt", "eml", "log"};
  SaveDialog1.FileName.clear();
  SaveDialog1.Title = QString::fromStdString(LangStrings[Titles[Tab]]);
  SaveDialog1.Filter = QString::fromStdString(LangStrings[Filters[Tab]]);
  SaveDialog1.DefaultExt = QString::fromLatin1(Exts[Tab]);
  if (!SaveDialog1.Execute(this)) return;
  if (Tab == 0)
    WriteLinesFile(SaveDialog1.FileName, PaneLines(REPreview));
  else if (Tab == 1)
    WriteLinesFile(SaveDialog1.FileName, MailSource);
  else
    WriteLinesFile(SaveDialog1.FileName, PaneLines(REMailLog));
}
