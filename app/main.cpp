// Quillon's desktop program: one running copy, the settings, the main window, the loop.
#include <signal.h>

#include <QApplication>
#include <QDialog>
#include <QSystemTrayIcon>

#include "engine/settings/VexaBase.h"
#include "ui/common/QuitSignals.h"
#include "ui/common/ZQDiag.h"
#include "ui/main/FormMain.h"
#include "ui/viewer/ViewMail.h"

int main(int argc, char** argv) {
  // A second copy ends here, before it opens a window.
  CheckSingleInstance();
  signal(SIGPIPE, SIG_IGN);

  QApplication App(argc, argv);
  App.setApplicationName(ApplicationTitle());
  App.setQuitOnLastWindowClosed(false);
  // From here a termination signal waits in a pipe until the message loop takes it, so one
  // that arrives during start-up still ends the program cleanly.
  TQuitSignals Quit;
  SetErrorBoxHandler([](const std::string& Text, const std::string& Caption) { ErrorBoxCaption(Text, Caption); });
  InitSettings();

  // The main window is also the program's task bar entry. The mail viewer is made once and
  // reused for every mail (the main window owns it).
  TFormMain FormMain(QSystemTrayIcon::isSystemTrayAvailable());
  FormViewMail = new TFormViewMail(&FormMain);
  // The first-start wizard runs its own loop inside Initialize, which takes the signals from
  // the pipe: one that arrives then closes the wizard and ends the program once started.
  bool QuitDuringStart = false;
  const auto Early = QObject::connect(&Quit, &TQuitSignals::Received, &FormMain, [&QuitDuringStart] {
    QuitDuringStart = true;
    if (auto* Modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) Modal->reject();
  });
  try {
    FormMain.Initialize();
  } catch (const std::exception& E) {
    ErrorBox(E.what());
    return 1;
  }
  QObject::disconnect(Early);
  if (QuitDuringStart) {
    RunGuarded([&] { FormMain.QuitProgram(); });
    return 0;
  }
  if (FormMain.TrayAvailable()) FormMain.TrayIcon()->show();
  if (MinToTray || !FormMain.TrayAvailable()) FormMain.show();

  // The end of the desktop session and the usual termination signals end the program as
  // the Exit command does: the server stops and the store and view settings are saved.
  QObject::connect(&Quit, &TQuitSignals::Received, &FormMain, [&FormMain] { RunGuarded([&] { FormMain.QuitProgram(); }); });
  QObject::connect(&App, &QGuiApplication::commitDataRequest, &FormMain,
                   [&FormMain] { RunGuarded([&] { FormMain.QuitProgram(); }); });
  QObject::connect(&App, &QCoreApplication::aboutToQuit, &FormMain,
                   [&FormMain] { RunGuarded([&] { FormMain.QuitProgram(); }); });
  return App.exec();
}
