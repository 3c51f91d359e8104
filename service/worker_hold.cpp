#include "worker_hold.h"

namespace {

constexpr DWORD kMaxHeaps = 256;
constexpr DWORD kEndWaitMs = 10000;
constexpr DWORD kGatePollMs = 1;
// A probe that cannot take every heap lock within this time finds one held by the frozen thread.
constexpr DWORD kProbeMs = 200;
constexpr int kMaxHoldAttempts = 50;

enum GateState : LONG { kGateOpen = 0, kGateWorkerInside = 1, kGateHolding = 2 };
volatile LONG g_gate = kGateOpen;

// All heaps stay locked while alive. Allocates nothing itself, since it runs with the locks held.
class AllHeapsLocked {
public:
    AllHeapsLocked() {
        m_count = GetProcessHeaps(kMaxHeaps, m_heaps);
        if (m_count > kMaxHeaps) m_count = kMaxHeaps;
        for (DWORD i = 0; i < m_count; ++i) m_locked[i] = HeapLock(m_heaps[i]) != FALSE;
    }
    ~AllHeapsLocked() {
        for (DWORD i = m_count; i-- > 0;)
            if (m_locked[i]) HeapUnlock(m_heaps[i]);
    }
    AllHeapsLocked(const AllHeapsLocked&) = delete;
    AllHeapsLocked& operator=(const AllHeapsLocked&) = delete;

private:
    HANDLE m_heaps[kMaxHeaps];
    bool m_locked[kMaxHeaps];
    DWORD m_count = 0;
};

bool Ended(HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

// A thread frozen while it waits for a heap lock can still be handed that lock as the lock is
// given back, and then holds it while frozen. This probe, a thread of its own that allocates
// nothing, takes and gives back every heap lock on request, and so finds that case.
class HeapProbe {
public:
    HeapProbe()
        : m_request(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
          m_done(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
          m_thread(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}

    // True when every heap lock could be taken in time. When not, the probe goes on waiting and
    // Finish must be called once the holder can run again.
    bool HeapsFree() {
        if (m_thread == nullptr) return true;
        SetEvent(m_request);
        return WaitForSingleObject(m_done, kProbeMs) == WAIT_OBJECT_0;
    }
    void Finish() { WaitForSingleObject(m_done, kEndWaitMs); }

private:
    static DWORD WINAPI Run(void* self) {
        auto* probe = static_cast<HeapProbe*>(self);
        for (;;) {
            WaitForSingleObject(probe->m_request, INFINITE);
            { AllHeapsLocked heaps; }
            SetEvent(probe->m_done);
        }
    }

    HANDLE m_request;
    HANDLE m_done;
    HANDLE m_thread;
};

HeapProbe& Probe() {
    static HeapProbe probe;
    return probe;
}

void Freeze(HANDLE thread) {
    AllHeapsLocked heaps;
    SuspendThread(thread);
    // Returns only once the suspension has really taken effect.
    alignas(16) CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(thread, &context);
}

}  // namespace

void HoldGate::Enter() {
    // Waits only while a hold is being taken; a worker that never left stays inside.
    while (InterlockedCompareExchange(&g_gate, kGateWorkerInside, kGateOpen) == kGateHolding)
        Sleep(kGatePollMs);
}

void HoldGate::Leave() { InterlockedExchange(&g_gate, kGateOpen); }

bool HoldThread(HANDLE thread) {
    while (InterlockedCompareExchange(&g_gate, kGateHolding, kGateOpen) != kGateOpen) {
        if (Ended(thread)) return false;
        Sleep(kGatePollMs);
    }
    HeapProbe& probe = Probe();
    for (int attempt = 1;; ++attempt) {
        Freeze(thread);
        if (probe.HeapsFree() || attempt == kMaxHoldAttempts) break;
        // Frozen with a heap lock: let it finish that allocation, then freeze it again.
        ResumeThread(thread);
        probe.Finish();
    }
    InterlockedExchange(&g_gate, kGateOpen);
    return true;
}

void ReleaseThread(HANDLE thread) { ResumeThread(thread); }

void EndThread(HANDLE thread) {
    if (!HoldThread(thread)) return;
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, kEndWaitMs);
}
