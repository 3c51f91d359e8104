// A message's records go out in order, one destination after another; a record its destination
// refuses waits out its retries here instead of in its sender's turn. Its sender's later records
// for the same destination, and the rest of its message, wait behind it; the sender's records
// for the other destinations go on at once. So a refusing server costs the others nothing, and
// each server still receives one sender's records in the order they were sent.
//
// Senders are told apart as the spool tells them apart: by the record's host slot.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "event_record.h"
#include "store_forward.h"

struct OutgoingRecord {
    std::string destination;
    EventRecord record;
};

struct DeliveryQueueLimits {
    unsigned threads = 16;  // records waited for side by side, each for another sender
    // Records waiting at once; beyond it a sender's turn waits for room, as it waited for its
    // retries before.
    std::uint64_t records = 65536;
};

class CDeliveryQueue {
public:
    CDeliveryQueue(CStoreAndForward& forwarding, IStoreForwardPlatform& platform,
                   DeliveryQueueLimits limits = {});
    // Ends the threads; call Stop first, whose wait is bounded.
    ~CDeliveryQueue();
    CDeliveryQueue(const CDeliveryQueue&) = delete;
    CDeliveryQueue& operator=(const CDeliveryQueue&) = delete;

    // One message's records, in order, in its sender's turn: callers serialise one sender's
    // messages. True when the last record was accepted at once.
    bool Deliver(std::vector<OutgoingRecord> records);
    // The waits between attempts end: each waiting record has one more attempt and is then
    // spooled (call CStoreAndForward::Stopping as well).
    void Stopping();
    // Waits up to ms for every waiting record to be delivered or spooled and the threads to end.
    bool Stop(unsigned ms);
    // Records waiting now.
    std::uint64_t Waiting();

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        std::string destination;
        EventRecord record;
        int attempts = 0;  // made so far
        Clock::time_point notBefore{};
    };
    struct Sender {
        std::deque<Pending> queue;
        std::map<std::string, unsigned> waiting;  // queued records by destination
        bool busy = false;                        // a thread is attempting its first record
    };

    void Enqueue(const std::string& sender, std::vector<OutgoingRecord>& records, std::size_t from,
                 int attempts, Clock::time_point notBefore, std::unique_lock<std::mutex>& lock);
    void Schedule(const std::string& sender, Sender& s, bool moreThreads);
    void Work();

    CStoreAndForward& m_forwarding;
    IStoreForwardPlatform& m_platform;
    const DeliveryQueueLimits m_limits;

    std::mutex m_lock;
    std::condition_variable m_work;           // the threads: a sender became due, a stop
    std::condition_variable m_room;           // callers and Stop: records left the queue, a thread ended
    std::map<std::string, Sender> m_senders;  // those with records waiting
    std::set<std::pair<Clock::time_point, std::string>> m_due;  // idle senders, by their next attempt
    std::uint64_t m_waiting = 0;
    std::vector<std::thread> m_threads;
    unsigned m_running = 0, m_idle = 0;
    bool m_stopping = false, m_stop = false;
};
