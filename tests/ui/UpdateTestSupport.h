#pragma once
// The update windows' host as a recorder: a mail server that runs until stopped, a tray
// icon, a quit routine. Installed for the life of the object.
#include <vector>

#include "ui/update/UpdateHost.h"

struct TRecordingUpdateHost {
  TRecordingUpdateHost() {
    TUpdateHost& H = UpdateHost();
    H.ServerRunning = [this] { return Running; };
    H.StopServer = [this] { Running = false, ++Stops; };
    H.StartServer = [this] { Running = true, ++Starts; };
    H.ShowTrayIcon = [this](bool Visible) { Tray.push_back(Visible); };
    H.MainWindow = [] { return nullptr; };
    H.QuitProgram = [this] { ++Quits; };
  }
  ~TRecordingUpdateHost() { UpdateHost() = TUpdateHost(); }
  bool Running = true;
  int Stops = 0, Starts = 0, Quits = 0;
  std::vector<bool> Tray;
};
