#pragma once
// Opening addresses and files with the desktop's own programs (browser, mail client,
// package installer). Tests put in a recorder so that nothing opens on the user's desktop.
#include <QString>
#include <QUrl>

class TDesktop {
public:
  virtual ~TDesktop() = default;
  // True when the desktop took the address.
  virtual bool OpenUrl(const QUrl& Url) = 0;
  // Hands a local file to the desktop's opener and waits, the GUI running meanwhile, until
  // the opener is done with it: true only when it ran and handed the file on.
  virtual bool OpenFile(const QString& Path) { return OpenUrl(QUrl::fromLocalFile(Path)); }
};

TDesktop& Desktop();
// Replaces the desktop (nullptr: the real one again). The caller keeps ownership.
void SetDesktop(TDesktop* D);

// How long OpenFile waits for the opener before it counts as failed; tests shorten it.
constexpr int DefaultOpenerTimeLimitMs = 60000;
int& OpenerTimeLimitMs();
