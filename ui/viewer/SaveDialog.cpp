#include "ui/viewer/SaveDialog.h"

#include <QFileDialog>
#include <memory>

namespace {
class TFileDialogs : public TSaveDialogs {
public:
  bool Execute(QWidget* Parent, TSaveDialog& Dialog) override {
    std::unique_ptr<QFileDialog> D(NewSaveFileDialog(Parent, Dialog));
    if (D->exec() != QDialog::Accepted || D->selectedFiles().isEmpty()) return false;
    Dialog.FileName = D->selectedFiles().first();
    return true;
  }
};

TSaveDialogs* Replacement = nullptr;
}  // namespace

QStringList SaveDialogNameFilters(const QString& Filter) {
  const QStringList Parts = Filter.split(QLatin1Char('|'));
  QStringList Filters;
  for (int I = 0; I + 1 < Parts.size(); I += 2) {
    const QString Pattern = Parts[I + 1].trimmed();
    QString Name = Parts[I].trimmed();
    // Qt reads the patterns from the parentheses of the description.
    if (!Name.contains(QLatin1Char('(') + Pattern + QLatin1Char(')')))
      Name += QStringLiteral(" (") + QString(Pattern).replace(QLatin1Char(';'), QLatin1Char(' ')) + QLatin1Char(')');
    Filters << Name;
  }
  return Filters;
}

QFileDialog* NewSaveFileDialog(QWidget* Parent, const TSaveDialog& Dialog) {
  auto* D = new QFileDialog(Parent, Dialog.Title);
  D->setAcceptMode(QFileDialog::AcceptSave);
  D->setFileMode(QFileDialog::AnyFile);
  D->setOption(QFileDialog::DontConfirmOverwrite, false);
  D->setNameFilters(SaveDialogNameFilters(Dialog.Filter));
  D->setDefaultSuffix(Dialog.DefaultExt);
  if (!Dialog.FileName.isEmpty()) D->selectFile(Dialog.FileName);
  return D;
}

bool TSaveDialog::Execute(QWidget* Parent) { return SaveDialogs().Execute(Parent, *this); }

TSaveDialogs& SaveDialogs() {
  static TFileDialogs Files;
  return Replacement ? *Replacement : Files;
}

void SetSaveDialogs(TSaveDialogs* Dialogs) { Replacement = Dialogs; }
