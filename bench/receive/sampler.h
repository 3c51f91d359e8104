// Samples the process's private bytes and thread count on a thread of its own, so that the
// receiving threads never pay for it.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr DWORD kSampleIntervalMs = 100;

struct ProcessSample {
    std::uint64_t privateBytes;
    long threads;  // -1 when the snapshot failed
};

// One reading of this process, taken now.
ProcessSample SampleProcess();

class ProcessSampler {
public:
    bool Start();  // false when the sampling thread could not start
    // Restarts the peaks from the current reading and keeps that reading as the idle baseline.
    void ResetPeaks();

    ProcessSample current() const { return Read(m_currentPrivate, m_currentThreads); }
    ProcessSample peak() const { return Read(m_peakPrivate, m_peakThreads); }
    ProcessSample idle() const { return Read(m_idlePrivate, m_idleThreads); }

private:
    static unsigned __stdcall Run(void* self);
    void Record(const ProcessSample& s);
    static ProcessSample Read(const volatile LONG64& bytes, const volatile LONG& threads);

    volatile LONG64 m_currentPrivate = 0, m_peakPrivate = 0, m_idlePrivate = 0;
    volatile LONG m_currentThreads = 0, m_peakThreads = 0, m_idleThreads = 0;
};
