// Delivery with the spool behind it, over real files and a delivery function that refuses at will.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "event_record.h"
#include "spool_format.h"
#include "store_forward.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A record that says who sent it and its number in that sender's order.
EventRecord Record(int sender, int seq) {
    EventRecord r{};
    std::snprintf(reinterpret_cast<char*>(r.data()) + kTextOffset, kTextSize, "sender %d seq %d", sender, seq);
    return r;
}

bool Parse(const unsigned char* r, int* sender, int* seq) {
    return std::sscanf(reinterpret_cast<const char*>(r) + kTextOffset, "sender %d seq %d", sender, seq) == 2;
}

class FakeSuite : public IStoreForwardPlatform {
public:
    explicit FakeSuite(std::string folder) : m_folder(std::move(folder)) {}

    int Deliver(const std::string& destination, const unsigned char* record) override {
        std::unique_lock<std::mutex> lock(m_lock);
        ++m_entered;
        m_cv.notify_all();
        m_cv.wait_for(lock, 10s, [&] { return !m_hang; });
        ++m_calls[destination];
        if (m_refusing.count(destination) != 0) return 0;
        int sender = -1, seq = -1;
        EXPECT_TRUE(Parse(record, &sender, &seq));
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
    std::unique_ptr<ISpoolFolder> Folder() override { return MakeSpoolFolder(m_folder); }

    void Refuse(const std::string& destination, bool on) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (on) m_refusing.insert(destination);
        else m_refusing.erase(destination);
    }
    void Hang(bool on) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_hang = on;
        m_cv.notify_all();
    }
    // Waits until the destination has accepted count records; false after the bound.
    bool WaitFor(const std::string& destination, std::size_t count, std::chrono::seconds bound = 20s) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, bound, [&] { return m_got[destination].size() >= count; });
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
    int m_entered = 0;
    std::set<std::string> m_refusing;
    std::map<std::string, std::vector<std::pair<int, int>>> m_got;
    std::map<std::string, int> m_calls;
    std::vector<std::string> m_lines;
};

// Each sender's records exactly once and in its order; the senders interleave freely.
void ExpectEachSenderInOrder(const std::vector<std::pair<int, int>>& got, int senders, int perSender) {
    std::vector<int> next(senders, 0);
    for (const auto& r : got) {
        ASSERT_GE(r.first, 0);
        ASSERT_LT(r.first, senders);
        ASSERT_EQ(r.second, next[r.first]) << "sender " << r.first;
        ++next[r.first];
    }
    for (int s = 0; s < senders; ++s) EXPECT_EQ(next[s], perSender) << "sender " << s;
}

class StoreForward : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/store_forward_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

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

TEST_F(StoreForward, ARefusingDestinationCatchesUpInOrderWhileTheOtherGoesOn) {
    constexpr int kSenders = 4, kEach = 300;
    FakeSuite suite(Spool());
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    forward.Start();
    suite.Refuse("down", true);
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int i = 0; i < kEach; ++i) {
                EventRecord r = Record(s, i);
                forward.Deliver("down", r.data());
                forward.Deliver("up", r.data());
                // The outage ends part way, while every sender is still sending.
                if (s == 0 && i == kEach / 2) suite.Refuse("down", false);
                if (i % 16 == 0) std::this_thread::sleep_for(1ms);
            }
        });
    }
    for (std::thread& t : senders) t.join();
    ASSERT_TRUE(suite.WaitFor("down", kSenders * kEach));
    // Back to direct delivery once the spool thread finds the spool empty.
    ASSERT_TRUE(suite.WaitLines("delivery resumed", suite.LinesWith("delivery refused")));
    ASSERT_TRUE(forward.Stop(5000));

    ExpectEachSenderInOrder(suite.Got("down"), kSenders, kEach);
    ExpectEachSenderInOrder(suite.Got("up"), kSenders, kEach);
    ForwardCounters c = forward.Counters();
    EXPECT_GT(c.spooled, 0u);
    EXPECT_EQ(c.redelivered, c.spooled);
    EXPECT_EQ(c.forwarded + c.redelivered, 2u * kSenders * kEach);
    EXPECT_EQ(c.spoolFull + c.givenUp, 0u);
    ASSERT_EQ(c.spools.size(), 1u);
    EXPECT_EQ(c.spools[0].destination, "down");
    EXPECT_EQ(c.spools[0].records, 0u);
    EXPECT_GE(suite.LinesWith("delivery refused"), 1);
}

TEST_F(StoreForward, ARestartDeliversWhatAnEarlierRunSpooled) {
    constexpr int kRecords = 120;
    {
        FakeSuite suite(Spool());
        suite.Refuse("nms/one", true);
        CStoreAndForward forward(suite, SpoolLimits{}, Fast());
        forward.Start();
        for (int i = 0; i < kRecords; ++i) {
            EventRecord r = Record(0, i);
            EXPECT_NE(forward.Deliver("nms/one", r.data()), DeliveryOutcome::kDelivered);
        }
        ASSERT_TRUE(forward.Stop(5000));
        EXPECT_EQ(forward.Counters().spools.at(0).records, static_cast<std::uint64_t>(kRecords));
    }
    FakeSuite suite(Spool());
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    forward.Start();
    // A new record waits behind the earlier run's.
    EventRecord late = Record(0, kRecords);
    forward.Deliver("nms/one", late.data());
    ASSERT_TRUE(suite.WaitFor("nms/one", kRecords + 1));
    ASSERT_TRUE(forward.Stop(5000));
    ExpectEachSenderInOrder(suite.Got("nms/one"), 1, kRecords + 1);
    EXPECT_EQ(forward.Counters().redelivered, static_cast<std::uint64_t>(kRecords + 1));
}

TEST_F(StoreForward, AFullSpoolDropsTellsOnceAndDeliversWhatItKept) {
    FakeSuite suite(Spool());
    SpoolLimits limits;
    limits.maxBytes = 10 * (kFrameHeaderBytes + kEventRecordSize);
    CStoreAndForward forward(suite, limits, Fast());
    forward.Start();
    suite.Refuse("a", true);
    int dropped = 0;
    for (int i = 0; i < 25; ++i) {
        EventRecord r = Record(0, i);
        dropped += forward.Deliver("a", r.data()) == DeliveryOutcome::kDropped;
    }
    ForwardCounters c = forward.Counters();
    EXPECT_EQ(c.spooled, 10u);
    EXPECT_EQ(c.spoolFull, 15u);
    EXPECT_EQ(dropped, 15);
    EXPECT_LE(c.spools.at(0).bytes, limits.maxBytes);
    EXPECT_EQ(suite.LinesWith("spool full"), 1);

    suite.Refuse("a", false);
    ASSERT_TRUE(suite.WaitFor("a", 10));
    EventRecord after = Record(0, 10);
    forward.Deliver("a", after.data());
    ASSERT_TRUE(suite.WaitFor("a", 11));
    ASSERT_TRUE(forward.Stop(5000));
    ExpectEachSenderInOrder(suite.Got("a"), 1, 11);
}

TEST_F(StoreForward, AnUnwritableFolderGivesUpAsBeforeAndDeliveryGoesOn) {
    // The spool folder's parent is a file: nothing can be made there.
    std::string blocker = m_dir + "/file";
    std::FILE* f = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    FakeSuite suite(blocker + "/spool");
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    forward.Start();
    suite.Refuse("a", true);
    for (int i = 0; i < 3; ++i) {
        EventRecord r = Record(0, i);
        EXPECT_EQ(forward.Deliver("a", r.data()), DeliveryOutcome::kDropped);
    }
    EXPECT_EQ(suite.Calls("a"), 3 * kDirectAttempts);
    EXPECT_EQ(forward.Counters().givenUp, 3u);
    EXPECT_EQ(suite.LinesWith("cannot be written"), 1);
    suite.Refuse("a", false);
    EventRecord r = Record(0, 3);
    EXPECT_EQ(forward.Deliver("a", r.data()), DeliveryOutcome::kDelivered);
    ASSERT_TRUE(forward.Stop(5000));
}

TEST_F(StoreForward, AStopSpoolsARetryingRecordAtOnceAndEndsWithinItsBound) {
    FakeSuite suite(Spool());
    suite.retryWaitMs = 60000;  // without the stop, one record would take ten minutes
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    forward.Start();
    suite.Refuse("a", true);
    std::atomic<int> outcome{-1};
    std::thread sender([&] {
        EventRecord r = Record(0, 0);
        outcome = static_cast<int>(forward.Deliver("a", r.data()));
    });
    ASSERT_TRUE(suite.WaitEntered(1));
    auto start = std::chrono::steady_clock::now();
    forward.Stopping();
    sender.join();
    EXPECT_EQ(outcome, static_cast<int>(DeliveryOutcome::kSpooled));
    EXPECT_EQ(suite.Calls("a"), 1);

    // The spool thread stuck inside a delivery: Stop says so within its bound, and the records'
    // position is written all the same.
    suite.Refuse("a", false);
    suite.Hang(true);
    ASSERT_TRUE(suite.WaitEntered(2));
    EXPECT_FALSE(forward.Stop(200));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    suite.Hang(false);
}

}  // namespace
