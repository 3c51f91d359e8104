#include "service_reports.h"

#include "OVSyslog.h"
#include "forwarding.h"
#include "log_files.h"

void CServiceReports::Tick(ULONGLONG now, bool stopping) {
    if (std::uint64_t dropped = m_overflow.Observe(Dropped(), stopping))
        WriteErrorLog(BacklogFullLine(dropped).c_str());
    // The last values are written once the spool threads have ended, after the supervision.
    if (now - m_statisticsWritten >= kStatisticsEveryMs) {
        WriteStatistics(Dropped());
        m_statisticsWritten = now;
    }
}

void CServiceReports::DrainGivenUp(long left) { WriteErrorLog(GivenUpAtStopLine(left).c_str()); }

void CServiceReports::WriteLast() { WriteStatistics(Dropped()); }

std::uint64_t CServiceReports::Dropped() { return m_dropped.Observe(CSyslogMinitor::getDroppedCount()); }
