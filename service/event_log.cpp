#include "log_files.h"

#include <cstdio>

std::string EventLogName(const SYSTEMTIME& day) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d.log", day.wYear, day.wMonth, day.wDay);
    return name;
}

CEventLog::CEventLog() {
    SYSTEMTIME created;
    GetLocalTime(&created);
    std::string dir = ProgramDirectory();
    if (!dir.empty()) m_path = dir + kEventLogFolder + EventLogName(created);
}

int CEventLog::Flush() {
    if (m_path.empty()) return -1;
    FILE* file = std::fopen(m_path.c_str(), "a");
    if (file == nullptr) return -1;
    std::fclose(file);
    return 0;
}

CEventLog& DailyEventLog() {
    // Built before main; the program ends only after the last flush (see the supervision).
    static CEventLog log;
    return log;
}

namespace {
// Construct it while the process has one thread.
CEventLog& g_eventLogAtStart = DailyEventLog();
}  // namespace
