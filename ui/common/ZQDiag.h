#pragma once
// The message boxes every window uses, with the application title as caption, the help
// pages, and a guard that keeps exceptions inside event handlers.
#include <QString>
#include <functional>
#include <stdexcept>
#include <string>

// Question asks Yes or No; OKCancel asks OK or Cancel (question icon).
enum class TBoxKind { Error, Information, Question, OKCancel };

// Where message boxes go. Tests put in a recorder that keeps the texts and picks answers.
class TMessageBoxes {
public:
  virtual ~TMessageBoxes() = default;
  // Shows a modal box; for a question, true when the answer is Yes (or OK).
  virtual bool Show(TBoxKind Kind, const QString& Caption, const QString& Text) = 0;
};

TMessageBoxes& MessageBoxes();
// Replaces the boxes (nullptr: the real ones again). The caller keeps ownership.
void SetMessageBoxes(TMessageBoxes* Boxes);

// The application's title, "Quillon".
QString ApplicationTitle();

void ErrorBox(const std::string& Msg);
void InfoBox(const std::string& Msg);
// True exactly when the user chose Yes; closing the box is No.
bool YesNoBox(const std::string& Msg);
// An error box with a caption of its own ("Error reading registry!" / "Error").
void ErrorBoxCaption(const std::string& Msg, const std::string& Caption);

// Runs an event handler's body; an exception it lets out is shown with ErrorBox instead of
// ending the program.
void RunGuarded(const std::function<void()>& Handler);

// The help: HTML pages of ours in the program folder, shown by the desktop's browser.
class EHtmlHelpError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
// The contents page of the help in the program folder.
std::string HelpFileName();
// Shows the help page FileName. Raises EHtmlHelpError with the "not installed" text when
// the page is missing or the desktop cannot show it; nothing is remembered between calls.
void HtmlHelp(const std::string& FileName);
