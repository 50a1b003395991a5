#pragma once
// Opening addresses and files with the desktop's own programs (browser, mail client).
// Tests put in a recorder so that nothing opens on the user's desktop.
#include <QUrl>

class TDesktop {
public:
  virtual ~TDesktop() = default;
  // True when the desktop took the address.
  virtual bool OpenUrl(const QUrl& Url) = 0;
};

TDesktop& Desktop();
// Replaces the desktop (nullptr: the real one again). The caller keeps ownership.
void SetDesktop(TDesktop* D);
