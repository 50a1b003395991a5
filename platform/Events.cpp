#include "platform/Events.h"

#include <algorithm>
#include <chrono>

struct TEvent::TWaiter {
  std::mutex Lock;
  std::condition_variable Cond;
  bool Signalled = false;

  void Signal() {
    std::lock_guard<std::mutex> G(Lock);
    Signalled = true;
    Cond.notify_one();
  }
};

TEvent::TEvent(bool ManualReset, bool InitialState) : FManual(ManualReset), FState(InitialState) {}

TEvent::~TEvent() = default;

void TEvent::SetEvent() {
  std::lock_guard<std::mutex> G(FLock);
  FState = true;
  for (TWaiter* W : FWaiters) W->Signal();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> G(FLock);
  FState = false;
}

bool TEvent::TryConsume() {
  if (!FState) return false;
  if (!FManual) FState = false;
  return true;
}

void TEvent::AddWaiter(TWaiter* W) {
  std::lock_guard<std::mutex> G(FLock);
  FWaiters.push_back(W);
}

void TEvent::RemoveWaiter(TWaiter* W) {
  std::lock_guard<std::mutex> G(FLock);
  FWaiters.erase(std::remove(FWaiters.begin(), FWaiters.end(), W), FWaiters.end());
}

bool TEvent::WaitFor(int TimeoutMs) { return WaitForAny({this}, TimeoutMs) == 0; }

int WaitForAny(const std::vector<TEvent*>& Events, int TimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs < 0 ? 0 : TimeoutMs);
  TEvent::TWaiter Waiter;
  for (TEvent* E : Events) E->AddWaiter(&Waiter);
  int Result = WaitTimeout;
  for (;;) {
    for (size_t I = 0; I < Events.size() && Result == WaitTimeout; ++I) {
      std::lock_guard<std::mutex> G(Events[I]->FLock);
      if (Events[I]->TryConsume()) Result = static_cast<int>(I);
    }
    if (Result != WaitTimeout) break;
    std::unique_lock<std::mutex> L(Waiter.Lock);
    if (!Waiter.Signalled) {
      if (TimeoutMs < 0) {
        Waiter.Cond.wait(L, [&] { return Waiter.Signalled; });
      } else if (!Waiter.Cond.wait_until(L, Deadline, [&] { return Waiter.Signalled; })) {
        break;
      }
    }
    Waiter.Signalled = false;
  }
  for (TEvent* E : Events) E->RemoveWaiter(&Waiter);
  return Result;
}
