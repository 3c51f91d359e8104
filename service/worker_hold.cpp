#include "worker_hold.h"

#include "ovwin/handles.h"

#include <tlhelp32.h>

#include <cstring>
#include <vector>

namespace {

constexpr DWORD kEndWaitMs = 10000;
constexpr DWORD kGatePollMs = 1;
// A thread found at no safe point is let run this long before it is looked at again.
constexpr DWORD kRetryMs = 1;
// One never found at a safe point within this time is held where it stands after all: a pause
// or a stop that never comes is worse than the rare lock it may leave taken.
constexpr DWORD kSafePointLimitMs = 5000;

enum GateState : LONG { kGateOpen = 0, kGateWorkerInside = 1, kGateHolding = 2 };
volatile LONG g_gate = kGateOpen;

// System calls that wait with no lock of the process taken and no entry in one of its queues.
// A critical section's wait is not one of them: Wine queues its waiters on their own stacks
// (NtWaitForAlertByThreadId), so a waiter frozen there swallows the wake-up meant for the next
// one, and one ended there leaves the queue pointing into a freed stack; one frozen on the way
// in holds the queue's spin lock, and every thread that waits after it spins for ever.
const char* const kPlainWaits[] = {"NtWaitForSingleObject", "NtWaitForMultipleObjects", "NtDelayExecution"};
// A system call's stub: 16 bytes in 32-bit code, 32 in 64-bit. A thread inside the call returns
// to a point within it.
constexpr DWORD_PTR kStubBytes = 4 * sizeof(void*);

struct Range {
    DWORD_PTR begin;
    DWORD_PTR end;
    bool Has(DWORD_PTR address) const { return address - begin < end - begin; }
};

bool InAny(const std::vector<Range>& ranges, DWORD_PTR address) {
    for (const Range& r : ranges)
        if (r.Has(address)) return true;
    return false;
}

// The instruction a frozen thread goes on at, and the top of its stack.
struct Where {
    DWORD_PTR at;
    DWORD_PTR stack;
};

Where WhereItStands(const CONTEXT& c) {
#ifdef _WIN64
    return {c.Rip, c.Rsp};
#else
    return {c.Eip, c.Esp};
#endif
}

bool UnderDirectory(const char* path, const char* dir) {
    size_t n = std::strlen(dir);
    return n != 0 && _strnicmp(path, dir, n) == 0 && (path[n] == '\\' || dir[n - 1] == '\\');
}

// Where a thread may be frozen or ended: in the code of the program's own modules, which takes
// no lock of the system's, or inside a plain wait. Anywhere else in the system's code it may be
// in the middle of a lock. Found out before any freezing, since it takes the loader's lock.
class SafePoints {
public:
    SafePoints() {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        for (const char* name : kPlainWaits)
            if (FARPROC f = GetProcAddress(ntdll, name)) {
                auto at = reinterpret_cast<DWORD_PTR>(f);
                m_waits.push_back({at, at + kStubBytes});
            }
        // 32-bit Windows returns from every system call through one point; the stub it
        // returns to is on top of the stack.
        m_sharedReturn = reinterpret_cast<DWORD_PTR>(GetProcAddress(ntdll, "KiFastSystemCallRet"));

        char windows[MAX_PATH];
        UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return;
        UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0));
        if (!snapshot) return;
        MODULEENTRY32 module;
        module.dwSize = sizeof module;
        for (BOOL more = Module32First(snapshot.get(), &module); more; more = Module32Next(snapshot.get(), &module)) {
            if (UnderDirectory(module.szExePath, windows)) continue;
            auto base = reinterpret_cast<DWORD_PTR>(module.modBaseAddr);
            m_own.push_back({base, base + module.modBaseSize});
        }
    }

    bool Safe(const CONTEXT& c) const {
        Where where = WhereItStands(c);
        if (InAny(m_own, where.at) || InAny(m_waits, where.at)) return true;
        if (m_sharedReturn == 0 || where.at != m_sharedReturn) return false;
        DWORD_PTR returnsTo = 0;
        SIZE_T read = 0;
        return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<void*>(where.stack), &returnsTo,
                                 sizeof returnsTo, &read) &&
               read == sizeof returnsTo && InAny(m_waits, returnsTo);
    }

private:
    std::vector<Range> m_own;
    std::vector<Range> m_waits;
    DWORD_PTR m_sharedReturn = 0;
};

bool Ended(HANDLE thread) { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

// Returns once the suspension has really taken effect, with where the thread stands; false when
// the thread could not be suspended.
bool Freeze(HANDLE thread, CONTEXT& context) {
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) return false;
    std::memset(&context, 0, sizeof context);
    context.ContextFlags = CONTEXT_CONTROL;
    if (GetThreadContext(thread, &context)) return true;
    ResumeThread(thread);
    return false;
}

}  // namespace

void HoldGate::Enter() {
    // Waits only while a hold is being taken; a worker that never left stays inside.
    while (InterlockedCompareExchange(&g_gate, kGateWorkerInside, kGateOpen) == kGateHolding)
        Sleep(kGatePollMs);
}

void HoldGate::Leave() { InterlockedExchange(&g_gate, kGateOpen); }

bool HoldThread(HANDLE thread) {
    SafePoints points;
    while (InterlockedCompareExchange(&g_gate, kGateHolding, kGateOpen) != kGateOpen) {
        if (Ended(thread)) return false;
        Sleep(kGatePollMs);
    }
    bool held = false;
    DWORD start = GetTickCount();
    for (;;) {
        alignas(16) CONTEXT context;
        if (!Freeze(thread, context)) break;
        if (points.Safe(context) || GetTickCount() - start >= kSafePointLimitMs) {
            held = true;
            break;
        }
        ResumeThread(thread);
        Sleep(kRetryMs);
    }
    InterlockedExchange(&g_gate, kGateOpen);
    return held;
}

void ReleaseThread(HANDLE thread) { ResumeThread(thread); }

void EndThread(HANDLE thread) {
    // Ended all the same when it could not be held; that fails harmlessly on an ended thread.
    HoldThread(thread);
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, kEndWaitMs);
}
