// Delivery with the spool behind it, over real files and a delivery function that refuses at will.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "event_record.h"
#include "fake_suite.h"
#include "spool_format.h"
#include "store_forward.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using namespace fake_suite;

// A folder whose segment reads wait at a gate, and one of whose segments cannot be opened.
struct Gate {
    std::mutex lock;
    std::condition_variable cv;
    bool open = true;
    int reads = 0;           // segment opens for reading, the waiting ones included
    int timedOut = 0;        // reads let through by the bound, not by Set
    std::string unreadable;  // from its second open for reading on: the first is the scan's
    int unreadableOpens = 0;

    void Set(bool on) {
        std::lock_guard<std::mutex> l(lock);
        open = on;
        cv.notify_all();
    }
    bool WaitReads(int count) {
        std::unique_lock<std::mutex> l(lock);
        return cv.wait_for(l, 10s, [&] { return reads >= count; });
    }
    int Reads() {
        std::lock_guard<std::mutex> l(lock);
        return reads;
    }
};

class GatedFolder : public ISpoolFolder {
public:
    GatedFolder(std::unique_ptr<ISpoolFolder> inner, Gate& gate) : m_inner(std::move(inner)), m_gate(gate) {}

    bool Create() override { return m_inner->Create(); }
    bool List(std::vector<std::string>* names) override { return m_inner->List(names); }
    std::unique_ptr<ISpoolFile> Open(const std::string& name, bool create) override {
        return m_inner->Open(name, create);
    }
    std::unique_ptr<ISpoolFile> OpenForReading(const std::string& name) override {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".spl") == 0) {
            std::unique_lock<std::mutex> l(m_gate.lock);
            ++m_gate.reads;
            m_gate.cv.notify_all();
            if (!m_gate.cv.wait_for(l, 10s, [&] { return m_gate.open; })) ++m_gate.timedOut;
            if (name == m_gate.unreadable && ++m_gate.unreadableOpens > 1) return nullptr;
        }
        return m_inner->OpenForReading(name);
    }
    bool Remove(const std::string& name) override { return m_inner->Remove(name); }
    bool Rename(const std::string& from, const std::string& to) override { return m_inner->Rename(from, to); }
    bool ReadSmall(const std::string& name, std::string* bytes) override {
        return m_inner->ReadSmall(name, bytes);
    }
    bool Replace(const std::string& name, const std::string& bytes) override {
        return m_inner->Replace(name, bytes);
    }

private:
    std::unique_ptr<ISpoolFolder> m_inner;
    Gate& m_gate;
};

using StoreForward = SpoolFolderTest;

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
    // The late record came from the spool unless the drain had emptied it first.
    ForwardCounters c = forward.Counters();
    EXPECT_GE(c.redelivered, static_cast<std::uint64_t>(kRecords));
    EXPECT_EQ(c.redelivered + c.forwarded, static_cast<std::uint64_t>(kRecords + 1));
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
    ASSERT_TRUE(suite.WaitCalls("a", 1));
    // From here every delivery waits inside the suite: the drain's first one too.
    suite.Hang(true);
    auto start = std::chrono::steady_clock::now();
    forward.Stopping();
    sender.join();
    EXPECT_EQ(outcome, static_cast<int>(DeliveryOutcome::kSpooled));
    EXPECT_EQ(suite.Calls("a"), 1);

    // The drain stuck inside a delivery: Stop says so within its bound, and the records'
    // position is written all the same.
    suite.Refuse("a", false);
    ASSERT_TRUE(suite.WaitEntered(2));
    EXPECT_FALSE(forward.Stop(200));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    suite.Hang(false);
}

// A slow or hung destination must not hold another destination's drain, nor the disk.
TEST_F(StoreForward, AHungDestinationHoldsNeitherAnotherDrainNorTheFlush) {
    constexpr int kRecords = 100;  // more than any one turn of a shared drain
    FakeSuite suite(Spool());
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    forward.Start();
    // Named so that the hung one comes first in any walk over the destinations.
    suite.Refuse("a-hung", true);
    suite.Refuse("b-ok", true);
    for (int i = 0; i < kRecords; ++i) {
        EventRecord r = Record(0, i);
        forward.Deliver("a-hung", r.data());
        forward.Deliver("b-ok", r.data());
    }
    suite.HangOnly("a-hung", true);
    suite.Refuse("a-hung", false);
    suite.Refuse("b-ok", false);
    ASSERT_TRUE(suite.WaitFor("b-ok", kRecords, 8s)) << "b got " << suite.Got("b-ok").size();
    ExpectEachSenderInOrder(suite.Got("b-ok"), 1, kRecords);
    // Its delivered segments go once the flush has saved a position past them.
    bool flushed = false;
    for (auto until = std::chrono::steady_clock::now() + 8s;
         !flushed && std::chrono::steady_clock::now() < until;) {
        flushed = true;
        for (const auto& e : fs::directory_iterator(Spool()))
            if (e.path().filename().string().rfind(SpoolName("b-ok") + ".", 0) == 0 &&
                e.path().extension() == ".spl")
                flushed = false;
        if (!flushed) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(flushed) << "b's delivered segments are still there while a hangs";
    suite.HangOnly("a-hung", false);
    ASSERT_TRUE(suite.WaitFor("a-hung", kRecords));
    ASSERT_TRUE(forward.Stop(5000));
}

TEST_F(StoreForward, ASpoolDeliversSeveralSendersAtOnceEachInItsOrder) {
    constexpr int kSenders = 4, kEach = 50;
    FakeSuite suite(Spool());
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    forward.Start();
    suite.Refuse("a", true);
    for (int i = 0; i < kEach; ++i)
        for (int s = 0; s < kSenders; ++s) {
            EventRecord r = Record(s, i);
            forward.Deliver("a", r.data());
        }
    suite.Gather(kSenders);
    suite.Refuse("a", false);
    ASSERT_TRUE(suite.WaitFor("a", kSenders * kEach));
    ASSERT_TRUE(forward.Stop(5000));
    EXPECT_GE(suite.MaxInFlight(), kSenders) << "the senders' records were delivered one at a time";
    ExpectEachSenderInOrder(suite.Got("a"), kSenders, kEach);
}

// The start reads no spool: the drain does, and new records wait behind what it has not read.
TEST_F(StoreForward, AStartWaitsForNoSpoolAndNewRecordsGoBehindIt) {
    constexpr int kRecords = 50;
    {
        FakeSuite suite(Spool());
        CStoreAndForward forward(suite, SpoolLimits{}, Fast());
        forward.Start();
        suite.Refuse("a", true);
        for (int i = 0; i < kRecords; ++i) {
            EventRecord r = Record(0, i);
            forward.Deliver("a", r.data());
        }
        ASSERT_TRUE(forward.Stop(5000));
    }
    Gate gate;
    gate.open = false;
    FakeSuite suite(Spool());
    suite.wrapFolder = [&](std::unique_ptr<ISpoolFolder> inner) {
        return std::unique_ptr<ISpoolFolder>(new GatedFolder(std::move(inner), gate));
    };
    CStoreAndForward forward(suite, SpoolLimits{}, Fast());
    forward.Start();  // a start that read the spool would wait at the gate until its bound
    ASSERT_TRUE(gate.WaitReads(1)) << "the drain reads what the earlier run left";
    EventRecord late = Record(0, kRecords);
    EXPECT_EQ(forward.Deliver("a", late.data()), DeliveryOutcome::kSpooled);
    EXPECT_EQ(suite.Calls("a"), 0);
    gate.Set(true);
    ASSERT_TRUE(suite.WaitFor("a", kRecords + 1));
    ASSERT_TRUE(forward.Stop(5000));
    ExpectEachSenderInOrder(suite.Got("a"), 1, kRecords + 1);
    std::lock_guard<std::mutex> l(gate.lock);
    EXPECT_EQ(gate.timedOut, 0) << "a read waited for the gate's bound: the start read the spool";
}

TEST_F(StoreForward, ASegmentThatCannotBeReadIsSetAsideToldAndCounted) {
    SpoolLimits limits;
    limits.segmentBytes = 10 * (kFrameHeaderBytes + kEventRecordSize);
    {
        FakeSuite suite(Spool());
        CStoreAndForward forward(suite, limits, Fast());
        forward.Start();
        suite.Refuse("a", true);
        for (int i = 0; i < 30; ++i) {  // segments 1, 2 and 3
            EventRecord r = Record(0, i);
            forward.Deliver("a", r.data());
        }
        ASSERT_TRUE(forward.Stop(5000));
    }
    // Readable when the start's drain scans it, not when it comes to deliver it.
    Gate gate;
    gate.unreadable = SegmentFileName(SpoolName("a"), 2);
    FakeSuite suite(Spool());
    suite.wrapFolder = [&](std::unique_ptr<ISpoolFolder> inner) {
        return std::unique_ptr<ISpoolFolder>(new GatedFolder(std::move(inner), gate));
    };
    CStoreAndForward forward(suite, limits, Fast());
    forward.Start();
    ASSERT_TRUE(suite.WaitLines("delivery resumed", 1));
    std::vector<std::pair<int, int>> got = suite.Got("a");
    ASSERT_EQ(got.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(got[i].second, i < 10 ? i : i + 10);
    // Direct delivery again: nothing waits behind what could not be read.
    EventRecord after = Record(0, 30);
    EXPECT_EQ(forward.Deliver("a", after.data()), DeliveryOutcome::kDelivered);
    ASSERT_TRUE(forward.Stop(5000));
    EXPECT_EQ(forward.Counters().damaged, 1u);
    EXPECT_EQ(
        suite.LinesWith(gate.unreadable + kSetAsideSuffix + " cannot be read, set aside with 10 records"), 1);
    EXPECT_TRUE(fs::exists(fs::path(Spool()) / (gate.unreadable + kSetAsideSuffix)));
}

// Freed space lets appends through now and then while a destination is down: one line per episode.
TEST_F(StoreForward, SpoolFullIsToldOncePerEpisode) {
    FakeSuite suite(Spool());
    SpoolLimits limits;
    limits.maxBytes = 8 * (kFrameHeaderBytes + kEventRecordSize);
    StoreForwardTimes manual = Fast();
    manual.firstBackoffMs = manual.lastBackoffMs = 0;
    manual.threads = false;
    CStoreAndForward forward(suite, limits, manual);
    forward.Start();
    int seq = 0;
    auto send = [&](int count) {
        for (int i = 0; i < count; ++i) {
            EventRecord r = Record(0, seq++);
            forward.Deliver("a", r.data());
        }
    };
    suite.Refuse("a", true);
    send(12);
    EXPECT_EQ(suite.LinesWith("spool full"), 1);
    for (int round = 0; round < 3; ++round) {
        suite.Refuse("a", false);
        EXPECT_EQ(forward.Pump(4), 4u);  // a segment's worth freed
        suite.Refuse("a", true);
        send(6);
    }
    EXPECT_EQ(suite.LinesWith("spool full"), 1) << "the spool never emptied: one episode";
    suite.Refuse("a", false);
    forward.Pump();
    EXPECT_EQ(suite.LinesWith("delivery resumed"), 1);
    suite.Refuse("a", true);
    send(12);
    EXPECT_EQ(suite.LinesWith("spool full"), 2) << "a new episode is told";
    forward.Stop(0);
}

}  // namespace
