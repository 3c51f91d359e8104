// What the running service tells an operator on its own: an error-log line per overflow episode
// and per stop that gave up on messages, and its counters under the Statistics key.
#pragma once

#include <windows.h>

#include <cstdint>

#include "overflow_report.h"

// Owned by the service and driven from the supervision's thread only, so it needs no lock.
class CServiceReports {
public:
    // About every tick while the worker runs; at the stop's last tick `stopping` is set, and what
    // was dropped and not yet told is told then.
    void Tick(ULONGLONG now, bool stopping);
    void DrainGivenUp(long left);
    // The counters' last values, once the spool threads have ended.
    void WriteLast();

private:
    // The datagrams dropped since the program started, widened from the library's 32-bit count.
    std::uint64_t Dropped();

    CWidenedCount m_dropped;
    COverflowReport m_overflow;
    ULONGLONG m_statisticsWritten = 0;
};
