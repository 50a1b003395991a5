#pragma once
// Driving the option dialogs through their widgets: steps that run inside the next modal
// dialog, typing, clicking, selecting rows, and what a switched-off input looks like.
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QAbstractButton;
class QLineEdit;
class QTreeWidget;
class QWidget;

// Runs Step inside the next modal dialog that opens after this call (the dialog is shown
// and its event loop runs). When no dialog opens within a few seconds, or the dialog is
// not a TForm, every open modal dialog is closed and ModalStepsFailed() turns true.
void OnNextModal(std::function<void(QWidget*)> Step);
bool ModalStepsFailed();
void ResetModalSteps();
// Closes every modal dialog and marks the steps failed.
void FailModalStep(QWidget* Unexpected);

template <class TForm>
void OnNext(std::function<void(TForm&)> Step) {
  OnNextModal([Step](QWidget* W) {
    auto* Form = qobject_cast<TForm*>(W);
    if (!Form) {
      FailModalStep(W);
      return;
    }
    Step(*Form);
  });
}

// Drops the offscreen platform's note on fixed-size windows from the test output (call it
// once QtTest has installed its own message handler, in initTestCase).
void QuietSizeHintNotes();

// Replaces the edit's text by typing Text.
void Type(QLineEdit* Edit, const QString& Text);
// A mouse click on a push button's centre, or on a check box's or radio button's box.
void Click(QAbstractButton* Button);
// A mouse click on row Row.
void SelectRow(QTreeWidget* View, int Row);
// Column Column of every row, in list order.
QStringList Column(QTreeWidget* View, int Column);
// Disabled and painted with the button-face colour.
bool IsSwitchedOff(QWidget* Input);
// Enabled and painted with the window colour.
bool IsSwitchedOn(QWidget* Input);

// Saves a picture of the window as <build>/screenshots/<Folder>/<Name>.png.
void SaveScreenshot(QWidget* Window, const QString& Name, const QString& Folder = QStringLiteral("options"));
