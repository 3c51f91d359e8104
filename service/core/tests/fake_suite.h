// Test support for the delivery core: records that say who sent them and their place in that
// sender's order, and a suite that refuses, hangs and records every call at will.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "event_record.h"
#include "spool.h"
#include "store_forward.h"

namespace fake_suite {

using namespace std::chrono_literals;

// A record that says who sent it and its number in that sender's order; the sender is its host too.
inline EventRecord Record(int sender, int seq) {
    EventRecord r{};
    std::snprintf(reinterpret_cast<char*>(r.data()) + kHostOffset, kHostSize, "sender%d", sender);
    std::snprintf(reinterpret_cast<char*>(r.data()) + kTextOffset, kTextSize, "sender %d seq %d", sender,
                  seq);
    return r;
}

inline bool Parse(const unsigned char* r, int* sender, int* seq) {
    return std::sscanf(reinterpret_cast<const char*>(r) + kTextOffset, "sender %d seq %d", sender, seq) == 2;
}

class FakeSuite : public IStoreForwardPlatform {
public:
    explicit FakeSuite(std::string folder) : m_folder(std::move(folder)) {}

    int Deliver(const std::string& destination, const unsigned char* record) override {
        std::unique_lock<std::mutex> lock(m_lock);
        ++m_entered;
        ++m_inFlight;
        m_maxInFlight = std::max(m_maxInFlight, m_inFlight);
        m_cv.notify_all();
        struct Leave {
            FakeSuite& s;
            ~Leave() { --s.m_inFlight; }
        } leave{*this};
        m_cv.wait_for(lock, 10s, [&] { return !m_hang && m_hung.count(destination) == 0; });
        // The first calls wait for one another: only deliveries made side by side get through.
        if (m_gather > 0 && m_cv.wait_for(lock, 10s, [&] { return m_inFlight >= m_gather; })) m_gather = 0;
        ++m_calls[destination];
        m_cv.notify_all();
        int sender = -1, seq = -1;
        EXPECT_TRUE(Parse(record, &sender, &seq));
        int& next = m_refuseNext[destination];
        bool refused = m_refusing.count(destination) != 0 || (next > 0 && next-- > 0);
        m_log.push_back({destination, sender, seq, !refused});
        if (refused) return 0;
        m_got[destination].push_back({sender, seq});
        m_cv.notify_all();
        return kRecordAccepted;
    }
    unsigned RetryWaitMs() override { return retryWaitMs; }
    void Log(const std::string& line) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_lines.push_back(line);
        m_cv.notify_all();
    }
    std::unique_ptr<ISpoolFolder> Folder() override {
        std::unique_ptr<ISpoolFolder> folder = MakeSpoolFolder(m_folder);
        return wrapFolder ? wrapFolder(std::move(folder)) : std::move(folder);
    }

    void Refuse(const std::string& destination, bool on) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (on)
            m_refusing.insert(destination);
        else
            m_refusing.erase(destination);
    }
    // The next `calls` calls to the destination are refused.
    void RefuseNext(const std::string& destination, int calls) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_refuseNext[destination] = calls;
    }
    void Hang(bool on) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_hang = on;
        m_cv.notify_all();
    }
    void HangOnly(const std::string& destination, bool on) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (on)
            m_hung.insert(destination);
        else
            m_hung.erase(destination);
        m_cv.notify_all();
    }
    // The next deliveries wait until `count` are under way at once (or 10 s pass).
    void Gather(int count) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_gather = count;
    }
    int MaxInFlight() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_maxInFlight;
    }
    // Waits until the destination has accepted count records; false after the bound.
    bool WaitFor(const std::string& destination, std::size_t count, std::chrono::seconds bound = 20s) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, bound, [&] { return m_got[destination].size() >= count; });
    }
    // Every call in the order they were answered.
    struct Call {
        std::string destination;
        int sender, seq;
        bool accepted;
    };
    std::vector<Call> Log() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_log;
    }
    std::vector<std::pair<int, int>> Got(const std::string& destination) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_got[destination];
    }
    // Waits until count calls have begun, hanging ones included.
    bool WaitEntered(int count) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, 10s, [&] { return m_entered >= count; });
    }
    bool WaitCalls(const std::string& destination, int count) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, 10s, [&] { return m_calls[destination] >= count; });
    }
    int Calls(const std::string& destination) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls[destination];
    }
    int LinesWith(const std::string& part) {
        std::lock_guard<std::mutex> lock(m_lock);
        return CountLines(part);
    }
    bool WaitLines(const std::string& part, int count) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, 20s, [&] { return CountLines(part) >= count; });
    }

    std::atomic<unsigned> retryWaitMs{1};
    std::function<std::unique_ptr<ISpoolFolder>(std::unique_ptr<ISpoolFolder>)> wrapFolder;

private:
    int CountLines(const std::string& part) const {
        int n = 0;
        for (const std::string& line : m_lines) n += line.find(part) != std::string::npos;
        return n;
    }

    std::string m_folder;
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_hang = false;
    std::set<std::string> m_hung;
    int m_gather = 0;
    int m_inFlight = 0, m_maxInFlight = 0;
    int m_entered = 0;
    std::set<std::string> m_refusing;
    std::map<std::string, std::vector<std::pair<int, int>>> m_got;
    std::map<std::string, int> m_calls;
    std::map<std::string, int> m_refuseNext;
    std::vector<Call> m_log;
    std::vector<std::string> m_lines;
};

// Each sender's records exactly once and in its order; the senders interleave freely.
inline void ExpectEachSenderInOrder(const std::vector<std::pair<int, int>>& got, int senders, int perSender) {
    std::vector<int> next(senders, 0);
    for (const auto& r : got) {
        ASSERT_GE(r.first, 0);
        ASSERT_LT(r.first, senders);
        ASSERT_EQ(r.second, next[r.first]) << "sender " << r.first;
        ++next[r.first];
    }
    for (int s = 0; s < senders; ++s) EXPECT_EQ(next[s], perSender) << "sender " << s;
}

// A test with a spool folder of its own, and back-offs short enough for a test.
class SpoolFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/store_forward_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Spool() const { return m_dir + "/spool"; }
    static StoreForwardTimes Fast() {
        StoreForwardTimes t;
        t.firstBackoffMs = 5;
        t.lastBackoffMs = 40;
        t.flushMs = 20;
        return t;
    }

    std::string m_dir;
};

}  // namespace fake_suite
