#include "ui/common/ZQDiag.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "platform/Paths.h"
#include "ui/common/Desktop.h"

namespace {
class TSystemBoxes : public TMessageBoxes {
public:
  bool Show(TBoxKind Kind, const QString& Caption, const QString& Message) override {
    QWidget* Parent = QApplication::activeWindow();
    // Texts break lines with CR as well as CR LF; Qt breaks at LF only.
    QString Text = Message;
    Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    switch (Kind) {
      case TBoxKind::Error:
        QMessageBox::critical(Parent, Caption, Text);
        return false;
      case TBoxKind::Information:
        QMessageBox::information(Parent, Caption, Text);
        return false;
      case TBoxKind::Question:
        return QMessageBox::question(Parent, Caption, Text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
               QMessageBox::Yes;
      case TBoxKind::OKCancel:
        return QMessageBox::question(Parent, Caption, Text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) ==
               QMessageBox::Ok;
    }
    return false;
  }
};

TMessageBoxes* Replacement = nullptr;

const char* const HelpNotInstalled = "HHCtrl.OCX not installed!\r HTMLHELP cannot displayed!";
}  // namespace

TMessageBoxes& MessageBoxes() {
  static TSystemBoxes System;
  return Replacement ? *Replacement : System;
}

void SetMessageBoxes(TMessageBoxes* Boxes) { Replacement = Boxes; }

QString ApplicationTitle() { return QStringLiteral("Quillon"); }

void ErrorBox(const std::string& Msg) {
  MessageBoxes().Show(TBoxKind::Error, ApplicationTitle(), QString::fromStdString(Msg));
}

void InfoBox(const std::string& Msg) {
  MessageBoxes().Show(TBoxKind::Information, ApplicationTitle(), QString::fromStdString(Msg));
}

bool YesNoBox(const std::string& Msg) {
  return MessageBoxes().Show(TBoxKind::Question, ApplicationTitle(), QString::fromStdString(Msg));
}

void ErrorBoxCaption(const std::string& Msg, const std::string& Caption) {
  MessageBoxes().Show(TBoxKind::Error, QString::fromStdString(Caption), QString::fromStdString(Msg));
}

void RunGuarded(const std::function<void()>& Handler) {
  try {
    Handler();
  } catch (const std::exception& E) {
    ErrorBox(E.what());
  } catch (...) {
    ErrorBox("Unknown Error");
  }
}

std::string HelpFileName() { return ProgramDir() + "Help/index.html"; }

void HtmlHelp(const std::string& FileName) {
  const QFileInfo Page(QString::fromStdString(FileName));
  if (!Page.isFile() || !Page.isReadable()) throw EHtmlHelpError(HelpNotInstalled);
  if (!Desktop().OpenUrl(QUrl::fromLocalFile(Page.absoluteFilePath()))) throw EHtmlHelpError(HelpNotInstalled);
}
