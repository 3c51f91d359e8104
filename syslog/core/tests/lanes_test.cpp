// The forwarding core driven directly: senders, delays, refusals, failed thread starts, pauses
// and stops at random points. Every run checks that each datagram's step ran exactly once, in
// arrival order per sender, never two of one sender's at once, and that the run ended in time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "lanes.h"
#include "loop_control.h"
#include "ovtest/wait_until.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr unsigned kDrainBoundMs = 60000;  // far beyond any run here: only a hang reaches it
constexpr auto kHoldBound = 60s;           // the same for a test's held datagrams and starts

// Opened once by the test; what waits on it goes on at the latest after the bound.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_open = true;
        m_opened.notify_all();
    }
    void Wait(std::chrono::milliseconds bound) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_opened.wait_for(lock, bound, [this] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_opened;
    bool m_open = false;
};

// Opens the gates when a test leaves, also by a failed assertion, so that its run can end.
struct OpenOnExit {
    std::vector<Gate*> gates;
    ~OpenOnExit() {
        for (Gate* gate : gates) gate->Open();
    }
};

struct Message {
    std::uint32_t sender;
    std::uint64_t seq;            // per sender, from 0
    unsigned handleUs = 0;        // handling, in parallel
    unsigned deliverUs = 0;       // the ordered step
    unsigned refusals = 0;        // attempts refused before one is accepted
    bool queuesStep = true;       // false: refused by the parser, no step
    Gate* hold = nullptr;         // handling waits until it opens
    Gate* deliverHold = nullptr;  // the ordered step waits until it opens
};

// What the steps did, checked at the end.
class Ledger {
public:
    void Delivered(const Message& m) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_delivered[m.sender].push_back(m.seq);
    }
    void GivenUp(const Message& m) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_givenUp[m.sender].push_back(m.seq);
    }
    void Enter(std::uint32_t sender) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (++m_active[sender] > 1) m_overlaps++;
    }
    void Leave(std::uint32_t sender) {
        std::lock_guard<std::mutex> lock(m_lock);
        --m_active[sender];
    }
    std::map<std::uint32_t, std::vector<std::uint64_t>> delivered() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_delivered;
    }
    std::size_t Count(std::uint32_t sender) const {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_delivered.find(sender);
        return it == m_delivered.end() ? 0 : it->second.size();
    }
    std::size_t givenUp() const {
        std::lock_guard<std::mutex> lock(m_lock);
        std::size_t n = 0;
        for (const auto& entry : m_givenUp) n += entry.second.size();
        return n;
    }
    int overlaps() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_overlaps;
    }

private:
    mutable std::mutex m_lock;
    std::map<std::uint32_t, std::vector<std::uint64_t>> m_delivered;
    std::map<std::uint32_t, std::vector<std::uint64_t>> m_givenUp;
    std::map<std::uint32_t, int> m_active;
    int m_overlaps = 0;
};

constexpr unsigned kAttempts = 3;  // as forwarding does, with fewer attempts and shorter waits

// The message as it travels: the ledger rides along so that the step needs no global.
struct TestMessage : Message {
    Ledger* ledger = nullptr;
};

class TestPlatform : public LanesPlatform {
public:
    explicit TestPlatform(Ledger& ledger) : m_ledger(ledger) {}
    ~TestPlatform() override = default;

    std::atomic<bool> refuseStarts{false};
    std::atomic<int> startDelayMs{0};  // a slow creation: the new thread runs before it returns
    std::atomic<bool> holdHandling{false};
    std::atomic<int> started{0};
    std::atomic<int> handling{0};
    std::atomic<int> mostHandling{0};
    // The next creation returns only once its new thread is handling a datagram and the test
    // opens releaseStart; startHeld says it got there.
    std::atomic<bool> holdNextStart{false};
    std::atomic<bool> startHeld{false};
    Gate releaseStart;

    bool StartThread(Lanes& lanes) override {
        if (refuseStarts) return false;
        ++started;
        int before = handling;
        std::thread([&lanes] { lanes.Work(); }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(startDelayMs.load()));
        if (holdNextStart.exchange(false)) {
            ovtest::WaitUntil([&] { return handling > before; }, kHoldBound, 100us);
            startHeld = true;
            releaseStart.Wait(kHoldBound);
        }
        return true;
    }

    void Handle(void* datagram) override {
        auto* m = static_cast<TestMessage*>(datagram);
        int now = ++handling;
        for (int most = mostHandling; now > most && !mostHandling.compare_exchange_weak(most, now);) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(m->handleUs));
        while (holdHandling) std::this_thread::sleep_for(1ms);
        if (m->hold != nullptr) m->hold->Wait(kHoldBound);
        --handling;
        if (!m->queuesStep) {
            delete m;
            return;
        }
        m->ledger = &m_ledger;
        if (!Lanes::InTurn(Deliver, m)) Deliver(m);
    }

private:
    static void Deliver(void* context);
    Ledger& m_ledger;
};

void TestPlatform::Deliver(void* context) {
    std::unique_ptr<TestMessage> m(static_cast<TestMessage*>(context));
    m->ledger->Enter(m->sender);
    if (m->deliverHold != nullptr) m->deliverHold->Wait(kHoldBound);
    std::this_thread::sleep_for(std::chrono::microseconds(m->deliverUs));
    bool accepted = m->refusals < kAttempts;
    m->ledger->Leave(m->sender);
    if (accepted)
        m->ledger->Delivered(*m);
    else
        m->ledger->GivenUp(*m);
}

LanesLimits SmallLimits(std::size_t threads = 8) {
    LanesLimits limits;
    limits.maxThreads = threads;
    limits.maxCount = 4096;
    limits.maxBytes = 1 << 20;
    limits.laneWindow = 16;
    limits.maxInFlight = 64;
    limits.lingerMs = 50;
    return limits;
}

// Pushes as the receive loop does; false when the bounds refused it (then it is the caller's).
bool Push(Lanes& lanes, const Message& m) {
    auto* copy = new TestMessage;
    static_cast<Message&>(*copy) = m;
    if (lanes.Push({copy, m.sender, 100})) return true;
    delete copy;
    return false;
}

// Every sender's delivered and given-up sequences together are 0..sent-1, delivered in order.
void ExpectExactlyOnceInOrder(const Ledger& ledger, const std::map<std::uint32_t, std::uint64_t>& sent) {
    auto delivered = ledger.delivered();
    for (const auto& [sender, count] : sent) {
        const auto& got = delivered[sender];
        for (std::size_t i = 1; i < got.size(); ++i)
            ASSERT_LT(got[i - 1], got[i]) << "sender " << sender << ": out of order or twice at " << i;
    }
    std::uint64_t total = 0, want = 0;
    for (const auto& [sender, count] : sent) {
        want += count;
        total += delivered[sender].size();
    }
    EXPECT_EQ(total + ledger.givenUp(), want) << "each datagram's step runs exactly once";
    EXPECT_EQ(ledger.overlaps(), 0) << "one sender's steps never run at once";
}

struct CoreRun {
    Ledger ledger;
    TestPlatform platform{ledger};
    Lanes lanes;
    explicit CoreRun(LanesLimits limits) : lanes(platform, limits) {}
    ~CoreRun() {
        lanes.Close();
        // Pool threads use the core until they end.
        EXPECT_TRUE(lanes.WaitDrained(kDrainBoundMs)) << "the run must end";
    }
};

TEST(Lanes, ManySendersRandomDelaysAndRefusalsEachOnceInOrder) {
    std::mt19937 random(1);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CoreRun run(SmallLimits(round % 2 == 0 ? 4 : 16));
        run.lanes.Open();
        std::map<std::uint32_t, std::uint64_t> sent;
        for (int i = 0; i < 2000; ++i) {
            Message m{};
            m.sender = random() % 13;
            m.seq = sent[m.sender]++;
            m.handleUs = random() % 300;
            m.deliverUs = random() % 4 == 0 ? random() % 400 : 0;
            m.refusals = random() % 10 == 0 ? random() % 5 : 0;
            m.queuesStep = random() % 25 != 0;
            if (!m.queuesStep) --sent[m.sender];  // nothing of it reaches a step
            ASSERT_TRUE(Push(run.lanes, m));
        }
        ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
        ExpectExactlyOnceInOrder(run.ledger, sent);
    }
}

// The slow sender holds one thread at a time; the other one's datagrams all go through meanwhile.
TEST(Lanes, ASlowSenderDelaysOnlyItself) {
    Gate slowDone;
    CoreRun run(SmallLimits(4));
    OpenOnExit opener{{&slowDone}};
    run.lanes.Open();
    constexpr std::uint32_t kSlow = 2, kFast = 3;
    constexpr int kSlowCount = 40, kFastCount = 400;
    for (int i = 0; i < kSlowCount; ++i) {
        Message m{kSlow, static_cast<std::uint64_t>(i)};
        m.deliverHold = &slowDone;  // its deliveries do not end until the fast sender's have
        ASSERT_TRUE(Push(run.lanes, m));
    }
    for (int i = 0; i < kFastCount; ++i)
        ASSERT_TRUE(Push(run.lanes, Message{kFast, static_cast<std::uint64_t>(i)}));
    EXPECT_TRUE(ovtest::WaitUntil([&] { return run.ledger.Count(kFast) >= kFastCount; }, 30s, 1ms))
        << "the fast sender waited for the slow one";
    EXPECT_EQ(run.ledger.Count(kFast), static_cast<std::size_t>(kFastCount));
    EXPECT_EQ(run.ledger.Count(kSlow), 0u);
    slowDone.Open();
    ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
    ExpectExactlyOnceInOrder(run.ledger, {{kSlow, kSlowCount}, {kFast, kFastCount}});
}

// One sender alone still has its datagrams handled on many threads; only the steps go one by one.
TEST(Lanes, ASingleSenderIsHandledInParallel) {
    CoreRun run(SmallLimits(8));
    run.lanes.Open();
    for (int i = 0; i < 64; ++i) {
        Message m{7, static_cast<std::uint64_t>(i)};
        m.handleUs = 20000;
        ASSERT_TRUE(Push(run.lanes, m));
    }
    ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
    EXPECT_GE(run.platform.mostHandling.load(), 2) << "handling of one sender must run in parallel";
    EXPECT_LE(run.platform.started.load(), 8) << "threads stay within the bound";
    ExpectExactlyOnceInOrder(run.ledger, {{7, 64}});
}

// A datagram pushed while every thread is busy in a callback gets a thread of its own.
TEST(Lanes, ADatagramPushedWhileEveryThreadIsBusyIsTaken) {
    Gate firstDone;
    CoreRun run(SmallLimits(4));
    OpenOnExit opener{{&firstDone}};
    run.lanes.Open();
    Message first{1, 0};
    first.hold = &firstDone;  // keeps the one thread there is busy
    ASSERT_TRUE(Push(run.lanes, first));
    ASSERT_TRUE(ovtest::WaitUntil([&] { return run.platform.handling != 0; }, 10s, 1ms));
    ASSERT_EQ(run.platform.handling.load(), 1);
    ASSERT_TRUE(Push(run.lanes, Message{2, 0}));
    EXPECT_TRUE(ovtest::WaitUntil([&] { return run.ledger.Count(2) != 0; }, 10s, 1ms));
    EXPECT_EQ(run.ledger.Count(2), 1u) << "the second sender's datagram must not wait for the busy thread";
    EXPECT_EQ(run.ledger.Count(1), 0u);
    firstDone.Open();
    ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
}

// Every thread busy, the reader done: the pool still grows to its bound while work waits, even
// when each new thread asks for the next while its own creation is still under way.
TEST(Lanes, ThePoolGrowsToItsBoundWhileCreationsOverlap) {
    CoreRun run(SmallLimits(8));
    run.platform.startDelayMs = 20;
    run.platform.holdHandling = true;
    run.lanes.Open();
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(Push(run.lanes, Message{1, static_cast<std::uint64_t>(i)}));
    EXPECT_TRUE(ovtest::WaitUntil([&] { return run.platform.handling == 8; }, 10s, 1ms))
        << "only " << run.platform.handling << " of 8 threads took work";
    run.platform.holdHandling = false;
    ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
    ExpectExactlyOnceInOrder(run.ledger, {{1, 20}});
}

// Every thread busy and a pool thread's creation under way, its new thread already busy with the
// work it was started for: a datagram pushed meanwhile gets a thread of its own once the creation
// is through, instead of waiting for a busy one to come free.
TEST(Lanes, ADatagramPushedDuringAThreadStartIsTaken) {
    Gate firstDone, othersDone;
    CoreRun run(SmallLimits(4));
    OpenOnExit opener{{&firstDone, &othersDone, &run.platform.releaseStart}};
    run.lanes.Open();
    ASSERT_TRUE(ovtest::WaitUntil([&] { return run.lanes.IdleThreads() == 1; }, 10s, 100us));
    Message first{1, 0};
    first.hold = &firstDone;
    ASSERT_TRUE(Push(run.lanes, first));
    ASSERT_TRUE(ovtest::WaitUntil([&] { return run.platform.handling == 1; }, 10s, 100us));
    ASSERT_EQ(run.lanes.Threads(), 1u);
    // Two more wait in the ring: the one thread there is will take one and start a thread for
    // the other.
    run.platform.refuseStarts = true;
    Message second{2, 0}, third{3, 0};
    second.hold = third.hold = &othersDone;
    ASSERT_TRUE(Push(run.lanes, second));
    ASSERT_TRUE(Push(run.lanes, third));
    run.platform.refuseStarts = false;
    run.platform.holdNextStart = true;
    firstDone.Open();
    ASSERT_TRUE(ovtest::WaitUntil([&] { return run.platform.startHeld.load(); }, 10s, 100us));

    ASSERT_TRUE(Push(run.lanes, Message{4, 0}));
    run.platform.releaseStart.Open();
    EXPECT_TRUE(ovtest::WaitUntil([&] { return run.ledger.Count(4) != 0; }, 10s, 100us))
        << "the datagram pushed during the start waits while both threads are busy";
    othersDone.Open();
    ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
    ExpectExactlyOnceInOrder(run.ledger, {{1, 1}, {2, 1}, {3, 1}, {4, 1}});
}

// A datagram that found no thread is not stranded: it goes as soon as a thread can start.
TEST(Lanes, DatagramsWaitOutFailedThreadStarts) {
    CoreRun run(SmallLimits(4));
    run.platform.refuseStarts = true;
    run.lanes.Open();
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(Push(run.lanes, Message{1, static_cast<std::uint64_t>(i)}));
    EXPECT_EQ(run.lanes.Pending(), 10u);
    EXPECT_EQ(run.lanes.Threads(), 0u);
    run.platform.refuseStarts = false;
    ASSERT_TRUE(Push(run.lanes, Message{1, 10}));
    EXPECT_TRUE(ovtest::WaitUntil([&] { return run.lanes.Pending() == 0; }, 30s, 1ms));
    EXPECT_EQ(run.lanes.Pending(), 0u);
    ExpectExactlyOnceInOrder(run.ledger, {{1, 11}});
}

TEST(Lanes, BoundsRefuseWhatWouldExceedThem) {
    const struct {
        const char* what;
        std::uint64_t maxCount, maxBytes;
        int accepted;  // of 20 pushes of 100 bytes, none handled meanwhile
    } cases[] = {
        {"count", 8, 1 << 20, 8},
        {"bytes", 4096, 1000, 10},
        {"both roomy", 4096, 1 << 20, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LanesLimits limits = SmallLimits(4);
        limits.maxCount = c.maxCount;
        limits.maxBytes = c.maxBytes;
        CoreRun run(limits);
        run.platform.refuseStarts = true;  // nothing is handled: what is held stays held
        run.lanes.Open();
        int accepted = 0;
        for (int i = 0; i < 20; ++i)
            accepted += Push(run.lanes, Message{1, static_cast<std::uint64_t>(accepted)}) ? 1 : 0;
        EXPECT_EQ(accepted, c.accepted);
        run.platform.refuseStarts = false;
        run.lanes.Open();  // starts the thread that the refused starts left missing
        ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
        EXPECT_EQ(run.ledger.Count(1), static_cast<std::size_t>(c.accepted));
    }
}

// Positions past what 32 bits hold behave as fresh ones.
TEST(Lanes, PositionsBeyondThirtyTwoBits) {
    for (std::uint64_t start :
         {std::uint64_t{0}, (std::uint64_t{1} << 32) - 50, (std::uint64_t{1} << 63) - 50}) {
        SCOPED_TRACE(start);
        LanesLimits limits = SmallLimits(4);
        limits.firstPosition = start;
        CoreRun run(limits);
        run.lanes.Open();
        for (int i = 0; i < 300; ++i)
            ASSERT_TRUE(Push(run.lanes,
                             Message{static_cast<std::uint32_t>(i % 3), static_cast<std::uint64_t>(i / 3)}));
        ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
        ExpectExactlyOnceInOrder(run.ledger, {{0, 100}, {1, 100}, {2, 100}});
    }
}

// The reader as the receive loop runs it, paused, continued and stopped at random points by
// another thread: nothing is read while it rests, and everything read goes through.
TEST(Lanes, PauseAndStopAtRandomPointsLoseNothing) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CoreRun run(SmallLimits(round % 2 == 0 ? 4 : 8));
        LoopControl control;
        control.Reset();
        run.lanes.Open();
        std::map<std::uint32_t, std::uint64_t> sent;
        std::atomic<std::uint64_t> read{0};
        std::atomic<std::uint64_t> dropped{0};
        std::thread reader([&] {
            std::mt19937 r(round);
            while (control.BeforeRead(20)) {
                Message m{};
                m.sender = r() % 5;
                m.seq = sent[m.sender];
                m.handleUs = r() % 200;
                m.deliverUs = r() % 8 == 0 ? r() % 2000 : 0;
                m.refusals = r() % 20 == 0 ? 5 : 0;
                if (Push(run.lanes, m))
                    ++sent[m.sender];
                else
                    ++dropped;
                ++read;
                if (read % 50 == 0) std::this_thread::sleep_for(200us);
            }
        });
        int pauses = random() % 4;
        for (int p = 0; p < pauses; ++p) {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 30));
            control.RequestPause();
            ASSERT_TRUE(ovtest::WaitUntil([&] { return control.Paused(); }, 10s, 100us))
                << "the reader must take the pause";
            std::uint64_t atPause = read;
            // A timed look: nothing can prove that nothing is read.
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
            EXPECT_EQ(read.load(), atPause) << "nothing read while paused";
            control.RequestContinue();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 30));
        if (random() % 2) control.RequestPause();  // a stop while paused, or about to be
        control.RequestStop();
        reader.join();
        run.lanes.Close();
        ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs)) << "everything read must be through";
        ExpectExactlyOnceInOrder(run.ledger, sent);
    }
}

// The whole core under load for as long as OVS_LANES_SOAK_SECONDS says (default: one round).
TEST(Lanes, Soak) {
    const char* env = std::getenv("OVS_LANES_SOAK_SECONDS");
    auto until = Clock::now() + std::chrono::seconds(env ? std::atoi(env) : 0);
    std::mt19937 random(11);
    std::uint64_t rounds = 0, datagrams = 0;
    do {
        CoreRun run(SmallLimits(1 + random() % 16));
        run.lanes.Open();
        std::map<std::uint32_t, std::uint64_t> sent;
        int count = 500 + random() % 1500;
        for (int i = 0; i < count; ++i) {
            Message m{};
            m.sender = random() % (1 + random() % 40);
            m.seq = sent[m.sender];
            m.handleUs = random() % 100;
            m.deliverUs = random() % 16 == 0 ? random() % 1000 : 0;
            m.refusals = random() % 30 == 0 ? 5 : 0;
            if (Push(run.lanes, m)) ++sent[m.sender];
        }
        ASSERT_TRUE(run.lanes.WaitDrained(kDrainBoundMs));
        ExpectExactlyOnceInOrder(run.ledger, sent);
        ++rounds;
        datagrams += count;
    } while (Clock::now() < until);
    std::printf("soak: %llu rounds, %llu datagrams\n", static_cast<unsigned long long>(rounds),
                static_cast<unsigned long long>(datagrams));
}
}  // namespace
