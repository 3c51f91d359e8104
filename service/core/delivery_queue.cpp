#include "delivery_queue.h"

#include <system_error>

namespace {

// How often an idle thread looks whether it is to end.
constexpr auto kIdleLook = std::chrono::seconds(1);

}  // namespace

CDeliveryQueue::CDeliveryQueue(CStoreAndForward& forwarding, IStoreForwardPlatform& platform,
                               DeliveryQueueLimits limits)
    : m_forwarding(forwarding), m_platform(platform), m_limits(limits) {}

CDeliveryQueue::~CDeliveryQueue() {
    std::vector<std::thread> threads;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_stopping = m_stop = true;
        m_work.notify_all();
        m_room.wait(lock, [this] { return m_running == 0; });
        threads.swap(m_threads);
    }
    for (std::thread& t : threads) t.join();
}

bool CDeliveryQueue::Deliver(std::vector<OutgoingRecord> records) {
    if (records.empty()) return false;
    // The records of one message carry one host.
    const std::string sender = RecordSender(records.front().record.data());
    bool accepted = false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        OutgoingRecord& r = records[i];
        {
            std::unique_lock<std::mutex> lock(m_lock);
            auto s = m_senders.find(sender);
            if (s != m_senders.end() && s->second.waiting.count(r.destination) != 0) {
                // Behind the sender's earlier record for this destination, the rest of the
                // message behind it.
                Enqueue(sender, records, i, 0, Clock::time_point{}, lock);
                return false;
            }
        }
        DeliveryOutcome outcome = m_forwarding.Attempt(r.destination, r.record.data(), false);
        if (outcome == DeliveryOutcome::kRefused) {
            Clock::time_point next = Clock::now() + std::chrono::milliseconds(m_platform.RetryWaitMs());
            std::unique_lock<std::mutex> lock(m_lock);
            Enqueue(sender, records, i, 1, next, lock);
            return false;
        }
        accepted = outcome == DeliveryOutcome::kDelivered;
    }
    return accepted;
}

// Under lock: records[from] and the rest of its message join the sender's queue.
void CDeliveryQueue::Enqueue(const std::string& sender, std::vector<OutgoingRecord>& records,
                             std::size_t from, int attempts, Clock::time_point notBefore,
                             std::unique_lock<std::mutex>& lock) {
    const std::uint64_t count = records.size() - from;
    // The sender's turn waits for room, as it waited for its retries before. Records leave the
    // queue after ten attempts at most, so every wait ends; each look is bounded.
    while (m_waiting > 0 && m_waiting + count > m_limits.records && !m_stop) m_room.wait_for(lock, kIdleLook);
    if (m_stop) {
        // A stop that gave up on the queue: these go the way every record went before it, kept
        // in the spool after one attempt.
        lock.unlock();
        for (std::size_t i = from; i < records.size(); ++i)
            m_forwarding.Deliver(records[i].destination, records[i].record.data());
        return;
    }
    Sender& s = m_senders[sender];
    const bool idle = s.queue.empty();
    for (std::size_t i = from; i < records.size(); ++i) {
        Pending p;
        p.destination = std::move(records[i].destination);
        p.record = records[i].record;
        if (i == from) {
            p.attempts = attempts;
            p.notBefore = notBefore;
        }
        ++s.waiting[p.destination];
        s.queue.push_back(std::move(p));
    }
    m_waiting += count;
    if (idle) Schedule(sender, s, true);
}

// Under lock: the sender's first record is attempted once its wait is over.
void CDeliveryQueue::Schedule(const std::string& sender, Sender& s, bool moreThreads) {
    m_due.insert({s.queue.front().notBefore, sender});
    if (moreThreads && m_idle == 0 && m_running < m_limits.threads && !m_stop) {
        try {
            m_threads.emplace_back([this] { Work(); });
            ++m_running;
        } catch (const std::system_error&) {
            // The threads there are take it in turn.
        }
    }
    m_work.notify_all();
}

void CDeliveryQueue::Stopping() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopping = true;
    m_work.notify_all();
}

bool CDeliveryQueue::Stop(unsigned ms) {
    std::vector<std::thread> threads;
    bool emptied, ended;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_stopping = true;
        m_work.notify_all();
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
        emptied = m_room.wait_until(lock, until, [this] { return m_waiting == 0; });
        m_stop = true;
        m_work.notify_all();
        ended = m_room.wait_until(lock, until, [this] { return m_running == 0; });
        // A thread still inside a delivery is left; the destructor waits for it.
        if (ended) threads.swap(m_threads);
    }
    for (std::thread& t : threads) t.join();
    return emptied && ended;
}

std::uint64_t CDeliveryQueue::Waiting() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_waiting;
}

// Takes the sender whose wait ends first, attempts its first record once, and puts the sender
// back in line; a stop ends the waits.
void CDeliveryQueue::Work() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        if (m_due.empty() || (!m_stopping && m_due.begin()->first > Clock::now())) {
            if (m_stop && m_due.empty()) break;
            ++m_idle;
            if (m_due.empty())
                m_work.wait_for(lock, kIdleLook);
            else
                m_work.wait_until(lock, m_due.begin()->first);
            --m_idle;
            continue;
        }
        const std::string name = m_due.begin()->second;
        m_due.erase(m_due.begin());
        // Not erased while busy: only the thread that holds it erases a sender.
        Sender& s = m_senders[name];
        s.busy = true;
        const Pending p = s.queue.front();
        lock.unlock();
        DeliveryOutcome outcome =
            m_forwarding.Attempt(p.destination, p.record.data(), p.attempts + 1 >= kDirectAttempts);
        Clock::time_point next = Clock::now();
        if (outcome == DeliveryOutcome::kRefused) next += std::chrono::milliseconds(m_platform.RetryWaitMs());
        lock.lock();
        s.busy = false;
        if (outcome == DeliveryOutcome::kRefused) {
            ++s.queue.front().attempts;
            s.queue.front().notBefore = next;
        } else {
            s.queue.pop_front();
            auto w = s.waiting.find(p.destination);
            if (--w->second == 0) s.waiting.erase(w);
            --m_waiting;
            m_room.notify_all();
        }
        if (s.queue.empty())
            m_senders.erase(name);
        else
            Schedule(name, s, false);
    }
    --m_running;
    m_room.notify_all();
}
