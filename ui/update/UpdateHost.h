#pragma once
// What the update windows need of the main window: its server, its tray icon, its place
// on the screen, its quit routine and whether it is ending. The main window fills these
// in; tests record them.
#include <functional>

class QWidget;

struct TUpdateHost {
  std::function<bool()> ServerRunning;
  std::function<void()> StartServer;
  std::function<void()> StopServer;
  std::function<void(bool Visible)> ShowTrayIcon;
  std::function<QWidget*()> MainWindow;
  std::function<void()> QuitProgram;
  // True once the program ends: nothing is installed, nothing restarted, nothing asked.
  std::function<bool()> Quitting;
};

// The program's one host; members left empty do nothing.
TUpdateHost& UpdateHost();
