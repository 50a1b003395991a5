#pragma once
// Small pieces the option dialogs share: switching input controls on and off, edits that
// show lower case, report-style list views, and the check that keeps list separators out
// of list entries.
#include <QString>
#include <functional>
#include <string>

class QDialog;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// An input control (edit, spin field, drop-down, list view) switched off is disabled and
// painted with the button-face colour, switched on enabled with the window colour; a list
// view that is switched off first loses its selection.
void SetInputEnabled(QWidget* Control, bool Enabled);

// Letters typed into or set in the edit show in lower case.
void SetLowerCaseMode(QLineEdit* Edit);

// The edit shows each character of its text as "*", whatever the platform's style masks
// with, the same in every password field of the program.
void SetPasswordMode(QLineEdit* Edit);

// A report-style list view: columns with the given widths, whole-row selection, no tree
// decoration, column headers that do not react to clicks, no in-place editing.
QTreeWidget* NewReportView(QWidget* Parent, const char* Name, const QStringList& Columns, const QList<int>& Widths);
// The selected row of a single-selection list view, or nullptr.
QTreeWidgetItem* SelectedRow(QTreeWidget* View);
// Column Column of Row as a byte string.
std::string RowText(const QTreeWidgetItem* Row, int Column);

// A control of Form with its component name and its caption (labels, buttons, check
// boxes, radio buttons).
template <class TControl>
TControl* NewControl(QWidget* Form, const char* Name, const char* Caption) {
  auto* C = new TControl(QString::fromUtf8(Caption), Form);
  C->setObjectName(QLatin1String(Name));
  return C;
}
QLineEdit* NewEdit(QWidget* Form, const char* Name, int MinimumWidth);

// Ends the layout of a dialog: the OK button (default) and the Cancel button (closes with
// the cancel result) right-aligned below the rest, last in the tab order, and a dialog
// border (fixed size taken from the layout).
void EndDialogLayout(QDialog* Form, QVBoxLayout* Main, QPushButton*& OK, QPushButton*& Cancel,
                     const char* OKCaption = "&OK", const char* CancelCaption = "&Cancel");

// Stored lists join entries by ";" and fields by ":" without escaping, so a field that
// holds one of Separators would split its entry. When Text holds one, shows the refusal
// (LangStrings entry Refusal, which names the field) and answers true.
bool RefuseSeparators(const std::string& Text, const std::string& Separators, int Refusal);

// Text cut to at most Capacity bytes without splitting a UTF-8 character.
std::string CutToCapacity(const std::string& Text, size_t Capacity);

// The last checks of an entry editor's OK: an unchanged entry closes Editor with the cancel
// result; an entry the list holds already (Duplicate, asked only for a changed entry) is
// refused with the duplicate message and the editor stays open. True when Editor may close
// with OK.
bool EntryMayBeAccepted(QDialog* Editor, bool Unchanged, const std::function<bool()>& Duplicate);

// Holds a form in its global form variable while a scope runs, the old value afterwards.
template <class TForm>
class TFormVariable {
public:
  TFormVariable(TForm*& Variable, TForm* Form) : FVariable(Variable), FOld(Variable) { Variable = Form; }
  ~TFormVariable() { FVariable = FOld; }
  TFormVariable(const TFormVariable&) = delete;
  TFormVariable& operator=(const TFormVariable&) = delete;

private:
  TForm*& FVariable;
  TForm* FOld;
};

QString ToQ(const std::string& Text);
std::string FromQ(const QString& Text);
