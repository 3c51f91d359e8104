// Drives OrvaneComm.dll as the service program does: loaded by ordinal, settings in the registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "OrvaneComm.h"

namespace fs = std::filesystem;

namespace {

const char* const kKey = "Software\\Telmora\\Orvane\\StandIn\\Comm";

void SetDword(const char* name, DWORD value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

void SetString(const char* name, const std::string& value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A record whose every byte says which thread and sequence number it belongs to.
std::vector<unsigned char> PatternRecord(int thread, int seq) {
    std::vector<unsigned char> r(orvane_comm::kRecordSize);
    r[0] = static_cast<unsigned char>(thread);
    r[1] = static_cast<unsigned char>(seq);
    for (size_t i = 2; i < r.size(); ++i) r[i] = static_cast<unsigned char>(thread * 7 + seq + i);
    return r;
}

class CommTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        static int serial = 0;
        outbox_ = fs::path(temp) /
                  ("orvane-comm-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial)) /
                  "outbox";
        SetString("OutboxDir", outbox_.string());
        SetDword("RefuseFirst", 0);
        SetDword("RefuseAll", 0);
        SetDword("DelayMs", 0);
        SetString("DelayDestination", "");
        // A fresh load each time resets the library's count of calls.
        module_ = LoadLibraryA("OrvaneComm.dll");
        ASSERT_NE(module_, nullptr) << "error " << GetLastError();
        deliver_ = reinterpret_cast<OrvaneDeliverFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(orvane_comm::kDeliverOrdinal))));
        ASSERT_NE(deliver_, nullptr);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
        std::error_code ec;
        fs::remove_all(outbox_.parent_path(), ec);
    }

    int Deliver(const char* destination, const std::vector<unsigned char>& record) {
        return deliver_(destination, record.data());
    }
    std::string CallsLog() { return ReadAll(outbox_ / "calls.log"); }

    fs::path outbox_;
    HMODULE module_ = nullptr;
    OrvaneDeliverFn deliver_ = nullptr;
};

TEST_F(CommTest, HasNoNamedExport) { EXPECT_EQ(GetProcAddress(module_, "OrvaneDeliver"), nullptr); }

TEST_F(CommTest, StoresRecordsWholeInOrderAndLogsEachCall) {
    auto first = PatternRecord(1, 1), second = PatternRecord(2, 2);
    first[5] = 0;  // NUL bytes inside a record are data, not an end
    EXPECT_EQ(Deliver("ORVANE-LOCAL", first), 1);
    EXPECT_EQ(Deliver("ORVANE-LOCAL", second), 1);
    std::string stored = ReadAll(outbox_ / "ORVANE-LOCAL.evt");
    ASSERT_EQ(stored.size(), 2 * orvane_comm::kRecordSize);
    EXPECT_EQ(std::memcmp(stored.data(), first.data(), first.size()), 0);
    EXPECT_EQ(std::memcmp(stored.data() + first.size(), second.data(), second.size()), 0);
    EXPECT_EQ(CallsLog(), "ORVANE-LOCAL\t1\r\nORVANE-LOCAL\t1\r\n");
}

TEST_F(CommTest, SanitisesDestinationsIntoFileNames) {
    struct Case {
        const char* destination;
        const char* file;
    } cases[] = {
        {"Server.A-1_x", "Server.A-1_x.evt"},
        {"srv/one:2", "srv_one_2.evt"},
        {"a b\\c*?", "a_b_c__.evt"},
        {"", "_empty_.evt"},
        {"\xe9t\xe9", "_t_.evt"},
        {"CON", "_CON.evt"},
        {"nul.x", "_nul.x.evt"},
        {"COM1", "_COM1.evt"},
    };
    auto record = PatternRecord(3, 3);
    for (const Case& c : cases) {
        EXPECT_EQ(Deliver(c.destination, record), 1) << c.destination;
        EXPECT_EQ(fs::file_size(outbox_ / c.file), orvane_comm::kRecordSize) << c.destination;
    }
    EXPECT_EQ(deliver_(nullptr, record.data()), 1);
    EXPECT_EQ(fs::file_size(outbox_ / "_empty_.evt"), 2 * orvane_comm::kRecordSize);
}

TEST_F(CommTest, LogLineKeepsDestinationOnOneLine) {
    EXPECT_EQ(Deliver("a\tb\r\nc", PatternRecord(1, 1)), 1);
    EXPECT_EQ(CallsLog(), "a_b__c\t1\r\n");
}

TEST_F(CommTest, RefuseFirstRefusesOnlyTheFirstCalls) {
    SetDword("RefuseFirst", 2);
    auto record = PatternRecord(4, 4);
    EXPECT_EQ(Deliver("S1", record), 0);
    EXPECT_EQ(Deliver("S1", record), 0);
    EXPECT_EQ(Deliver("S1", record), 1);
    EXPECT_EQ(fs::file_size(outbox_ / "S1.evt"), orvane_comm::kRecordSize);
    EXPECT_EQ(CallsLog(), "S1\t0\r\nS1\t0\r\nS1\t1\r\n");
}

TEST_F(CommTest, RefuseAllStoresNothing) {
    SetDword("RefuseAll", 1);
    auto record = PatternRecord(5, 5);
    EXPECT_EQ(Deliver("S2", record), 0);
    EXPECT_EQ(Deliver("S2", record), 0);
    EXPECT_FALSE(fs::exists(outbox_ / "S2.evt"));
    EXPECT_EQ(CallsLog(), "S2\t0\r\nS2\t0\r\n");
    SetDword("RefuseAll", 0);  // a change takes effect at the next call
    EXPECT_EQ(Deliver("S2", record), 1);
}

TEST_F(CommTest, ChangedOutboxFolderTakesTheNextRecord) {
    auto record = PatternRecord(6, 6);
    ASSERT_EQ(Deliver("S6", record), 1);
    fs::path other = outbox_.parent_path() / "other";
    SetString("OutboxDir", other.string());
    EXPECT_EQ(Deliver("S6", record), 1);
    EXPECT_EQ(fs::file_size(outbox_ / "S6.evt"), orvane_comm::kRecordSize);
    EXPECT_EQ(fs::file_size(other / "S6.evt"), orvane_comm::kRecordSize);
}

// The files stay open between calls: deleting one through Windows must fail rather than take
// the records that follow with it.
TEST_F(CommTest, OpenOutboxFileCannotBeDeletedAndLosesNothing) {
    auto record = PatternRecord(7, 7);
    ASSERT_EQ(Deliver("S7", record), 1);
    EXPECT_FALSE(DeleteFileA((outbox_ / "S7.evt").string().c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(Deliver("S7", record), 1);
    EXPECT_EQ(fs::file_size(outbox_ / "S7.evt"), 2 * orvane_comm::kRecordSize);
}

TEST_F(CommTest, NullRecordIsRefused) {
    EXPECT_EQ(deliver_("S3", nullptr), 0);
    EXPECT_FALSE(fs::exists(outbox_ / "S3.evt"));
    EXPECT_EQ(CallsLog(), "S3\t0\r\n");
}

TEST_F(CommTest, DelayMsHoldsTheAnswer) {
    SetDword("DelayMs", 300);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Deliver("S4", PatternRecord(1, 1)), 1);
    EXPECT_GE(GetTickCount64() - start, 250u);
}

TEST_F(CommTest, DelayDestinationHoldsOnlyItsOwnRecords) {
    // The longest delay: a record held by mistake would take a minute, so half of that is a bound
    // that no loaded machine reaches otherwise.
    SetDword("DelayMs", 60000);
    SetString("DelayDestination", "SLOW");
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Deliver("FAST", PatternRecord(1, 1)), 1);
    EXPECT_LT(GetTickCount64() - start, 30000u);
    SetDword("DelayMs", 300);
    start = GetTickCount64();
    EXPECT_EQ(Deliver("SLOW", PatternRecord(1, 2)), 1);
    EXPECT_GE(GetTickCount64() - start, 250u);
}

TEST_F(CommTest, ManyThreadsNeverInterleave) {
    constexpr int kThreads = 32, kPerThread = 50;
    const char* destinations[] = {"EVEN", "ODD"};
    std::vector<std::thread> threads;
    std::atomic<int> stored{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int s = 0; s < kPerThread; ++s) stored += Deliver(destinations[t % 2], PatternRecord(t, s));
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(stored.load(), kThreads * kPerThread);

    std::map<std::pair<int, int>, int> seen;
    for (int d = 0; d < 2; ++d) {
        std::string data = ReadAll(outbox_ / (std::string(destinations[d]) + ".evt"));
        ASSERT_EQ(data.size() % orvane_comm::kRecordSize, 0u);
        for (size_t off = 0; off < data.size(); off += orvane_comm::kRecordSize) {
            int t = static_cast<unsigned char>(data[off]), s = static_cast<unsigned char>(data[off + 1]);
            auto expected = PatternRecord(t, s);
            ASSERT_EQ(std::memcmp(data.data() + off, expected.data(), expected.size()), 0)
                << destinations[d] << " record at " << off << " is torn";
            EXPECT_EQ(t % 2, d);
            ++seen[{t, s}];
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread));
    for (auto& [key, count] : seen) EXPECT_EQ(count, 1) << key.first << "/" << key.second;

    std::istringstream log(CallsLog());
    std::map<std::string, int> lines;
    for (std::string line; std::getline(log, line);) ++lines[line];
    EXPECT_EQ(lines["EVEN\t1\r"], kThreads * kPerThread / 2);
    EXPECT_EQ(lines["ODD\t1\r"], kThreads * kPerThread / 2);
    EXPECT_EQ(lines.size(), 2u) << "a torn or stray line in calls.log";
}

TEST_F(CommTest, DefaultOutboxWhenUnset) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "OutboxDir");
    RegCloseKey(key);
    std::string stem = "default-" + std::to_string(GetCurrentProcessId());
    fs::path file = fs::path("C:\\OrvaneOutbox") / (stem + ".evt");
    // Wine hands out process ids again: an earlier run's file may carry this one's name.
    std::error_code ec;
    fs::remove(file, ec);
    ASSERT_FALSE(fs::exists(file)) << file << ": " << ec.message();
    EXPECT_EQ(Deliver(stem.c_str(), PatternRecord(1, 1)), 1);
    EXPECT_EQ(fs::file_size(file), orvane_comm::kRecordSize);
    // The library holds its outbox files open until it is unloaded, and refuses their deletion.
    FreeLibrary(module_);
    module_ = nullptr;
    EXPECT_TRUE(fs::remove(file, ec)) << file << ": " << ec.message();
}

TEST_F(CommTest, CreatesMissingOutboxFolders) {
    fs::path nested = outbox_ / "deeper" / "still";
    SetString("OutboxDir", nested.string());
    EXPECT_EQ(Deliver("S5", PatternRecord(1, 1)), 1);
    EXPECT_EQ(fs::file_size(nested / "S5.evt"), orvane_comm::kRecordSize);
}

}  // namespace
