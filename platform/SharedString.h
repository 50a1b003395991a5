#pragma once
// A string that one thread may replace while others read it: readers always get a whole
// copy, never a torn value.
#include <mutex>
#include <string>

class TSharedString {
public:
  TSharedString() = default;
  TSharedString(std::string Value) : FValue(std::move(Value)) {}
  TSharedString(const char* Value) : FValue(Value) {}
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
    return FValue;
  }
  void set(std::string Value) {
    std::lock_guard<std::mutex> Lock(FLock);
    FValue.swap(Value);
  }
  operator std::string() const { return get(); }
  bool empty() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FValue.empty();
  }

private:
  mutable std::mutex FLock;
  std::string FValue;
};

inline bool operator==(const TSharedString& A, const std::string& B) { return A.get() == B; }
