// Delivery with a spool behind it. A record its destination refuses at every attempt goes to that
// destination's spool instead of being given up, and while the spool holds anything the
// destination's new records go in behind it: each destination still receives one sender's records
// in arrival order. One thread delivers the spools from their heads, backing off while a
// destination refuses, and returns a destination to direct delivery once its spool is empty.
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
    unsigned lastBackoffMs = 30000;
    unsigned flushMs = 1000;  // spooled records reach the disk at least this often
    unsigned batch = 256;     // records one destination gets before the others are looked at
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

enum class DeliveryOutcome { kDelivered, kSpooled, kDropped };

struct SpoolCounters {
    std::string destination;
    std::uint64_t records = 0;  // spooled now, not yet delivered
    std::uint64_t bytes = 0;
};

struct ForwardCounters {
    std::uint64_t forwarded = 0;    // records the destination accepted at their first delivery
    std::uint64_t spooled = 0;      // records appended to a spool
    std::uint64_t redelivered = 0;  // records delivered from a spool
    std::uint64_t spoolFull = 0;    // records dropped because their spool was full
    std::uint64_t givenUp = 0;      // refused and not spooled: the spool could not be written
    std::vector<SpoolCounters> spools;  // every destination that has a spool, by name
};

class CStoreAndForward {
public:
    CStoreAndForward(IStoreForwardPlatform& platform, SpoolLimits limits, StoreForwardTimes times = {});
    // Ends the spool thread; call Stop first, whose wait is bounded.
    ~CStoreAndForward();
    CStoreAndForward(const CStoreAndForward&) = delete;
    CStoreAndForward& operator=(const CStoreAndForward&) = delete;

    // Opens what earlier runs spooled and starts the spool thread, which delivers it first.
    void Start();
    // One record, in its sender's turn: callers serialise the records of one sender.
    DeliveryOutcome Deliver(const std::string& destination, const unsigned char* record);
    // From now a refused record is spooled after one attempt, and waits between attempts end:
    // what a stop still forwards is kept, not given up.
    void Stopping();
    // Ends the spool thread (false when it is still inside a delivery after ms; it then ends
    // after that call) and writes every spool's position. Deliver still spools after it.
    bool Stop(unsigned ms);

    ForwardCounters Counters();

private:
    struct Destination;

    Destination& Find(const std::string& destination);
    DeliveryOutcome Spool(Destination& d, const unsigned char* record);
    bool SpoolReady(Destination& d);
    bool WaitRetry(unsigned ms);
    void Run();
    // Delivers up to a batch of d's spool; false once it is back to direct delivery.
    bool DeliverSpool(Destination& d);
    void FlushAll();

    IStoreForwardPlatform& m_platform;
    const SpoolLimits m_limits;
    const StoreForwardTimes m_times;

    std::mutex m_mapLock;
    std::map<std::string, std::unique_ptr<Destination>> m_destinations;

    std::mutex m_runLock;  // guards the two flags below and the thread's wake-ups
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_threadEnded = false;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;

    std::atomic<std::uint64_t> m_forwarded{0}, m_spooled{0}, m_redelivered{0}, m_spoolFull{0}, m_givenUp{0};
};

// Error-log lines.
std::string SpoolingStartedLine(const std::string& destination);
std::string SpoolEmptiedLine(const std::string& destination, std::uint64_t delivered);
std::string SpoolFullLine(const std::string& destination, std::uint64_t maxBytes);
std::string SpoolUnwritableLine(const std::string& destination);
std::string SpoolUnreadableLine(const std::string& destination);
std::string SpoolLateDamageLine(const std::string& destination, std::uint64_t regions);
