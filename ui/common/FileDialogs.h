#pragma once
// The open-file dialog of the program's windows, set up from fields as the windows keep
// them: a filter in the form "Description|pattern[;pattern]|Description|pattern...", a
// default extension, an initial folder and a preset file name. Tests put in a stand-in
// that records the request and answers with a file of their choice.
#include <QString>
#include <string>

class QWidget;

struct TOpenDialog {
  std::string Filter;
  QString DefaultExt;  // without the dot
  QString InitialDir;
  QString FileName;  // in: the preset name (may be empty); out: the chosen file
  bool FileMustExist = true;
  // Runs the dialog modally; true when the user chose a file (then in FileName).
  bool Execute(QWidget* Parent);
};

class TFileDialogs {
public:
  virtual ~TFileDialogs() = default;
  // Shows Dialog; on a choice puts the full path into Dialog.FileName and answers true.
  virtual bool Open(QWidget* Parent, TOpenDialog& Dialog) = 0;
};

TFileDialogs& FileDialogs();
// Replaces the dialogs (nullptr: the real ones again). The caller keeps ownership.
void SetFileDialogs(TFileDialogs* Dialogs);

// The filter in Qt's form: "Description (patterns)" entries joined by ";;". A description
// that already ends with its patterns in parentheses shows them once.
QString QtFileFilter(const std::string& Filter);
