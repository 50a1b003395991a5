#pragma once
// Driving the options dialog through its pages, answering the modal dialogs it opens, and
// stand-ins for the sounds and the open-file dialog.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OptionsTestSupport.h"
#include "UiTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "support/TestEnv.h"
#include "ui/common/EventSounds.h"
#include "ui/common/FileDialogs.h"
#include "ui/options/FormOptions.h"

// Records every request and answers with Answer (empty: the user cancels).
class TAnsweringFileDialogs : public TFileDialogs {
public:
  TAnsweringFileDialogs() { SetFileDialogs(this); }
  ~TAnsweringFileDialogs() override { SetFileDialogs(nullptr); }
  bool Open(QWidget*, TOpenDialog& Dialog) override {
    Requests.push_back(Dialog);
    if (Answer.isEmpty()) return false;
    Dialog.FileName = Answer;
    return true;
  }
  std::vector<TOpenDialog> Requests;
  QString Answer;
};

template <class T>
T* Control(QWidget* Form, const char* Name) {
  T* C = Form->findChild<T*>(QString::fromLatin1(Name));
  if (!C) qFatal("no control %s", Name);
  return C;
}

// Brings the tab page that holds W to the front, so that W has its place on the screen.
inline void ShowPage(QWidget* W) {
  for (QWidget* P = W; P && P->parentWidget(); P = P->parentWidget())
    if (auto* Stack = qobject_cast<QStackedWidget*>(P->parentWidget()))
      if (auto* Tabs = qobject_cast<QTabWidget*>(Stack->parentWidget())) {
        Tabs->setCurrentWidget(P);
        if (P->layout()) P->layout()->activate();
      }
}

// The options dialog's controls sit on tab pages: these steps bring the page to the front
// first, so that the control has its place on the screen.
inline void Press(QAbstractButton* B) {
  ShowPage(B);
  Click(B);
}

inline void SetChecked(QAbstractButton* B, bool On) {
  if (B->isChecked() != On) Press(B);
}

inline void Enter(QLineEdit* E, const QString& Text) {
  ShowPage(E);
  E->setFocus();
  Type(E, Text);
}

inline void Select(QTreeWidget* View, int Row) {
  ShowPage(View);
  SelectRow(View, Row);
}

inline void Type(QSpinBox* S, const QString& Text) {
  ShowPage(S);
  S->setFocus();
  S->selectAll();
  QTest::keyClicks(S, Text);
}

// Clicks Trigger, which opens a modal dialog of class T, and runs Act on that dialog once
// it is shown. Act must close the dialog (OK or Cancel); one it leaves open is cancelled
// and the call answers false.
template <class T>
bool WhileModal(QAbstractButton* Trigger, const std::function<void(T&)>& Act) {
  bool Closed = false, Seen = false;
  // A timer of this call's own: it cannot fire after the call when no dialog opened.
  QTimer Timer;
  Timer.setSingleShot(true);
  QObject::connect(&Timer, &QTimer::timeout, [&] {
    QWidget* M = QApplication::activeModalWidget();
    auto* D = qobject_cast<T*>(M);
    if (!D) {
      if (auto* Other = qobject_cast<QDialog*>(M)) Other->reject();
      return;
    }
    Seen = true;
    Act(*D);
    Closed = !D->isVisible();
    if (!Closed) D->reject();
  });
  Timer.start(0);
  Press(Trigger);
  return Seen && Closed;
}

inline std::string Dword(int V) {
  char B[16];
  std::snprintf(B, sizeof B, "%08x", static_cast<unsigned>(V));
  return B;
}

// A private registry and program folder, recorded message boxes, and the dialog opened over
// them. Start() and Stop() belong in the test's init() and cleanup().
class TOptionsFixture {
protected:
  std::unique_ptr<TTestEnv> Env;
  std::unique_ptr<TRecordingBoxes> Boxes;

  void Start() {
    Env = std::make_unique<TTestEnv>();
    Boxes = std::make_unique<TRecordingBoxes>();
  }
  void Stop() {
    Boxes.reset();
    Env.reset();
  }
  std::string Registry() const { return Env->ReadFile(Env->ConfigHome() + "quillon/registry.reg"); }
  bool Stored(const std::string& Line) const { return Registry().find(Line + "\r\n") != std::string::npos; }
  // The settings key holds Values (registry file lines); the program reads them.
  void Settings(const std::string& Values) {
    Env->WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n" + Values);
    InitSettings();
  }
  std::unique_ptr<TFormOptions> Open(QWidget* Owner = nullptr) {
    auto F = std::make_unique<TFormOptions>(Owner);
    F->show();
    return F;
  }
  QStringList Texts() const {
    QStringList R;
    for (const TRecordedBox& B : Boxes->Boxes) R << B.Text;
    return R;
  }
};
