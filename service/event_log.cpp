#include "log_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

CEventLog::CEventLog() : m_pBuffer(static_cast<char*>(std::malloc(kEventLogBufferBytes))) {
    GetLocalTime(&m_created);
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d.log", m_created.wYear, m_created.wMonth,
                  m_created.wDay);
    std::string dir = ProgramDirectory();
    if (dir.empty()) return;
    std::string full = dir + kEventLogFolder + name;
    std::free(m_pszPath);
    m_pszPath = static_cast<char*>(std::malloc(full.size() + 1));
    if (m_pszPath != nullptr) std::memcpy(m_pszPath, full.c_str(), full.size() + 1);
}

CEventLog::~CEventLog() {
    std::free(m_pszPath);
    std::free(m_pBuffer);
}

int CEventLog::Flush() {
    if (m_pszPath == nullptr) return -1;
    FILE* file = std::fopen(m_pszPath, "a");
    if (file == nullptr) return -1;
    if (m_dwLength > 0 && m_pBuffer != nullptr) std::fwrite(m_pBuffer, m_dwLength, 1, file);
    std::fclose(file);
    m_dwLength = 0;
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
