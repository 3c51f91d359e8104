#include "sampler.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <process.h>

#include "ovwin/handles.h"

using namespace ovwin;

namespace {

std::uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters))
        return 0;
    // Wine 8 leaves PrivateUsage at 0 but fills PagefileUsage, which Windows defines as the same
    // commit charge (Wine counts the touched private pages).
    return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

long ThreadCount() {
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return -1;
    DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == self) ++count;
    return count;
}

template <typename T, typename V>
void RaiseTo(volatile T& peak, V value, T (*exchange)(volatile T*, T, T)) {
    for (T seen = peak; static_cast<T>(value) > seen; seen = peak)
        if (exchange(&peak, static_cast<T>(value), seen) == seen) break;
}

LONG64 Cas64(volatile LONG64* p, LONG64 v, LONG64 c) { return InterlockedCompareExchange64(p, v, c); }
LONG Cas32(volatile LONG* p, LONG v, LONG c) { return InterlockedCompareExchange(p, v, c); }

}  // namespace

ProcessSample SampleProcess() { return {PrivateBytes(), ThreadCount()}; }

bool ProcessSampler::Start() {
    ResetPeaks();
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, nullptr));
    UniqueHandleT owner(thread);  // the thread runs until the process ends
    return static_cast<bool>(owner);
}

void ProcessSampler::ResetPeaks() {
    ProcessSample now = SampleProcess();  // fresh: the caller may just have touched memory
    InterlockedExchange64(&m_currentPrivate, static_cast<LONG64>(now.privateBytes));
    InterlockedExchange(&m_currentThreads, now.threads);
    InterlockedExchange64(&m_idlePrivate, static_cast<LONG64>(now.privateBytes));
    InterlockedExchange(&m_idleThreads, now.threads);
    InterlockedExchange64(&m_peakPrivate, static_cast<LONG64>(now.privateBytes));
    InterlockedExchange(&m_peakThreads, now.threads);
}

unsigned __stdcall ProcessSampler::Run(void* self) {
    auto* sampler = static_cast<ProcessSampler*>(self);
    for (;;) {
        sampler->Record(SampleProcess());
        Sleep(kSampleIntervalMs);
    }
}

void ProcessSampler::Record(const ProcessSample& s) {
    InterlockedExchange64(&m_currentPrivate, static_cast<LONG64>(s.privateBytes));
    InterlockedExchange(&m_currentThreads, s.threads);
    RaiseTo(m_peakPrivate, static_cast<LONG64>(s.privateBytes), Cas64);
    RaiseTo(m_peakThreads, s.threads, Cas32);
}

ProcessSample ProcessSampler::Read(const volatile LONG64& bytes, const volatile LONG& threads) {
    return {static_cast<std::uint64_t>(bytes), threads};
}
