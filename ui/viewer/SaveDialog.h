#pragma once
// A save dialog as a component: title, filter and default extension set before Execute,
// the chosen file name after it. The file dialog asks before it overwrites a file. Tests put
// in their own answer so that no dialog waits for a person.
#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

class TSaveDialog {
public:
  QString Title;
  // "Description|*.ext|Description|*.ext", as the message texts give it.
  QString Filter;
  QString DefaultExt;  // without its dot
  QString FileName;

  // True when the user chose a file; FileName then holds it.
  bool Execute(QWidget* Parent);
};

// Qt's name filters for a filter text of description and pattern pairs.
QStringList SaveDialogNameFilters(const QString& Filter);
// The file dialog that Execute shows (tests look at its set-up).
QFileDialog* NewSaveFileDialog(QWidget* Parent, const TSaveDialog& Dialog);

class TSaveDialogs {
public:
  virtual ~TSaveDialogs() = default;
  // Runs the dialog; true with Dialog.FileName set when a file was chosen.
  virtual bool Execute(QWidget* Parent, TSaveDialog& Dialog) = 0;
};

TSaveDialogs& SaveDialogs();
// Replaces the dialogs (nullptr: the real ones again). The caller keeps ownership.
void SetSaveDialogs(TSaveDialogs* Dialogs);
