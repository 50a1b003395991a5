#include "ui/common/WindowMessages.h"

#include <QCoreApplication>

void PostWindowMessage(QObject* Target, unsigned Message, uintptr_t WParam) {
  QCoreApplication::postEvent(Target, new TWindowMessage(Message, WParam));
}
