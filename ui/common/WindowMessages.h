#pragma once
// Messages that engine threads and windows post to a window. Each is a Qt event whose type
// is the message number, so the numbers stay the same across the program.
#include <QEvent>
#include <cstdint>

#include "engine/store/MailStore.h"

constexpr unsigned WM_LOGMESSAGE = WM_USER + 2;            // 1026
constexpr unsigned WM_DELIVERYPROGRESS = WM_USER + 4;      // 1028
constexpr unsigned WM_STARTDOWNLOAD = WM_USER + 101;       // 1125
constexpr unsigned WM_CHECKVERSIONRESULT = WM_USER + 107;  // 1131

// A posted window message with its one parameter that carries meaning.
class TWindowMessage : public QEvent {
public:
  explicit TWindowMessage(unsigned Message, uintptr_t WParam = 0)
      : QEvent(static_cast<QEvent::Type>(Message)), WParam(WParam) {}
  const uintptr_t WParam;
};

// Posts Message to Target from any thread; never waits for the receiving thread.
void PostWindowMessage(QObject* Target, unsigned Message, uintptr_t WParam = 0);
