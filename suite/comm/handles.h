// Owners for the Windows handles the stand-ins open: each closes its handle on every path.
#pragma once

#include <windows.h>

namespace orvane {

class UniqueHkey {
 public:
  UniqueHkey() = default;
  explicit UniqueHkey(HKEY key) : key_(key) {}
  UniqueHkey(const UniqueHkey&) = delete;
  UniqueHkey& operator=(const UniqueHkey&) = delete;
  ~UniqueHkey() { reset(); }
  HKEY get() const { return key_; }
  HKEY* put() { reset(); return &key_; }
  explicit operator bool() const { return key_ != nullptr; }
  void reset() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// Kernel handles; `invalid` is what the creating call returns on failure (null or
// INVALID_HANDLE_VALUE, depending on the call).
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  ~UniqueHandle() { reset(); }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void reset() {
    if (*this) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// Holds a mutex from a successful wait until the end of the scope.
class MutexLock {
 public:
  explicit MutexLock(HANDLE mutex) {
    DWORD r = mutex ? WaitForSingleObject(mutex, INFINITE) : WAIT_FAILED;
    // An abandoned mutex is still ours: the previous owner died, not the data.
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) mutex_ = mutex;
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;
  ~MutexLock() {
    if (mutex_) ReleaseMutex(mutex_);
  }
  bool held() const { return mutex_ != nullptr; }

 private:
  HANDLE mutex_ = nullptr;
};

// An in-process lock, and its holder for a scope.
class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class CriticalLock {
 public:
  explicit CriticalLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  CriticalLock(const CriticalLock&) = delete;
  CriticalLock& operator=(const CriticalLock&) = delete;
  ~CriticalLock() { cs_.Leave(); }

 private:
  CriticalSection& cs_;
};

}  // namespace orvane
