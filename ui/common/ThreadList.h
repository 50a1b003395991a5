#pragma once
// A lock-protected list of heap items: producers on any thread append, the owner's thread
// takes them all in one pass while holding the lock.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

template <class T>
class TThreadList {
public:
  void Add(std::unique_ptr<T> Item) {
    std::lock_guard<std::mutex> G(FLock);
    FItems.push_back(std::move(Item));
  }
  // Takes the items off in order; each is freed after Handle, also when Handle throws.
  void Drain(const std::function<void(T&)>& Handle) {
    std::lock_guard<std::mutex> G(FLock);
    while (!FItems.empty()) {
      std::unique_ptr<T> Item = std::move(FItems.front());
      FItems.pop_front();
      Handle(*Item);
    }
  }

private:
  std::mutex FLock;
  std::deque<std::unique_ptr<T>> FItems;
};
