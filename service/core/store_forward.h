// Delivery with a spool behind it. A record its destination refuses at every attempt goes to that
// destination's spool instead of being given up, and while the spool holds anything the
// destination's new records go in behind it: each destination still receives one sender's records
// in arrival order. Each spooling destination drains on threads of its own, so a slow or hung
// destination holds up no other one and never the flush; within a destination, the records of
// different senders (told apart by the record's host slot) are delivered side by side, each
// sender's in order, so a destination back from an outage catches up at least as fast as it
// would be fed directly. A destination returns to direct delivery once its spool is empty. The
// spools an earlier run left are scanned in the background by their own drains.
//
// Portable C++ over a platform seam (the delivery function, the retry wait, the error log, the
// spool folder), so that the order and the at-least-once rules are tested natively.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "spool.h"

// What the delivery function returns for a record it accepted.
constexpr int kRecordAccepted = 1;
// Attempts of a record's first delivery before it is spooled.
constexpr int kDirectAttempts = 10;
// Holds the destinations' names in the spool folder, so that a start finds earlier runs' spools.
constexpr const char* kSpoolDestinationSuffix = ".dest";

struct StoreForwardTimes {
    unsigned firstBackoffMs = 1000;  // after a refusal from the spool, doubling up to the last
    // Only the drain finds out that a destination is back, so its spool starts emptying at most
    // this long after it recovers; one refused call this often costs nothing.
    unsigned lastBackoffMs = 4000;
    unsigned flushMs = 1000;     // spooled records reach the disk at least this often
    unsigned window = 1024;      // records of a spool read ahead of its delivered position
    unsigned drainThreads = 16;  // of one destination: senders delivered from its spool at once
    // False: no thread is started; the caller drives the drains with Pump and the disk with
    // FlushAll, one step after another (the crash-point tests).
    bool threads = true;
};

class IStoreForwardPlatform {
public:
    virtual ~IStoreForwardPlatform() = default;
    // kRecordAccepted when the destination took the record.
    virtual int Deliver(const std::string& destination, const unsigned char* record) = 0;
    // The wait after a refused attempt of a first delivery.
    virtual unsigned RetryWaitMs() = 0;
    virtual void Log(const std::string& line) = 0;
    // A new handle on the spool folder: one per spool, and one to list it.
    virtual std::unique_ptr<ISpoolFolder> Folder() = 0;
};

// kRefused only from Attempt: the record is the caller's still, to attempt again after a wait.
enum class DeliveryOutcome { kDelivered, kSpooled, kDropped, kRefused };

struct SpoolCounters {
    std::string destination;
    std::uint64_t records = 0;  // spooled now, not yet delivered
    std::uint64_t bytes = 0;
};

struct ForwardCounters {
    std::uint64_t forwarded = 0;        // records the destination accepted at their first delivery
    std::uint64_t spooled = 0;          // records appended to a spool
    std::uint64_t redelivered = 0;      // records delivered from a spool
    std::uint64_t spoolFull = 0;        // records dropped because their spool was full
    std::uint64_t givenUp = 0;          // refused and not spooled: the spool could not be written
    std::uint64_t damaged = 0;          // spool segments that could not be read, set aside
    std::vector<SpoolCounters> spools;  // every destination that has a spool, by name
};

class CStoreAndForward {
public:
    CStoreAndForward(IStoreForwardPlatform& platform, SpoolLimits limits, StoreForwardTimes times = {});
    // Ends the spool thread; call Stop first, whose wait is bounded.
    ~CStoreAndForward();
    CStoreAndForward(const CStoreAndForward&) = delete;
    CStoreAndForward& operator=(const CStoreAndForward&) = delete;

    // Finds what earlier runs spooled without reading it: each such destination's new records go
    // behind its spool, whose drain scans it first. Starts the flush thread.
    void Start();
    // One record, in its sender's turn: callers serialise the records of one sender. Its attempts
    // and the waits between them are made here, on the caller's thread.
    DeliveryOutcome Deliver(const std::string& destination, const unsigned char* record);
    // One attempt of a record's first delivery, for callers that wait between attempts themselves.
    // While the destination spools the record goes behind the spool at once; a refused record is
    // spooled when `last` is set or the service is stopping, and is otherwise left kRefused.
    DeliveryOutcome Attempt(const std::string& destination, const unsigned char* record, bool last);
    // From now a refused record is spooled after one attempt, and waits between attempts end:
    // what a stop still forwards is kept, not given up.
    void Stopping();
    // Ends the drain and flush threads (false when one is still inside a delivery after ms; it
    // then ends after that call) and writes every spool's position. Deliver still spools after it.
    bool Stop(unsigned ms);

    ForwardCounters Counters();

    // Without threads: delivers up to `most` records from the spools, each destination's until it
    // refuses or is empty, and returns how many were delivered.
    std::uint64_t Pump(std::uint64_t most = ~0ull);
    // Appended records and delivered positions to the disk.
    void FlushAll();

private:
    struct Destination;
    enum class Step { kDelivered, kRefused, kScanned, kIdle, kEnded };

    Destination& Find(const std::string& destination);
    std::vector<Destination*> All();
    DeliveryOutcome Spool(Destination& d, const unsigned char* record);
    DeliveryOutcome AttemptAt(Destination& d, const unsigned char* record, bool last);
    bool SpoolReady(Destination& d);
    void StartSpooling(Destination& d);
    void StartDrain(Destination& d);
    bool WaitRetry(unsigned ms);
    bool StartThread(void (CStoreAndForward::*body)(Destination*), Destination* d);
    void ThreadEnded();
    void FlushLoop(Destination*);
    void Drain(Destination* d);
    // Under d.lock, which it may let go around a delivery or a scan.
    Step DrainStep(Destination& d, std::unique_lock<std::mutex>& lock);
    void Scan(Destination& d, std::unique_lock<std::mutex>& lock);
    void ReadAhead(Destination& d);
    void SettleWindow(Destination& d);
    void TellSpoolNews(Destination& d);

    IStoreForwardPlatform& m_platform;
    const SpoolLimits m_limits;
    const StoreForwardTimes m_times;

    std::mutex m_mapLock;
    std::map<std::string, std::unique_ptr<Destination>> m_destinations;

    std::mutex m_runLock;  // guards what follows up to m_stopping, and the threads' wake-ups
    std::condition_variable m_wake;
    std::atomic<bool> m_stop{false};
    std::size_t m_liveThreads = 0;
    std::map<std::thread::id, std::thread> m_threads;  // joined once they have ended
    std::vector<std::thread::id> m_ended;
    std::atomic<bool> m_stopping{false};

    std::atomic<std::uint64_t> m_forwarded{0}, m_spooled{0}, m_redelivered{0}, m_spoolFull{0}, m_givenUp{0},
        m_damaged{0};
};

// Error-log lines.
std::string SpoolingStartedLine(const std::string& destination);
std::string SpoolEmptiedLine(const std::string& destination, std::uint64_t delivered);
std::string SpoolFullLine(const std::string& destination, std::uint64_t maxBytes);
std::string SpoolUnwritableLine(const std::string& destination);
std::string SpoolUnreadableLine(const std::string& destination);
std::string SpoolLateDamageLine(const std::string& destination, std::uint64_t regions);
std::string SpoolSetAsideLine(const std::string& destination, const std::string& file, std::uint64_t records);
