#pragma once
// A string that one thread may replace while others read it: readers always get a whole
// copy, never a torn value.
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

class TSharedString {
public:
  // Both constructors are constant expressions for a program-wide string made from a
  // literal: it holds its text before any dynamic initialisation runs, whatever the order
  // of the program's units. The text itself lives on the heap once it is set.
  constexpr TSharedString() = default;
  constexpr TSharedString(const char* Value) {
    if (std::is_constant_evaluated())
      FInitial = Value;
    else
      FValue = std::make_unique<std::string>(Value);
  }
  TSharedString(std::string Value) : FValue(std::make_unique<std::string>(std::move(Value))) {}
  TSharedString(const TSharedString& Other) : FValue(std::make_unique<std::string>(Other.get())) {}
  TSharedString& operator=(const TSharedString& Other) {
    if (this != &Other) set(Other.get());
    return *this;
  }
  TSharedString& operator=(std::string Value) {
    set(std::move(Value));
    return *this;
  }
  TSharedString& operator=(const char* Value) {
    set(Value);
    return *this;
  }

  std::string get() const {
    std::lock_guard<std::mutex> Lock(FLock);
    if (FValue) return *FValue;
    return FInitial ? std::string(FInitial) : std::string();
  }
  void set(std::string Value) {
    auto New = std::make_unique<std::string>(std::move(Value));
    std::lock_guard<std::mutex> Lock(FLock);
    FValue.swap(New);
    FInitial = nullptr;
  }
  operator std::string() const { return get(); }
  bool empty() const {
    std::lock_guard<std::mutex> Lock(FLock);
    if (FValue) return FValue->empty();
    return !FInitial || !*FInitial;
  }

private:
  mutable std::mutex FLock;
  const char* FInitial = nullptr;  // the literal in force until the first set
  std::unique_ptr<std::string> FValue;
};

inline bool operator==(const TSharedString& A, const std::string& B) { return A.get() == B; }
