#pragma once
// Small pieces the option dialogs share: switching input controls on and off, edits that
// show lower case, report-style list views, and the check that keeps list separators out
// of list entries.
#include <QString>
#include <string>

class QDialog;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// An input control (edit, spin field, drop-down, list view) switched off is disabled and
// painted with the button-face colour, switched on enabled with the window colour; a list
// view that is switched off first loses its selection.
void SetInputEnabled(QWidget* Control, bool Enabled);

// Letters typed into or set in the edit show in lower case.
void SetLowerCaseMode(QLineEdit* Edit);

// A report-style list view: columns with the given widths, whole-row selection, no tree
// decoration, column headers that do not react to clicks, no in-place editing.
QTreeWidget* NewReportView(QWidget* Parent, const char* Name, const QStringList& Columns, const QList<int>& Widths);
// The selected row of a single-selection list view, or nullptr.
QTreeWidgetItem* SelectedRow(QTreeWidget* View);
// Column Column of Row as a byte string.
std::string RowText(const QTreeWidgetItem* Row, int Column);

// A dialog border: fixed size taken from the layout.
void SetDialogBorder(QDialog* Form);

// Stored lists join entries by ";" and fields by ":" without escaping, so a field that
// holds one of Separators would split its entry. Returns the refusal text naming the field,
// or an empty string when Text is free of them.
std::string SeparatorRefusal(const std::string& FieldName, const std::string& Text, const std::string& Separators);

// Text cut to at most Capacity bytes without splitting a UTF-8 character.
std::string CutToCapacity(const std::string& Text, size_t Capacity);

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
