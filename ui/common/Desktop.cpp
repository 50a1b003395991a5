#include "ui/common/Desktop.h"

#include <QDesktopServices>

namespace {
class TSystemDesktop : public TDesktop {
public:
  bool OpenUrl(const QUrl& Url) override { return QDesktopServices::openUrl(Url); }
};

TDesktop* Replacement = nullptr;
}  // namespace

TDesktop& Desktop() {
  static TSystemDesktop System;
  return Replacement ? *Replacement : System;
}

void SetDesktop(TDesktop* D) { Replacement = D; }
