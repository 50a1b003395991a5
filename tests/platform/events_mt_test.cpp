#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Events.h"

TEST(EventsThreads, SetFromAnotherThreadWakesAWaitAny) {
  TEvent A, B;
  std::thread T([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    B.SetEvent();
  });
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForAny({&A, &B}, 5000), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(4));
  T.join();
}

TEST(EventsThreads, EverySetIsConsumedByExactlyOneWaiter) {
  // Auto-reset: with several waiters, each SetEvent that lands on a waiting thread
  // releases one of them; no wake-up is lost and none is doubled.
  TEvent E;
  std::atomic<int> Released{0};
  std::atomic<bool> Done{false};
  std::vector<std::thread> Waiters;
  for (int I = 0; I < 4; ++I)
    Waiters.emplace_back([&] {
      while (!Done)
        if (E.WaitFor(20)) ++Released;
    });
  for (int I = 0; I < 200; ++I) {
    const int Before = Released;
    E.SetEvent();
    while (Released == Before) std::this_thread::yield();
  }
  Done = true;
  for (auto& T : Waiters) T.join();
  EXPECT_EQ(Released, 200);
}
