#pragma once
// A string that one thread may replace while others read it: readers always get a whole
// copy, never a torn value.
#include <mutex>
#include <string>
#include <type_traits>

class TSharedString {
public:
  constexpr TSharedString() = default;
  // A program-wide string made from a literal is constant-initialised: it holds its text
  // before any dynamic initialisation runs, whatever the order of the program's units.
  constexpr TSharedString(const char* Value) {
    if (std::is_constant_evaluated())
      FInitial = Value;
    else
      FValue = Value;
  }
  TSharedString(std::string Value) : FValue(std::move(Value)) {}
  TSharedString(const TSharedString& Other) : FValue(Other.get()) {}
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
    return FInitial ? std::string(FInitial) : FValue;
  }
  void set(std::string Value) {
    std::lock_guard<std::mutex> Lock(FLock);
    FValue.swap(Value);
    FInitial = nullptr;
  }
  operator std::string() const { return get(); }
  bool empty() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FInitial ? *FInitial == '\0' : FValue.empty();
  }

private:
  mutable std::mutex FLock;
  const char* FInitial = nullptr;  // the literal held until the first set
  std::string FValue;
};

inline bool operator==(const TSharedString& A, const std::string& B) { return A.get() == B; }
