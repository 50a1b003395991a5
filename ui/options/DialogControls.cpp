#include "ui/options/DialogControls.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/settings/LangDefs.h"
#include "ui/common/ZQDiag.h"

QString ToQ(const std::string& Text) { return QString::fromStdString(Text); }

std::string FromQ(const QString& Text) { return Text.toStdString(); }

void SetInputEnabled(QWidget* Control, bool Enabled) {
  if (auto* View = qobject_cast<QAbstractItemView*>(Control); View && !Enabled) {
    View->clearSelection();
    View->setCurrentIndex(QModelIndex());
  }
  Control->setEnabled(Enabled);
  const QPalette App = QApplication::palette(Control);
  const QColor Colour = Enabled ? App.color(QPalette::Active, QPalette::Base) : App.color(QPalette::Active, QPalette::Button);
  QPalette P = Control->palette();
  for (auto Group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) P.setColor(Group, QPalette::Base, Colour);
  Control->setPalette(P);
}

void SetLowerCaseMode(QLineEdit* Edit) {
  QObject::connect(Edit, &QLineEdit::textChanged, Edit, [Edit](const QString& Text) {
    const QString Lower = Text.toLower();
    if (Lower == Text) return;
    const int Cursor = Edit->cursorPosition();
    Edit->setText(Lower);
    Edit->setCursorPosition(Cursor);
  });
}

void SetPasswordMode(QLineEdit* Edit) {
  Edit->setEchoMode(QLineEdit::Password);
  Edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
}

QTreeWidget* NewReportView(QWidget* Parent, const char* Name, const QStringList& Columns, const QList<int>& Widths) {
  auto* View = new QTreeWidget(Parent);
  View->setObjectName(QLatin1String(Name));
  View->setRootIsDecorated(false);
  View->setItemsExpandable(false);
  View->setUniformRowHeights(true);
  View->setAllColumnsShowFocus(true);
  View->setSelectionMode(QAbstractItemView::SingleSelection);
  View->setSelectionBehavior(QAbstractItemView::SelectRows);
  View->setEditTriggers(QAbstractItemView::NoEditTriggers);
  View->setColumnCount(static_cast<int>(Columns.size()));
  View->setHeaderLabels(Columns);
  View->header()->setSectionsClickable(false);
  View->header()->setSectionsMovable(false);
  View->header()->setStretchLastSection(true);
  for (int I = 0; I < Widths.size(); ++I) View->setColumnWidth(I, Widths[I]);
  // The selection stays visible while the list has no focus.
  QPalette P = View->palette();
  P.setColor(QPalette::Inactive, QPalette::Highlight, P.color(QPalette::Active, QPalette::Highlight));
  P.setColor(QPalette::Inactive, QPalette::HighlightedText, P.color(QPalette::Active, QPalette::HighlightedText));
  View->setPalette(P);
  return View;
}

QTreeWidgetItem* SelectedRow(QTreeWidget* View) {
  const auto Rows = View->selectedItems();
  return Rows.isEmpty() ? nullptr : Rows.first();
}

std::string RowText(const QTreeWidgetItem* Row, int Column) { return FromQ(Row->text(Column)); }

QLineEdit* NewEdit(QWidget* Form, const char* Name, int MinimumWidth) {
  auto* E = new QLineEdit(Form);
  E->setObjectName(QLatin1String(Name));
  E->setMinimumWidth(MinimumWidth);
  return E;
}

void EndDialogLayout(QDialog* Form, QVBoxLayout* Main, QPushButton*& OK, QPushButton*& Cancel, const char* OKCaption,
                     const char* CancelCaption) {
  OK = NewControl<QPushButton>(Form, "BtnOK", OKCaption);
  OK->setDefault(true);
  Cancel = NewControl<QPushButton>(Form, "BtnCancel", CancelCaption);
  QObject::connect(Cancel, &QPushButton::clicked, Form, &QDialog::reject);
  auto* Row = new QHBoxLayout;
  Row->addStretch();
  Row->addWidget(OK);
  Row->addWidget(Cancel);
  Main->addSpacing(6);
  Main->addLayout(Row);
  Main->setSizeConstraint(QLayout::SetFixedSize);
  Form->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

bool RefuseSeparators(const std::string& Text, const std::string& Separators, int Refusal) {
  if (Text.find_first_of(Separators) == std::string::npos) return false;
  ErrorBox(LangStrings[Refusal]);
  return true;
}

std::string CutToCapacity(const std::string& Text, size_t Capacity) {
  if (Text.size() <= Capacity) return Text;
  size_t N = Capacity;
  // Step back over continuation bytes so that the cut falls between characters.
  while (N > 0 && (static_cast<unsigned char>(Text[N]) & 0xC0) == 0x80) --N;
  return Text.substr(0, N);
}

bool EntryMayBeAccepted(QDialog* Editor, bool Unchanged, const std::function<bool()>& Duplicate) {
  if (Unchanged) {
    Editor->reject();
    return false;
  }
  if (Duplicate && Duplicate()) {
    ErrorBox(LangStrings[56]);
    return false;
  }
  return true;
}
