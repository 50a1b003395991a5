#include "ui/common/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace {
class TSystemFileDialogs : public TFileDialogs {
public:
  bool Open(QWidget* Parent, TOpenDialog& Dialog) override {
    QFileDialog D(Parent);
    D.setAcceptMode(QFileDialog::AcceptOpen);
    D.setFileMode(Dialog.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    D.setNameFilter(QtFileFilter(Dialog.Filter));
    D.setDefaultSuffix(Dialog.DefaultExt);
    if (!Dialog.InitialDir.isEmpty()) D.setDirectory(Dialog.InitialDir);
    if (!Dialog.FileName.isEmpty()) {
      const QFileInfo Preset(Dialog.FileName);
      D.setDirectory(Preset.absolutePath());
      D.selectFile(Preset.fileName());
    }
    if (D.exec() != QDialog::Accepted || D.selectedFiles().isEmpty()) return false;
    Dialog.FileName = QFileInfo(D.selectedFiles().first()).absoluteFilePath();
    return true;
  }
};

TFileDialogs* Replacement = nullptr;
}  // namespace

bool TOpenDialog::Execute(QWidget* Parent) { return FileDialogs().Open(Parent, *this); }

TFileDialogs& FileDialogs() {
  static TSystemFileDialogs System;
  return Replacement ? *Replacement : System;
}

void SetFileDialogs(TFileDialogs* Dialogs) { Replacement = Dialogs; }

QString QtFileFilter(const std::string& Filter) {
  const QStringList Parts = QString::fromStdString(Filter).split(QLatin1Char('|'));
  QStringList Entries;
  for (qsizetype I = 0; I + 1 < Parts.size(); I += 2) {
    QString Description = Parts[I].trimmed();
    const QString Stored = Parts[I + 1].trimmed();
    const QString Patterns = Stored.split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
    // Qt reads the patterns from the parentheses at the end of an entry, blank-separated:
    // a description that shows them already is given them once, in Qt's form.
    for (const QString& Shown : {Stored, Patterns}) {
      const QString Tail = QLatin1Char('(') + Shown + QLatin1Char(')');
      if (Description.endsWith(Tail)) {
        Description = Description.chopped(Tail.size()).trimmed();
        break;
      }
    }
    Entries << (Description.isEmpty() ? QString() : Description + QLatin1Char(' ')) + QLatin1Char('(') + Patterns +
                   QLatin1Char(')');
  }
  return Entries.join(QStringLiteral(";;"));
}
