#include "ui/common/QuitSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <stdexcept>

namespace {
int Pipe[2] = {-1, -1};
const int Signals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int Signal) {
  const int Saved = errno;
  const unsigned char B = static_cast<unsigned char>(Signal);
  (void)!write(Pipe[1], &B, 1);
  errno = Saved;
}
}  // namespace

TQuitSignals::TQuitSignals(QObject* Parent) : QObject(Parent) {
  if (pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
  FNotifier = new QSocketNotifier(Pipe[0], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] {
    unsigned char B;
    while (read(Pipe[0], &B, 1) == 1) emit Received(B);
  });
  struct sigaction Action {};
  Action.sa_handler = OnSignal;
  sigemptyset(&Action.sa_mask);
  Action.sa_flags = SA_RESTART;
  for (int S : Signals) sigaction(S, &Action, nullptr);
}

TQuitSignals::~TQuitSignals() {
  for (int S : Signals) signal(S, SIG_DFL);
  delete FNotifier;
  FNotifier = nullptr;
  close(Pipe[0]);
  close(Pipe[1]);
  Pipe[0] = Pipe[1] = -1;
}
