#include "store_forward.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "event_record.h"
#include "spool_format.h"

using Clock = std::chrono::steady_clock;

struct CStoreAndForward::Destination {
    explicit Destination(const std::string& n) : name(n) {}

    const std::string name;
    // Set only under lock; read without it to skip the lock while direct delivery is the rule.
    std::atomic<bool> spooling{false};

    std::mutex lock;  // the spool and everything below
    std::unique_ptr<CSpool> spool;
    bool named = false;  // its destination file is written
    // Episodes already told to the error log.
    bool toldFull = false, toldUnwritable = false, toldUnreadable = false;
    std::uint64_t toldDamage = 0;
    std::uint64_t fromSpool = 0;  // delivered from the spool since spooling started
    unsigned backoffMs = 0;
    Clock::time_point nextTry{};

    // After a refusal: the first back-off, or twice the last one up to the longest.
    void BackOff(const StoreForwardTimes& t) {
        backoffMs = backoffMs == 0 ? t.firstBackoffMs : std::min(2 * backoffMs, t.lastBackoffMs);
        nextTry = Clock::now() + std::chrono::milliseconds(backoffMs);
    }
};

namespace {

std::string Line(const char* format, const std::string& destination, unsigned long long number = 0) {
    char line[320];
    std::snprintf(line, sizeof line, format, destination.c_str(), number);
    return line;
}

}  // namespace

std::string SpoolingStartedLine(const std::string& destination) {
    return Line("Syslog spool %s : delivery refused, records kept in the spool !", destination);
}
std::string SpoolEmptiedLine(const std::string& destination, std::uint64_t delivered) {
    return Line("Syslog spool %s : delivery resumed, %llu records delivered from the spool !", destination,
                delivered);
}
std::string SpoolFullLine(const std::string& destination, std::uint64_t maxBytes) {
    return Line("Syslog spool %s : spool full at %llu bytes, records dropped !", destination, maxBytes);
}
std::string SpoolUnwritableLine(const std::string& destination) {
    return Line("Syslog spool %s : spool cannot be written, refused records given up !", destination);
}
std::string SpoolUnreadableLine(const std::string& destination) {
    return Line("Syslog spool %s : spool cannot be read, delivery from it held !", destination);
}
std::string SpoolLateDamageLine(const std::string& destination, std::uint64_t regions) {
    return Line("Syslog spool %s : %llu damaged records skipped !", destination, regions);
}

CStoreAndForward::CStoreAndForward(IStoreForwardPlatform& platform, SpoolLimits limits, StoreForwardTimes times)
    : m_platform(platform), m_limits(limits), m_times(times) {}

CStoreAndForward::~CStoreAndForward() {
    {
        std::lock_guard<std::mutex> run(m_runLock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

CStoreAndForward::Destination& CStoreAndForward::Find(const std::string& destination) {
    std::lock_guard<std::mutex> map(m_mapLock);
    std::unique_ptr<Destination>& d = m_destinations[destination];
    if (!d) d.reset(new Destination(destination));
    return *d;
}

void CStoreAndForward::Start() {
    std::unique_ptr<ISpoolFolder> folder = m_platform.Folder();
    std::vector<std::string> names;
    if (folder->List(&names)) {
        const std::string suffix = kSpoolDestinationSuffix;
        for (const std::string& file : names) {
            if (file.size() <= suffix.size() || file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            std::string destination;
            // A name file that does not match its destination is nobody's: leave it alone.
            if (!folder->ReadSmall(file, &destination) ||
                SpoolName(destination) + kSpoolDestinationSuffix != file)
                continue;
            Destination& d = Find(destination);
            std::lock_guard<std::mutex> lock(d.lock);
            d.spool.reset(new CSpool(m_platform.Folder(), destination, m_limits));
            d.named = true;
            SpoolOpen found = d.spool->Open();
            std::string damage = SpoolDamageLine(destination, found);
            if (!damage.empty()) m_platform.Log(damage);
            if (found.records > 0 || found.unreadableFiles > 0) {
                d.spooling = true;
                d.nextTry = Clock::now();
                m_platform.Log(SpoolingStartedLine(destination));
            }
        }
    }
    std::lock_guard<std::mutex> run(m_runLock);
    if (!m_thread.joinable() && !m_stop) m_thread = std::thread([this] { Run(); });
}

DeliveryOutcome CStoreAndForward::Deliver(const std::string& destination, const unsigned char* record) {
    Destination& d = Find(destination);
    if (d.spooling) {
        std::lock_guard<std::mutex> lock(d.lock);
        if (d.spooling) return Spool(d, record);
    }
    int result = m_platform.Deliver(destination, record);
    // Once the destination spools, this record's place is behind what is spooled already.
    for (int attempt = 1; result != kRecordAccepted && attempt < kDirectAttempts && !d.spooling; ++attempt) {
        if (!WaitRetry(m_platform.RetryWaitMs()) || d.spooling) break;
        result = m_platform.Deliver(destination, record);
    }
    if (result == kRecordAccepted) {
        ++m_forwarded;
        return DeliveryOutcome::kDelivered;
    }
    std::lock_guard<std::mutex> lock(d.lock);
    return Spool(d, record);
}

// Under d.lock.
bool CStoreAndForward::SpoolReady(Destination& d) {
    if (!d.spool) d.spool.reset(new CSpool(m_platform.Folder(), d.name, m_limits));
    if (!d.named) {
        std::unique_ptr<ISpoolFolder> folder = m_platform.Folder();
        d.named = folder->Create() && folder->Replace(SpoolName(d.name) + kSpoolDestinationSuffix, d.name);
    }
    return d.named;
}

// Under d.lock.
DeliveryOutcome CStoreAndForward::Spool(Destination& d, const unsigned char* record) {
    SpoolAppend appended = SpoolReady(d) ? d.spool->Append(record, kEventRecordSize) : SpoolAppend::kFailed;
    if (appended == SpoolAppend::kFull) {
        ++m_spoolFull;
        if (!d.toldFull) m_platform.Log(SpoolFullLine(d.name, m_limits.maxBytes));
        d.toldFull = true;
        return DeliveryOutcome::kDropped;
    }
    if (appended == SpoolAppend::kFailed) {
        // Without a spool the record is given up as it always was.
        ++m_givenUp;
        if (!d.toldUnwritable) m_platform.Log(SpoolUnwritableLine(d.name));
        d.toldUnwritable = true;
        return DeliveryOutcome::kDropped;
    }
    ++m_spooled;
    d.toldFull = d.toldUnwritable = false;
    if (!d.spooling) {
        d.spooling = true;
        d.fromSpool = 0;
        d.backoffMs = 0;
        d.BackOff(m_times);
        m_platform.Log(SpoolingStartedLine(d.name));
    }
    return DeliveryOutcome::kSpooled;
}

// False when the stop cut the wait short.
bool CStoreAndForward::WaitRetry(unsigned ms) {
    std::unique_lock<std::mutex> run(m_runLock);
    return !m_wake.wait_for(run, std::chrono::milliseconds(ms), [this] { return m_stopping.load(); });
}

void CStoreAndForward::Stopping() {
    {
        std::lock_guard<std::mutex> run(m_runLock);
        m_stopping = true;
    }
    m_wake.notify_all();
}

bool CStoreAndForward::Stop(unsigned ms) {
    Stopping();
    bool ended = true;
    {
        std::unique_lock<std::mutex> run(m_runLock);
        m_stop = true;
        m_wake.notify_all();
        if (m_thread.joinable())
            ended = m_wake.wait_for(run, std::chrono::milliseconds(ms), [this] { return m_threadEnded; });
    }
    if (ended && m_thread.joinable()) m_thread.join();
    FlushAll();
    return ended;
}

void CStoreAndForward::FlushAll() {
    std::vector<Destination*> all;
    {
        std::lock_guard<std::mutex> map(m_mapLock);
        for (auto& entry : m_destinations) all.push_back(entry.second.get());
    }
    for (Destination* d : all) {
        std::lock_guard<std::mutex> lock(d->lock);
        if (d->spool) d->spool->Flush();
    }
}

void CStoreAndForward::Run() {
    Clock::time_point flushed = Clock::now();
    const auto flushEvery = std::chrono::milliseconds(m_times.flushMs);
    std::unique_lock<std::mutex> run(m_runLock);
    while (!m_stop) {
        run.unlock();
        std::vector<Destination*> all;
        {
            std::lock_guard<std::mutex> map(m_mapLock);
            for (auto& entry : m_destinations) all.push_back(entry.second.get());
        }
        Clock::time_point next = flushed + flushEvery;
        for (Destination* d : all) {
            if (!d->spooling) continue;
            Clock::time_point at;
            {
                std::lock_guard<std::mutex> lock(d->lock);
                at = d->nextTry;
            }
            if (at <= Clock::now()) {
                if (!DeliverSpool(*d)) continue;
                std::lock_guard<std::mutex> lock(d->lock);
                at = d->nextTry;
            }
            next = std::min(next, at);
        }
        if (Clock::now() - flushed >= flushEvery) {
            FlushAll();
            flushed = Clock::now();
            next = std::min(next, flushed + flushEvery);
        }
        run.lock();
        if (!m_stop) m_wake.wait_until(run, next);
    }
    m_threadEnded = true;
    m_wake.notify_all();
}

// True while d still spools; its nextTry says when to look again.
bool CStoreAndForward::DeliverSpool(Destination& d) {
    std::vector<unsigned char> record;
    for (unsigned i = 0; i < m_times.batch; ++i) {
        {
            std::lock_guard<std::mutex> run(m_runLock);
            if (m_stop) break;
        }
        {
            std::lock_guard<std::mutex> lock(d.lock);
            SpoolHead head = d.spool ? d.spool->Head(&record) : SpoolHead::kEmpty;
            if (d.spool && d.spool->LateDamage() > d.toldDamage) {
                m_platform.Log(SpoolLateDamageLine(d.name, d.spool->LateDamage() - d.toldDamage));
                d.toldDamage = d.spool->LateDamage();
            }
            if (head == SpoolHead::kEmpty) {
                d.spooling = false;
                d.backoffMs = 0;
                m_platform.Log(SpoolEmptiedLine(d.name, d.fromSpool));
                return false;
            }
            if (head == SpoolHead::kFailed) {
                if (!d.toldUnreadable) m_platform.Log(SpoolUnreadableLine(d.name));
                d.toldUnreadable = true;
                d.BackOff(m_times);
                return true;
            }
            d.toldUnreadable = false;
            if (record.size() != kEventRecordSize) {
                // An intact frame that holds no record of ours: nothing to deliver.
                d.spool->MarkDelivered();
                continue;
            }
        }
        bool accepted = m_platform.Deliver(d.name, record.data()) == kRecordAccepted;
        std::lock_guard<std::mutex> lock(d.lock);
        if (!accepted) {
            d.BackOff(m_times);
            return true;
        }
        d.spool->MarkDelivered();
        ++d.fromSpool;
        ++m_redelivered;
        d.backoffMs = 0;
    }
    std::lock_guard<std::mutex> lock(d.lock);
    d.nextTry = Clock::now();
    return true;
}

ForwardCounters CStoreAndForward::Counters() {
    ForwardCounters c;
    c.forwarded = m_forwarded;
    c.spooled = m_spooled;
    c.redelivered = m_redelivered;
    c.spoolFull = m_spoolFull;
    c.givenUp = m_givenUp;
    std::lock_guard<std::mutex> map(m_mapLock);
    for (auto& entry : m_destinations) {
        Destination& d = *entry.second;
        std::lock_guard<std::mutex> lock(d.lock);
        if (d.spool) c.spools.push_back({d.name, d.spool->Records(), d.spool->Bytes()});
    }
    return c;
}
