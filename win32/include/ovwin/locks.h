// The locks every binary takes, each let go on every path: CriticalSection with CriticalLock in a
// process, MutexLock on a named mutex that processes share (the stand-in's outbox). And the one
// way to read a value that other threads change with the Interlocked calls.
#pragma once

#include <windows.h>

namespace ovwin {

// Reads the value as one Interlocked operation, with the same ordering as the writes.
inline LONG AtomicRead(volatile LONG& value) { return InterlockedCompareExchange(&value, 0, 0); }

// Holds a mutex from a successful wait until the end of the scope.
class MutexLock {
public:
    explicit MutexLock(HANDLE mutex) {
        DWORD r = mutex ? WaitForSingleObject(mutex, INFINITE) : WAIT_FAILED;
        // An abandoned mutex is still ours: the previous owner died, not the data.
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) m_mutex = mutex;
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;
    ~MutexLock() {
        if (m_mutex) ReleaseMutex(m_mutex);
    }
    bool held() const { return m_mutex != nullptr; }

private:
    HANDLE m_mutex = nullptr;
};

// An in-process lock, and its holder for a scope.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&m_cs); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { DeleteCriticalSection(&m_cs); }
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

class CriticalLock {
public:
    explicit CriticalLock(CriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    CriticalLock(const CriticalLock&) = delete;
    CriticalLock& operator=(const CriticalLock&) = delete;
    ~CriticalLock() { m_cs.Leave(); }

private:
    CriticalSection& m_cs;
};

}  // namespace ovwin
