#pragma once
// The "View Mail Source" dialog: one stored mail as a plain-text preview, its source and its
// delivery log. Created once and reused for every mail.
#include <QDialog>
#include <string>
#include <vector>

#include "ui/viewer/SaveDialog.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class TMailData;

class TFormViewMail : public QDialog {
  Q_OBJECT
public:
  explicit TFormViewMail(QWidget* Owner = nullptr);
  ~TFormViewMail() override;

  // Fills the three tabs from the mail's message and log lines and shows the dialog
  // modally; returns when it is closed.
  void ShowMail(const TMailData& Mail);

  // The text panes take the main window's font (set by the language file).
  void SetPaneFont(const QFont& Font);

  void BitBtn1Click();
  void SelectAll1Click();
  void Copy1Click();
  void SaveToFile1Click();

private:
  void FormCreate();
  void FormDestroy();
  void BuildWindow();
  QPlainTextEdit* NewPane(QWidget* Page, const char* Name);
  QPlainTextEdit* FrontPane() const;

  std::vector<std::string> MailSource;  // the whole message of the mail shown

  QTabWidget* PageControlMain = nullptr;
  QWidget* TabSheetPreview = nullptr;
  QWidget* TabSheetSource = nullptr;
  QWidget* TabSheetLog = nullptr;
  QPlainTextEdit* REPreview = nullptr;
  QPlainTextEdit* REMailSource = nullptr;
  QPlainTextEdit* REMailLog = nullptr;
  QMenu* PMEdit = nullptr;
  QAction* SelectAll1 = nullptr;
  QAction* Copy1 = nullptr;
  QAction* SaveToFile1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  TSaveDialog SaveDialog1;
};

// The program's one mail viewer (none before start-up made it).
extern TFormViewMail* FormViewMail;

// The message text of a mail as the source pane and the preview read it: the lines, each
// ended by CR LF.
std::string MailLinesText(const std::vector<std::string>& Lines);
