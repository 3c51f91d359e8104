#include "log_files.h"

#include <mbstring.h>

#include <cstdio>

#include "ovwin/handles.h"
#include "ovwin/locks.h"

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    // Multibyte-aware, so that a trail byte is never taken for a backslash.
    unsigned char* last = _mbsrchr(reinterpret_cast<unsigned char*>(path), '\\');
    if (last == nullptr) return {};
    return std::string(path, reinterpret_cast<char*>(last) + 1);
}

std::string ErrorLogLine(const SYSTEMTIME& t, const char* message) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%4d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    return std::string(stamp) + "\t" + message + "\r\n";
}

namespace {

// Wine does not make an append-only write atomic on its own, so this process takes turns. Never
// destroyed: a datagram thread may still write a line while the program ends.
ovwin::CriticalSection& AppendTurns() {
    static auto* turns = new ovwin::CriticalSection;
    return *turns;
}

}  // namespace

void AppendLine(const std::string& path, const std::string& line) {
    ovwin::CriticalLock turn(AppendTurns());
    // Append-only access: each write lands at the end as one piece.
    ovwin::UniqueFile file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void WriteErrorLog(const char* message) {
    if (message == nullptr) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string line = ErrorLogLine(now, message);
    std::string dir = ProgramDirectory();
    if (dir.empty()) return;
    AppendLine(dir + kErrorLogName, line);
}
