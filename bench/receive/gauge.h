// A count of things alive at once, with its peak; safe from any number of threads.
#pragma once

#include <windows.h>

class Gauge {
public:
    void Enter() {
        LONG now = InterlockedIncrement(&m_live);
        for (LONG peak = m_peak; now > peak; peak = m_peak)
            if (InterlockedCompareExchange(&m_peak, now, peak) == peak) break;
    }
    void Leave() { InterlockedDecrement(&m_live); }
    LONG live() const { return m_live; }
    LONG peak() const { return m_peak; }
    // Restarts the peak from what is alive now.
    void ResetPeak() { InterlockedExchange(&m_peak, m_live); }

private:
    volatile LONG m_live = 0;
    volatile LONG m_peak = 0;
};
