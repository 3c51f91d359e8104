#include "lanes.h"

#include <algorithm>
#include <chrono>

thread_local Lanes::Current* Lanes::t_current = nullptr;

namespace {

constexpr unsigned kRecheckMs = 10;

std::uint64_t RingSizeFor(std::uint64_t count) {
    std::uint64_t size = 1;
    while (size < count) size <<= 1;
    return size;
}

}  // namespace

Lanes::Lanes(LanesPlatform& platform, LanesLimits limits)
    : m_platform(platform),
      m_limits(limits),
      m_ringSize(RingSizeFor(limits.maxCount)),
      m_head(limits.firstPosition),
      m_tail(limits.firstPosition) {}

Lanes::~Lanes() = default;

void Lanes::Open() {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_ring) m_ring.reset(new LaneItem[m_ringSize]);
    m_open = true;
    StartThreadIfNeeded(lock);
}

void Lanes::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_open = false;  // idle threads end after the linger time
}

// The reader takes the lock only to wake an idle thread, or to start one when every thread is busy.
bool Lanes::Push(const LaneItem& item) {
    if (!m_ring || m_heldCount.load() >= m_limits.maxCount ||
        m_heldBytes.load() + item.bytes > m_limits.maxBytes)
        return false;
    std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
    if (tail - m_head.load() >= m_ringSize) return false;
    m_heldCount += 1;
    m_heldBytes += item.bytes;
    m_pending += 1;
    m_ring[tail & (m_ringSize - 1)] = item;
    m_tail.store(tail + 1);  // publishes the slot
    // A thread woken or started already, or one that waits for full lanes, looks at the ring soon:
    // idle threads are left asleep, so that a burst for lanes that cannot take more wakes one at most.
    if (m_waking.load() > 0 || m_watchers.load() > 0) return true;
    // With SleepIdle's store of m_armed and look at the tail: either the reader sees the thread
    // idle here, or the thread sees the datagram before it sleeps.
    if (m_armed.load() > 0) {
        std::unique_lock<std::mutex> lock(m_lock);
        if (!WakeIdle()) StartThreadIfNeeded(lock);
        return true;
    }
    // A sleeper neither idle nor watching is on its way to look at the ring.
    if (m_sleepers.load() > 0 || m_threads.load() >= m_limits.maxThreads) return true;
    // Every thread is busy: one more. Each new thread starts the next while work waits, so while a
    // start runs the reader only tells it to look again once through (the same pairing with
    // StartThreadIfNeeded's clearing of m_starting).
    if (m_starting.load()) {
        m_startMissed = true;
        if (m_starting.load()) return true;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    StartThreadIfNeeded(lock);
    return true;
}

std::size_t Lanes::Threads() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_threads;
}

// Under m_lock: wakes the thread that went idle last; false when none is idle.
bool Lanes::WakeIdle() {
    if (m_idle.empty()) return false;
    Sleeper* sleeper = m_idle.back();
    m_idle.pop_back();
    m_armed = m_idle.size();
    ++m_waking;
    sleeper->woken = true;
    sleeper->wake.notify_one();
    return true;
}

// Under m_lock: an idle thread, else one that waits for full lanes.
void Lanes::WakeSleeper() {
    if (!WakeIdle()) m_wake.notify_one();
}

// Under m_lock: waits for work until woken or the linger time has passed; false in the second case.
bool Lanes::SleepIdle(Sleeper& self, std::unique_lock<std::mutex>& lock) {
    self.woken = false;
    m_idle.push_back(&self);
    m_armed = m_idle.size();
    ++m_sleepers;
    // A datagram pushed before the reader looked at m_armed shows here.
    bool woken = m_head.load() != m_tail.load() ||
                 self.wake.wait_for(lock, std::chrono::milliseconds(m_limits.lingerMs),
                                    [&self] { return self.woken; });
    if (self.woken) {
        --m_waking;  // before the caller looks at the ring
    } else {
        m_idle.erase(std::find(m_idle.begin(), m_idle.end(), &self));
        m_armed = m_idle.size();
    }
    --m_sleepers;
    return woken;
}

bool Lanes::TakeInbox(LaneItem& item) {
    std::uint64_t head = m_head.load(std::memory_order_relaxed);
    if (head == m_tail.load()) return false;
    item = m_ring[head & (m_ringSize - 1)];
    m_head.store(head + 1);
    return true;
}

// Under m_lock.
void Lanes::MoveInbox() {
    LaneItem item;
    while (TakeInbox(item)) {
        Lane& lane = m_lanes[item.sender];
        lane.sender = item.sender;
        lane.waiting.push_back(item);
        MakeReady(lane);
    }
}

bool Lanes::Startable(const Lane& lane) const {
    return !lane.waiting.empty() && lane.inFlight.size() < m_limits.laneWindow;
}

void Lanes::MakeReady(Lane& lane) {
    if (lane.ready || !Startable(lane)) return;
    lane.ready = true;
    m_ready.push_back(&lane);  // unordered_map keeps its elements where they are
}

bool Lanes::HasWork() const {
    return m_head.load() != m_tail.load() || (!m_ready.empty() && m_inFlight < m_limits.maxInFlight);
}

// Under m_lock: one more thread when work waits, nobody sleeps and no thread is about to look at
// the ring (or, while the reader runs, when there is none at all), one creation at a time. A start
// wanted while another runs is looked at again once that one is through: the thread being started
// may itself have asked, or the reader, after that thread had taken its work, and nobody else may
// ask again.
void Lanes::StartThreadIfNeeded(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        bool wanted = m_threads == 0 ? m_open || HasWork()
                                     : HasWork() && m_sleepers.load() == 0 && m_waking.load() == 0;
        if (!wanted || m_threads >= m_limits.maxThreads) return;
        if (m_starting) {
            m_startMissed = true;
            return;
        }
        m_starting = true;
        ++m_threads;
        ++m_waking;  // until the new thread looks at the ring
        lock.unlock();
        bool started = m_platform.StartThread(*this);
        lock.lock();
        m_starting = false;
        bool again = m_startMissed.exchange(false);
        // What could not start is left to the threads that run, or to the next push.
        if (!started) {
            --m_threads;
            --m_waking;
            return;
        }
        if (!again) return;
    }
}

void Lanes::Work() {
    Sleeper self;
    std::unique_lock<std::mutex> lock(m_lock);
    --m_waking;  // counted by the start, before the first look at the ring
    for (;;) {
        bool fromReader = m_head.load() != m_tail.load();
        MoveInbox();
        if (!m_ready.empty() && m_inFlight < m_limits.maxInFlight) {
            Lane* lane = m_ready.front();
            m_ready.pop_front();
            lane->ready = false;
            LaneItem item = lane->waiting.front();
            lane->waiting.pop_front();
            std::uint64_t seq = lane->firstSeq + lane->inFlight.size();
            lane->inFlight.emplace_back();
            ++m_inFlight;
            MakeReady(*lane);  // to the back: senders take turns
            // More to take: a sleeper takes it, else a new thread.
            if (HasWork() && m_sleepers.load() > 0)
                WakeSleeper();
            else
                StartThreadIfNeeded(lock);
            lock.unlock();

            Current current{this, lane, seq};
            t_current = &current;
            m_platform.Handle(item.datagram);
            t_current = nullptr;
            m_heldCount -= 1;
            m_heldBytes -= item.bytes;

            lock.lock();
            lane->inFlight[seq - lane->firstSeq].handled = true;
            RunSteps(*lane, lock);
            ForgetIfIdle(*lane);
            continue;
        }
        if (fromReader) {
            // The reader's datagrams were all for lanes that can take no more: not ready for its
            // wake-ups, look again a little later, so that such a burst is moved in batches and
            // a new sender's datagrams wait this long at most.
            ++m_watchers;
            ++m_sleepers;
            m_wake.wait_for(lock, std::chrono::milliseconds(kRecheckMs));
            --m_sleepers;
            --m_watchers;
            continue;
        }
        // Idle: ready for the reader's next datagram; past the linger time end, unless this is
        // the one thread kept.
        if (!SleepIdle(self, lock) && !HasWork() && m_threads > (m_open ? 1u : 0u)) {
            --m_threads;
            m_drained.notify_all();
            return;
        }
    }
}

// Under m_lock: runs the lane's steps in arrival order while the oldest datagram is handled and no
// other thread runs them. The lock is let go around each step.
void Lanes::RunSteps(Lane& lane, std::unique_lock<std::mutex>& lock) {
    while (!lane.delivering && !lane.inFlight.empty() && lane.inFlight.front().handled) {
        Slot slot = std::move(lane.inFlight.front());
        lane.inFlight.pop_front();
        ++lane.firstSeq;
        lane.delivering = true;
        lock.unlock();
        for (const Step& step : slot.steps) step.run(step.context);
        lock.lock();
        lane.delivering = false;
        --m_inFlight;
        m_pending -= 1;
        MakeReady(lane);
        if (m_sleepers.load() > 0 && HasWork()) WakeSleeper();
        if (m_pending.load() == 0) m_drained.notify_all();
    }
}

// A lane with nothing left is forgotten, so that many senders do not pile up lanes.
void Lanes::ForgetIfIdle(Lane& lane) {
    if (lane.waiting.empty() && lane.inFlight.empty() && !lane.delivering && !lane.ready)
        m_lanes.erase(lane.sender);
}

bool Lanes::InTurn(TurnStep step, void* context) {
    Current* current = t_current;
    if (current == nullptr) return false;
    std::lock_guard<std::mutex> lock(current->lanes->m_lock);
    Lane& lane = *current->lane;
    lane.inFlight[current->seq - lane.firstSeq].steps.push_back({step, context});
    return true;
}

bool Lanes::WaitDrained(unsigned ms) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_drained.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return m_pending.load() == 0 && (m_open || m_threads == 0); });
}
