// The main window's mail list with a large store, on the offscreen platform: switching to
// the "Messages" category (55,000 rows) and back, sorting by subject both ways, and 2,000
// store notices a second (1,000 deliveries, each a removed and an added notice) from an
// engine thread while the window shows all messages. Each figure includes the repaint.
// For the notices it prints how far the window fell behind (mails filed by the store but
// not yet counted by the window, sampled every 50 ms), how long the window took to catch
// up after the last one, and the longest time the GUI thread did not run its event loop.
//   maillist_bench [runs]   (default 3)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench/BenchStore.h"
#include "engine/settings/VexaBase.h"
#include "support/LoopbackSockets.h"
#include "support/RelayHarness.h"
#include "support/TestEnv.h"
#include "ui/main/FormMain.h"

namespace {
void Select(TFormMain& F, int Kind) {
  auto* Tree = F.findChild<QTreeWidget*>(QStringLiteral("TVCategory"));
  QTreeWidgetItem* Root = Tree->topLevelItem(0);
  Tree->setCurrentItem(Kind == 0 ? Root : Root->child(Kind - 1));
}

// Milliseconds that Step takes, with the repaint it causes.
template <class F>
double Timed(F Step) {
  QElapsedTimer T;
  T.start();
  Step();
  QCoreApplication::processEvents();
  return static_cast<double>(T.nsecsElapsed()) / 1e6;
}

void Notices(TFormMain& F, int Seconds) {
  const int Rate = 1000;  // deliveries a second, two notices each
  std::atomic<bool> Done{false};
  std::atomic<int> Delivered{0};
  std::thread Producer([&] {
    const auto Start = std::chrono::steady_clock::now();
    for (int I = 0; I < Rate * Seconds; ++I) {
      std::this_thread::sleep_until(Start + std::chrono::microseconds(I * 1000000LL / Rate));
      TMailData M;
      if (!F.MailStore()->GetNextMail(M)) break;
      M.State = msAttemptDone;
      M.Status = dsDelivered;
      M.SentTime = 46001;
      F.MailStore()->MailDone(M);
      ++Delivered;
    }
    Done = true;
  });
  const int SentBefore = F.Category(2).Count;
  QElapsedTimer Gap;
  Gap.start();
  qint64 LongestGap = 0;
  int MostBehind = 0;
  QTimer Beat;
  Beat.setInterval(5);
  QObject::connect(&Beat, &QTimer::timeout, [&] {
    LongestGap = std::max(LongestGap, Gap.restart());
  });
  QTimer Sample;
  Sample.setInterval(50);
  QObject::connect(&Sample, &QTimer::timeout, [&] {
    MostBehind = std::max(MostBehind, Delivered - (F.Category(2).Count - SentBefore));
  });
  Beat.start();
  Sample.start();
  while (!Done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  QElapsedTimer CatchUp;
  CatchUp.start();
  while (F.Category(2).Count - SentBefore < Delivered && CatchUp.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  const double CatchUpMs = static_cast<double>(CatchUp.nsecsElapsed()) / 1e6;
  Producer.join();
  std::printf("  %d deliveries in %d s (%d notices/s), rows now %d: at most %d mails (%.0f ms of notices) behind, "
              "caught up %.0f ms after the last, longest event-loop gap %lld ms, timer mode %s\n",
              Delivered.load(), Seconds, 2 * Rate, F.MailModel()->rowCount(), MostBehind, MostBehind * 1000.0 / Rate,
              CatchUpMs, static_cast<long long>(LongestGap), F.TimerMode() ? "on" : "off");
}
}  // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::atoi(argv[1]) : 3;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication App(argc, argv);
  TTestEnv Env;
  WriteHarnessRegistry(Env, FreeLoopbackPort(), "127.0.0.1",
                       RegistryDword("AutoStartServer", 0) + RegistryDword("PlayEventSound", 0));
  MakeBenchStore(Env.DataHome() + "quillon/data/", 5000, 50000, true);
  InitSettings();
  TFormMain F(true);
  F.Initialize();
  F.resize(1000, 700);
  F.show();
  QCoreApplication::processEvents();
  std::printf("store: %d waiting + %d sent mails\n", F.Category(1).Count, F.Category(2).Count);
  for (int R = 0; R < Runs; ++R) {
    const double ToAll = Timed([&] { Select(F, 0); });
    const int Rows = F.MailModel()->rowCount();
    const double Back = Timed([&] { Select(F, 1); });
    std::printf("run %d: to \"Messages\" (%d rows) %7.1f ms, back to \"Queue\" (%d rows) %6.1f ms\n", R + 1, Rows, ToAll,
                F.MailModel()->rowCount(), Back);
  }
  Select(F, 0);
  QCoreApplication::processEvents();
  for (int R = 0; R < Runs; ++R) {
    const double Up = Timed([&] { F.SortByColumn(4); });
    const double Down = Timed([&] { F.SortByColumn(4); });
    const double Queue = Timed([&] { F.SortByColumn(0); });
    std::printf("run %d: sort %d rows by subject %6.1f ms, flipped %6.1f ms, back to queue order %6.1f ms\n", R + 1,
                F.MailModel()->rowCount(), Up, Down, Queue);
  }
  std::printf("notices while \"Messages\" is shown:\n");
  Notices(F, 4);
  return 0;
}
