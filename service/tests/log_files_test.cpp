#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "log_files.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name + std::to_string(GetCurrentProcessId());
}

TEST(ErrorLog, LineHasStampTabMessageAndCrLf) {
    SYSTEMTIME t = {};
    t.wYear = 2008, t.wMonth = 12, t.wDay = 17, t.wHour = 9, t.wMinute = 5, t.wSecond = 3;
    EXPECT_EQ(ErrorLogLine(t, "x"), "2008-12-17 09:05:03\tx\r\n");
    t.wYear = 987, t.wMonth = 1, t.wDay = 2, t.wHour = 23, t.wMinute = 59, t.wSecond = 58;
    EXPECT_EQ(ErrorLogLine(t, ""), " 987-01-02 23:59:58\t\r\n");
}

TEST(ErrorLog, ProgramDirectoryEndsInBackslash) {
    std::string dir = ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    EXPECT_EQ(std::string(path).rfind(dir, 0), 0u) << path;
}

struct Writer {
    std::string path;
    std::string line;
    int count;
};

unsigned __stdcall WriteLines(void* p) {
    auto* w = static_cast<Writer*>(p);
    for (int i = 0; i < w->count; ++i) AppendLine(w->path, w->line);
    return 0;
}

TEST(ErrorLog, ConcurrentLinesNeverInterleave) {
    std::string path = TempPath("ovs-lines-");
    DeleteFileA(path.c_str());
    constexpr int kThreads = 8, kLines = 200;
    std::vector<Writer> writers;
    for (int i = 0; i < kThreads; ++i)
        writers.push_back(
            {path, "thread " + std::to_string(i) + " " + std::string(300 + i, 'a' + i) + "\r\n", kLines});
    std::vector<HANDLE> threads;
    for (auto& w : writers)
        threads.push_back(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WriteLines, &w, 0, nullptr)));
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE h : threads) CloseHandle(h);

    std::set<std::string> valid;
    for (auto& w : writers) valid.insert(w.line.substr(0, w.line.size() - 2));
    std::istringstream in(ReadAll(path));
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        ASSERT_TRUE(valid.count(line)) << "mixed line of " << line.size() << " bytes: " << line.substr(0, 40);
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kLines);
    DeleteFileA(path.c_str());
}

TEST(ErrorLog, NullMessageWritesNothing) {
    std::string log = ProgramDirectory() + kErrorLogName;
    std::string before = ReadAll(log);
    WriteErrorLog(nullptr);
    EXPECT_EQ(ReadAll(log), before);
}

TEST(EventLog, NameIsTheDayWithFourDigitYearAndTwoDigitMonthAndDay) {
    const struct {
        WORD year, month, day;
        const char* name;
    } cases[] = {
        {2008, 12, 17, "20081217.log"},
        {2024, 1, 2, "20240102.log"},
        {987, 3, 4, "09870304.log"},
        {2099, 12, 31, "20991231.log"},
    };
    for (const auto& c : cases) {
        SYSTEMTIME day = {};
        day.wYear = c.year, day.wMonth = c.month, day.wDay = c.day, day.wHour = 23;
        EXPECT_EQ(EventLogName(day), c.name);
    }
}

TEST(EventLog, PathIsADayNameUnderEvtlog) {
    CEventLog log;
    ASSERT_NE(log.path(), nullptr);
    std::string path = log.path(), folder = ProgramDirectory() + "evtlog\\";
    ASSERT_EQ(path.rfind(folder, 0), 0u) << path;
    std::string name = path.substr(folder.size());
    ASSERT_EQ(name.size(), 12u) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789"), 8u) << name;
    EXPECT_EQ(name.substr(8), ".log");
}

TEST(EventLog, FlushNeedsTheFolderAndCreatesAnEmptyFile) {
    std::string folder = ProgramDirectory() + "evtlog";
    CEventLog log;
    DeleteFileA(log.path());
    RemoveDirectoryA(folder.c_str());
    EXPECT_EQ(log.Flush(), -1);
    EXPECT_EQ(GetFileAttributesA(log.path()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(log.Flush(), 0);
    EXPECT_NE(GetFileAttributesA(log.path()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadAll(log.path()), "");
    EXPECT_EQ(log.Flush(), 0);
    EXPECT_EQ(ReadAll(log.path()), "");
    DeleteFileA(log.path());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
