#pragma once
// Stand-ins for the desktop's effects in the window tests: message boxes that record their
// texts and answer as told, a desktop that records the addresses it is asked to open.
#include <QString>
#include <QStringList>
#include <QUrl>
#include <string>
#include <vector>

#include "ui/common/Desktop.h"
#include "ui/common/EventSounds.h"
#include "ui/common/ZQDiag.h"

struct TRecordedBox {
  TBoxKind Kind;
  QString Caption;
  QString Text;
};

class TRecordingBoxes : public TMessageBoxes {
public:
  TRecordingBoxes() { SetMessageBoxes(this); }
  ~TRecordingBoxes() override { SetMessageBoxes(nullptr); }
  bool Show(TBoxKind Kind, const QString& Caption, const QString& Text) override {
    Boxes.push_back({Kind, Caption, Text});
    return Answer;
  }
  std::vector<TRecordedBox> Boxes;
  bool Answer = false;
};

class TRecordingDesktop : public TDesktop {
public:
  TRecordingDesktop() { SetDesktop(this); }
  ~TRecordingDesktop() override { SetDesktop(nullptr); }
  bool OpenUrl(const QUrl& Url) override {
    Opened.push_back(Url);
    return Accept;
  }
  std::vector<QUrl> Opened;
  bool Accept = true;
};

// Records the sounds the program would play, instead of playing them.
class TRecordingSounds : public TSoundPlayer {
public:
  TRecordingSounds() { SetSoundPlayer(this); }
  ~TRecordingSounds() override { SetSoundPlayer(nullptr); }
  void Play(const QString& WavFile) override { Played << WavFile; }
  QStringList Played;
};

class TFormMain;
class TTestEnv;
// Settings of a server on 127.0.0.1:Port asking the DNS server Dns, after the first start
// (the wizard has run), then read as the program reads them at start.
void WriteWindowSettings(TTestEnv& Env, int Port, const std::string& Dns, bool AutoStart, const std::string& More = "");
// The log pane's lines without their time stamps, in order.
QStringList LogLines(TFormMain& Form);
// The colour of log line Index.
QString LogColour(TFormMain& Form, int Index);
