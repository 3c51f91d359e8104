// The forwarding core: datagrams read by the receive loop, handled by a bounded pool of threads,
// with each sender's ordered steps run in arrival order.
//
// The reader pushes into a lock-free ring and never waits on the pool. Pool threads move what was
// read into a lane per sender address and take work from the lanes in turn, one datagram at a
// time, so that many senders share the threads fairly. Handling a datagram (parsing, preparing its
// records) runs in parallel, also within one lane; the step that must follow the same sender's
// earlier datagrams (delivery) is queued with InTurn and run by whichever thread completes the
// lane's previous datagram. No thread ever waits for a datagram another thread holds, so a slow
// or refusing sender holds one thread and delays only itself.
//
// Portable C++: the platform gives threads and handles datagrams through LanesPlatform.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

// A step that must run after the same sender's earlier datagrams' steps; it owns its context.
using TurnStep = void (*)(void* context);

// A lane's sender: a whole IPv6 address (an IPv4 one as ::ffff:a.b.c.d), or for a stream its
// connection, which is a sender of its own.
struct SenderKey {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    SenderKey() = default;
    SenderKey(std::uint64_t h, std::uint64_t l) : high(h), low(l) {}
    SenderKey(std::uint32_t ipv4) : low(0xFFFF00000000ull | ipv4) {}  // NOLINT: an IPv4 sender as it was
    bool operator==(const SenderKey& other) const { return high == other.high && low == other.low; }
};

struct SenderKeyHash {
    std::size_t operator()(const SenderKey& key) const {
        return std::hash<std::uint64_t>()(key.high * 0x9E3779B97F4A7C15ull ^ key.low);
    }
};

// One datagram read: the platform's record of it (owned by the core until handed to Handle), its
// sender, and the bytes it holds against the bounds.
struct LaneItem {
    void* datagram = nullptr;
    SenderKey sender;
    std::uint32_t bytes = 0;
};

class Lanes;

class LanesPlatform {
public:
    virtual ~LanesPlatform() = default;
    // Starts a thread that calls lanes.Work(); false when none could be started.
    virtual bool StartThread(Lanes& lanes) = 0;
    // Parses and hands on one datagram and frees it. InTurn queues its ordered steps.
    virtual void Handle(void* datagram) = 0;
};

struct LanesLimits {
    std::size_t maxThreads = 128;
    std::uint64_t maxCount = 1u << 19;           // datagrams read and not yet handled
    std::uint64_t maxBytes = 64u * 1024 * 1024;  // their bytes
    std::size_t laneWindow = 128;                // a lane's datagrams taken and not yet through their steps
    std::size_t maxInFlight = 512;               // the same over all lanes: bounds the prepared steps held
    unsigned lingerMs = 1000;                    // an idle thread beyond the one kept ends after this
    std::uint64_t firstPosition = 0;             // of the ring: tests start it where 32 bits would wrap
};

class Lanes {
public:
    explicit Lanes(LanesPlatform& platform, LanesLimits limits = {});
    ~Lanes();
    Lanes(const Lanes&) = delete;
    Lanes& operator=(const Lanes&) = delete;

    // The reader, one thread at a time. Open keeps one pool thread waiting while the reader runs;
    // Close lets idle threads end. Push is false when a bound is reached: the datagram stays the
    // caller's, to drop and count.
    void Open();
    void Close();
    bool Push(const LaneItem& item);

    // Datagrams pushed and not yet through their steps: zero once everything read is forwarded.
    std::uint64_t Pending() const { return m_pending.load(); }
    std::size_t Threads() const;
    // Pool threads waiting for work.
    std::size_t IdleThreads() const { return m_armed.load(); }

    // The body of every pool thread: returns when the thread should end.
    void Work();

    // Inside Handle: queues the datagram's next ordered step and returns true. Elsewhere false:
    // the caller runs the step itself, since nothing orders it.
    static bool InTurn(TurnStep step, void* context);

    // Waits until no datagram is pending and, once closed, no pool thread runs; false on time-out.
    bool WaitDrained(unsigned ms);

private:
    struct Step {
        TurnStep run;
        void* context;
    };
    struct Slot {
        bool handled = false;
        std::vector<Step> steps;
    };
    struct Lane {
        std::deque<LaneItem> waiting;  // read, not yet taken
        std::deque<Slot> inFlight;     // taken, in arrival order, not yet through their steps
        std::uint64_t firstSeq = 0;    // sequence of inFlight.front()
        bool delivering = false;       // a thread runs this lane's steps
        bool ready = false;            // in m_ready
        SenderKey sender;
    };
    struct Current {
        Lanes* lanes;
        Lane* lane;
        std::uint64_t seq;
    };
    // A pool thread waiting for work: each is woken on its own, so that one wake-up is never
    // taken by a thread that then does something else.
    struct Sleeper {
        std::condition_variable wake;
        bool woken = false;
    };
    static thread_local Current* t_current;

    bool TakeInbox(LaneItem& item);
    void MoveInbox();
    bool Startable(const Lane& lane) const;
    void MakeReady(Lane& lane);
    bool HasWork() const;
    void RunSteps(Lane& lane, std::unique_lock<std::mutex>& lock);
    void ForgetIfIdle(Lane& lane);
    void StartThreadIfNeeded(std::unique_lock<std::mutex>& lock);
    bool WakeIdle();
    void WakeSleeper();
    bool SleepIdle(Sleeper& self, std::unique_lock<std::mutex>& lock);

    LanesPlatform& m_platform;
    const LanesLimits m_limits;

    // The ring from the reader: positions only grow (64-bit: they never wrap).
    std::unique_ptr<LaneItem[]> m_ring;
    std::uint64_t m_ringSize;
    std::atomic<std::uint64_t> m_head{0};  // pool threads, under m_lock
    std::atomic<std::uint64_t> m_tail{0};  // the reader
    std::atomic<std::uint64_t> m_heldCount{0};
    std::atomic<std::uint64_t> m_heldBytes{0};
    std::atomic<std::uint64_t> m_pending{0};
    std::atomic<std::size_t> m_sleepers{0};  // idle, or waiting for full lanes to take more
    std::atomic<std::size_t> m_watchers{0};  // waiting for full lanes: they look at the ring again soon
    std::atomic<std::size_t> m_waking{0};    // threads woken or started that have not looked at it yet
    // m_idle.size(), for the reader to look without the lock. It wakes an idle thread only while
    // no other thread is about to look at the ring, so that a burst for lanes that cannot take
    // more does not cost it a wake-up per datagram.
    std::atomic<std::size_t> m_armed{0};

    mutable std::mutex m_lock;
    std::condition_variable m_wake;     // lanes that may take more, for threads waiting on them
    std::condition_variable m_drained;  // WaitDrained
    std::unordered_map<SenderKey, Lane, SenderKeyHash> m_lanes;
    std::deque<Lane*> m_ready;     // lanes with a datagram to take, in turn
    std::vector<Sleeper*> m_idle;  // the latest idle last: it is woken first, the others linger out
    std::size_t m_inFlight = 0;
    std::atomic<std::size_t> m_threads{0};  // written under m_lock; the reader looks without it
    std::atomic<bool> m_starting{false};
    std::atomic<bool> m_startMissed{false};  // a start was wanted while m_starting
    bool m_open = false;
};
