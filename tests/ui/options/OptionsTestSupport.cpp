#include "OptionsTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {
bool Failed = false;

// Fixed-size dialogs make the offscreen platform say on every window that it cannot pass
// size hints on; nothing else is dropped.
QtMessageHandler PreviousHandler = nullptr;
void DropSizeHintNotes(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
  if (Text.contains(QLatin1String("does not support propagateSizeHints"))) return;
  if (PreviousHandler) PreviousHandler(Type, Context, Text);
}

void CloseModalDialogs() {
  while (QWidget* W = QApplication::activeModalWidget()) {
    if (auto* D = qobject_cast<QDialog*>(W))
      D->reject();
    else
      W->close();
    if (QApplication::activeModalWidget() == W) break;
  }
}
}  // namespace

void FailModalStep(QWidget* W) {
  qWarning("unexpected modal window %s", W ? qPrintable(W->objectName()) : "(none)");
  Failed = true;
  CloseModalDialogs();
}

void QuietSizeHintNotes() {
  if (!PreviousHandler) PreviousHandler = qInstallMessageHandler(DropSizeHintNotes);
}

bool ModalStepsFailed() { return Failed; }

void ResetModalSteps() { Failed = false; }

void OnNextModal(std::function<void(QWidget*)> Step) {
  QPointer<QWidget> Before = QApplication::activeModalWidget();
  auto* Timer = new QTimer(qApp);
  auto* Clock = new QElapsedTimer;
  Clock->start();
  Timer->setInterval(0);
  QObject::connect(Timer, &QTimer::timeout, Timer, [Timer, Clock, Before, Step] {
    QWidget* W = QApplication::activeModalWidget();
    if (W && W != Before && W->isVisible()) {
      Timer->stop();
      Timer->deleteLater();
      delete Clock;
      Step(W);
      return;
    }
    if (Clock->elapsed() > 10000) {
      Timer->stop();
      Timer->deleteLater();
      delete Clock;
      FailModalStep(nullptr);
    }
  });
  Timer->start();
}

void Type(QLineEdit* Edit, const QString& Text) {
  Edit->selectAll();
  QTest::keyClick(Edit, Qt::Key_Backspace);
  if (!Text.isEmpty()) QTest::keyClicks(Edit, Text);
}

void Click(QAbstractButton* Button) {
  QPoint At = Button->rect().center();
  if (qobject_cast<QCheckBox*>(Button) || qobject_cast<QRadioButton*>(Button)) At = QPoint(6, Button->height() / 2);
  QTest::mouseClick(Button, Qt::LeftButton, Qt::NoModifier, At);
}

void SelectRow(QTreeWidget* View, int Row) {
  const QRect R = View->visualItemRect(View->topLevelItem(Row));
  QTest::mouseClick(View->viewport(), Qt::LeftButton, Qt::NoModifier, R.center());
}

QStringList Column(QTreeWidget* View, int Col) {
  QStringList L;
  for (int I = 0; I < View->topLevelItemCount(); ++I) L << View->topLevelItem(I)->text(Col);
  return L;
}

static QColor BaseColour(QWidget* W) { return W->palette().color(QPalette::Disabled, QPalette::Base); }

bool IsSwitchedOff(QWidget* Input) {
  return !Input->isEnabled() && BaseColour(Input) == QApplication::palette(Input).color(QPalette::Active, QPalette::Button);
}

bool IsSwitchedOn(QWidget* Input) {
  return Input->isEnabled() &&
         Input->palette().color(QPalette::Active, QPalette::Base) ==
             QApplication::palette(Input).color(QPalette::Active, QPalette::Base);
}

void SaveScreenshot(QWidget* Window, const QString& Name, const QString& Folder) {
  const QString Dir = qEnvironmentVariable("QUILLON_TEST_BIN", QStringLiteral(".")) + QStringLiteral("/../screenshots/") + Folder;
  QDir().mkpath(Dir);
  QVERIFY(Window->grab().save(QDir::cleanPath(Dir + QLatin1Char('/') + Name + QStringLiteral(".png"))));
}
