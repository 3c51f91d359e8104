#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>

#include "ovwin/handles.h"
#include "worker_hold.h"

namespace {

CRITICAL_SECTION g_lock;
volatile LONG g_steps = 0;
volatile LONG g_pastLock = 0;

LONG Read(volatile LONG& v) { return InterlockedCompareExchange(&v, 0, 0); }

unsigned __stdcall Sleeps(void*) {
    Sleep(INFINITE);
    return 0;
}

unsigned __stdcall Spins(void*) {
    for (;;) InterlockedIncrement(&g_steps);
}

unsigned __stdcall WaitsForTheLock(void*) {
    EnterCriticalSection(&g_lock);
    InterlockedExchange(&g_pastLock, 1);
    LeaveCriticalSection(&g_lock);
    Sleep(INFINITE);
    return 0;
}

struct Hold {
    HANDLE thread;
    volatile LONG done;
};

unsigned __stdcall HoldIt(void* p) {
    auto* hold = static_cast<Hold*>(p);
    HoldThread(hold->thread);
    InterlockedExchange(&hold->done, 1);
    return 0;
}

HANDLE Start(unsigned(__stdcall* routine)(void*), void* arg) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, routine, arg, 0, nullptr));
}

bool WaitFor(volatile LONG& flag, DWORD ms) {
    DWORD start = GetTickCount();
    while (Read(flag) == 0)
        if (GetTickCount() - start >= ms) return false;
        else Sleep(5);
    return true;
}

// Where a thread stands decides whether it may be held: in its own code or in a plain wait it
// is held at once, and it keeps still.
TEST(WorkerHold, HeldInItsOwnCodeOrInAPlainWait) {
    const struct {
        const char* what;
        unsigned(__stdcall* routine)(void*);
    } cases[] = {
        {"sleeping", Sleeps},
        {"running its own code", Spins},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueHandleT thread(Start(c.routine, nullptr));
        ASSERT_TRUE(thread);
        Sleep(50);
        ASSERT_TRUE(HoldThread(thread.get()));
        LONG before = Read(g_steps);
        Sleep(100);
        EXPECT_EQ(Read(g_steps), before) << "a held thread must not move";
        EndThread(thread.get());
        EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
    }
}

// A thread queued on a critical section is never frozen there: frozen, it would take the wake-up
// meant for the next waiter, and ended, it would leave its queue entry behind. It is held once
// it has got past.
TEST(WorkerHold, NeverHeldWhileQueuedOnALock) {
    InitializeCriticalSection(&g_lock);
    EnterCriticalSection(&g_lock);
    LONG alone = g_lock.LockCount;
    UniqueHandleT thread(Start(WaitsForTheLock, nullptr));
    ASSERT_TRUE(thread);
    DWORD start = GetTickCount();
    while (g_lock.LockCount == alone && GetTickCount() - start < 5000) Sleep(5);
    ASSERT_NE(g_lock.LockCount, alone) << "the thread never queued on the lock";

    Hold hold{thread.get(), 0};
    UniqueHandleT holder(Start(HoldIt, &hold));
    EXPECT_FALSE(WaitFor(hold.done, 500)) << "held while queued on the lock";
    LeaveCriticalSection(&g_lock);
    EXPECT_TRUE(WaitFor(hold.done, 10000)) << "not held once past the lock";
    EXPECT_EQ(Read(g_pastLock), 1);
    WaitForSingleObject(holder.get(), 10000);

    EndThread(thread.get());
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
    EnterCriticalSection(&g_lock);
    LeaveCriticalSection(&g_lock);
    DeleteCriticalSection(&g_lock);
}

}  // namespace
