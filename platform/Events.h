#pragma once
// Events in the manner of the engine's threads: an auto-reset event releases one wait and
// clears itself; a manual-reset event stays set until reset. WaitForAny waits on several
// and, when more than one is set, takes the one listed first.
#include <condition_variable>
#include <mutex>
#include <vector>

class TEvent {
public:
  explicit TEvent(bool ManualReset = false, bool InitialState = false);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;
  ~TEvent();

  void SetEvent();
  void ResetEvent();
  // True when the event was set within TimeoutMs (negative: wait without limit).
  bool WaitFor(int TimeoutMs);

private:
  friend int WaitForAny(const std::vector<TEvent*>& Events, int TimeoutMs);
  struct TWaiter;
  bool TryConsume();  // caller holds FLock
  void AddWaiter(TWaiter* W);
  void RemoveWaiter(TWaiter* W);

  std::mutex FLock;
  bool FManual;
  bool FState;
  std::vector<TWaiter*> FWaiters;
};

constexpr int WaitTimeout = -1;

// Index of the event that released the wait (the lowest one set), or WaitTimeout.
// TimeoutMs < 0 waits without limit.
int WaitForAny(const std::vector<TEvent*>& Events, int TimeoutMs);
