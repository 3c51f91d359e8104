// The error log and the daily event log, both beside the program file.
#pragma once

#include <windows.h>

#include <string>

constexpr const char* kErrorLogName = "OVSyslog.log";
constexpr const char* kEventLogFolder = "evtlog\\";

// Error-log lines.
constexpr const char* kLogComFailed = "Failed to initialize COM !";
constexpr const char* kLogWorkerThreadFailed = "Failed to create Radius handle thread !";
constexpr const char* kLogPortIncorrect = "Syslog properties : Port is incorrect !";
constexpr const char* kLogSocketLibFailed = "Failed to initialize syslog Socket lib!";
constexpr const char* kLogSocketFailed = "Failed to create syslog socket!";
// printf format: the refused text, the bounds, the size used instead.
constexpr const char* kLogRecvBufferRefused =
    "Syslog properties : RecvBufferSize %s is not from %lu to %lu, %lu used !";

// The directory of the program file with its trailing backslash; empty when there is none.
std::string ProgramDirectory();

// "YYYY-MM-DD hh:mm:ss\t<message>\r\n".
std::string ErrorLogLine(const SYSTEMTIME& time, const char* message);

// Appends one whole line in one write, so that lines of concurrent callers never interleave.
void AppendLine(const std::string& path, const std::string& line);

void WriteErrorLog(const char* message);

// "YYYYMMDD.log": the daily event log's file name for the day.
std::string EventLogName(const SYSTEMTIME& day);

// The daily event log: named by the program's start date, flushed by the supervision. Nothing
// writes events into it: a flush only makes sure the day's file exists, as it always has.
class CEventLog {
public:
    CEventLog();
    CEventLog(const CEventLog&) = delete;
    CEventLog& operator=(const CEventLog&) = delete;

    // 0 when the file was opened, -1 when it could not be or there is no path.
    int Flush();
    // Null when the program's folder is unknown.
    const char* path() const { return m_path.empty() ? nullptr : m_path.c_str(); }

private:
    std::string m_path;
};

CEventLog& DailyEventLog();
