#include "store_forward.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <system_error>

#include "event_record.h"
#include "spool_format.h"

using Clock = std::chrono::steady_clock;

struct CStoreAndForward::Destination {
    explicit Destination(const std::string& n) : name(n) {}

    const std::string name;
    // Set only under lock; read without it to skip the lock while direct delivery is the rule.
    std::atomic<bool> spooling{false};

    std::mutex lock;               // the spool and everything below
    std::condition_variable wake;  // the drain's threads: a delivery ended, the back-off ended, a stop
    std::unique_ptr<CSpool> spool;
    bool named = false;  // its destination file is written
    // Episodes already told to the error log.
    bool toldStarted = false, toldFull = false, toldUnwritable = false, toldUnreadable = false;
    std::uint64_t toldDamage = 0;
    std::uint64_t fromSpool = 0;  // delivered from the spool since spooling started
    unsigned backoffMs = 0;
    Clock::time_point nextTry{};

    // The drain: records read ahead of the spool's delivered position, oldest first, each done
    // once delivered; the spool is told in order, so its position never passes an undelivered one.
    struct Slot {
        std::vector<unsigned char> record;
        bool done = false;
    };
    std::deque<Slot> window;
    std::uint64_t windowBase = 0;                               // number of window.front()
    std::map<std::string, std::deque<std::uint64_t>> bySender;  // slots waiting, in order
    std::deque<std::string> ready;  // senders with a waiting slot and no delivery under way
    bool exhausted = false;         // the spool had nothing more to read at the last look
    bool scanning = false;
    unsigned drains = 0;  // threads draining it

    // After a refusal: the first back-off, or twice the last one up to the longest. Refusals of
    // deliveries that were under way together count once.
    void BackOff(const StoreForwardTimes& t) {
        Clock::time_point now = Clock::now();
        if (now < nextTry) return;
        backoffMs = backoffMs == 0 ? t.firstBackoffMs : std::min(2 * backoffMs, t.lastBackoffMs);
        nextTry = now + std::chrono::milliseconds(backoffMs);
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

std::string SpoolSetAsideLine(const std::string& destination, const std::string& file,
                              std::uint64_t records) {
    char line[512];
    std::snprintf(line, sizeof line, "Syslog spool %s : %s cannot be read, set aside with %llu records !",
                  destination.c_str(), file.c_str(), static_cast<unsigned long long>(records));
    return line;
}

CStoreAndForward::CStoreAndForward(IStoreForwardPlatform& platform, SpoolLimits limits,
                                   StoreForwardTimes times)
    : m_platform(platform), m_limits(limits), m_times(times) {}

CStoreAndForward::~CStoreAndForward() {
    Stopping();
    m_stop = true;
    for (Destination* d : All()) {
        std::lock_guard<std::mutex> lock(d->lock);
        d->wake.notify_all();
    }
    std::unique_lock<std::mutex> run(m_runLock);
    m_wake.notify_all();
    m_wake.wait(run, [this] { return m_liveThreads == 0; });
    std::map<std::thread::id, std::thread> threads;
    threads.swap(m_threads);
    run.unlock();
    for (auto& t : threads) t.second.join();
}

CStoreAndForward::Destination& CStoreAndForward::Find(const std::string& destination) {
    std::lock_guard<std::mutex> map(m_mapLock);
    std::unique_ptr<Destination>& d = m_destinations[destination];
    if (!d) d.reset(new Destination(destination));
    return *d;
}

std::vector<CStoreAndForward::Destination*> CStoreAndForward::All() {
    std::vector<Destination*> all;
    std::lock_guard<std::mutex> map(m_mapLock);
    for (auto& entry : m_destinations) all.push_back(entry.second.get());
    return all;
}

void CStoreAndForward::Start() {
    std::unique_ptr<ISpoolFolder> folder = m_platform.Folder();
    std::vector<std::string> names;
    if (folder->List(&names)) {
        const std::string suffix = kSpoolDestinationSuffix;
        for (const std::string& file : names) {
            if (file.size() <= suffix.size() ||
                file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
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
            // Only listed here: the drain reads what is there, so the start waits for no spool.
            SpoolOpen found = d.spool->Attach();
            if (!found.ok) continue;
            if (d.spool->Scanned()) {
                std::string damage = SpoolDamageLine(destination, found);
                if (!damage.empty()) m_platform.Log(damage);
            }
            if (!d.spool->Scanned() || !d.spool->Empty()) StartSpooling(d);
        }
    }
    if (m_times.threads) StartThread(&CStoreAndForward::FlushLoop, nullptr);
}

DeliveryOutcome CStoreAndForward::Deliver(const std::string& destination, const unsigned char* record) {
    Destination& d = Find(destination);
    for (int attempt = 1;; ++attempt) {
        DeliveryOutcome outcome = AttemptAt(d, record, attempt == kDirectAttempts);
        if (outcome != DeliveryOutcome::kRefused) return outcome;
        if (!WaitRetry(m_platform.RetryWaitMs())) break;  // a stop: kept, not attempted again
    }
    std::lock_guard<std::mutex> lock(d.lock);
    return Spool(d, record);
}

DeliveryOutcome CStoreAndForward::Attempt(const std::string& destination, const unsigned char* record,
                                          bool last) {
    return AttemptAt(Find(destination), record, last);
}

DeliveryOutcome CStoreAndForward::AttemptAt(Destination& d, const unsigned char* record, bool last) {
    if (d.spooling) {
        std::lock_guard<std::mutex> lock(d.lock);
        if (d.spooling) return Spool(d, record);
    }
    if (m_platform.Deliver(d.name, record) == kRecordAccepted) {
        ++m_forwarded;
        return DeliveryOutcome::kDelivered;
    }
    // Once the destination spools, this record's place is behind what is spooled already.
    if (!last && !m_stopping && !d.spooling) return DeliveryOutcome::kRefused;
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
        // Once until the spool has emptied: freed space lets appends through now and then.
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
    d.toldUnwritable = false;
    if (!d.spooling) {
        StartSpooling(d);
        d.BackOff(m_times);
    } else {
        StartDrain(d);  // in case none could be started before
    }
    if (!d.toldStarted) m_platform.Log(SpoolingStartedLine(d.name));
    d.toldStarted = true;
    return DeliveryOutcome::kSpooled;
}

// Under d.lock: new records go behind the spool from now, and its drain starts.
void CStoreAndForward::StartSpooling(Destination& d) {
    d.spooling = true;
    d.fromSpool = 0;
    d.backoffMs = 0;
    d.nextTry = Clock::now();
    d.window.clear();
    d.bySender.clear();
    d.ready.clear();
    d.exhausted = false;
    StartDrain(d);
}

// Under d.lock.
void CStoreAndForward::StartDrain(Destination& d) {
    if (m_times.threads && d.drains == 0 && StartThread(&CStoreAndForward::Drain, &d)) ++d.drains;
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

bool CStoreAndForward::StartThread(void (CStoreAndForward::*body)(Destination*), Destination* d) {
    std::lock_guard<std::mutex> run(m_runLock);
    if (m_stop) return false;
    // Threads that have ended are joined here, so that many episodes do not pile them up.
    for (std::thread::id id : m_ended) {
        auto t = m_threads.find(id);
        if (t == m_threads.end()) continue;
        t->second.join();
        m_threads.erase(t);
    }
    m_ended.clear();
    try {
        std::thread t([this, body, d] { (this->*body)(d); });
        std::thread::id id = t.get_id();
        m_threads.emplace(id, std::move(t));
    } catch (const std::system_error&) {
        return false;  // the next record spooled tries again
    }
    ++m_liveThreads;
    return true;
}

// The last thing a thread does.
void CStoreAndForward::ThreadEnded() {
    std::lock_guard<std::mutex> run(m_runLock);
    --m_liveThreads;
    m_ended.push_back(std::this_thread::get_id());
    m_wake.notify_all();
}

bool CStoreAndForward::Stop(unsigned ms) {
    Stopping();
    m_stop = true;
    for (Destination* d : All()) {
        std::lock_guard<std::mutex> lock(d->lock);
        d->wake.notify_all();
    }
    bool ended;
    std::map<std::thread::id, std::thread> threads;
    {
        std::unique_lock<std::mutex> run(m_runLock);
        m_wake.notify_all();
        ended = m_wake.wait_for(run, std::chrono::milliseconds(ms), [this] { return m_liveThreads == 0; });
        if (ended) threads.swap(m_threads);
    }
    // Every thread is past its work: the joins are immediate. One still delivering is left.
    for (auto& t : threads) t.second.join();
    FlushAll();
    return ended;
}

void CStoreAndForward::FlushAll() {
    for (Destination* d : All()) {
        std::lock_guard<std::mutex> lock(d->lock);
        if (d->spool) d->spool->Flush();
    }
}

// The disk on its own schedule: no delivery holds it up.
void CStoreAndForward::FlushLoop(Destination*) {
    std::unique_lock<std::mutex> run(m_runLock);
    while (!m_stop) {
        m_wake.wait_for(run, std::chrono::milliseconds(m_times.flushMs), [this] { return m_stop.load(); });
        if (m_stop) break;
        run.unlock();
        FlushAll();
        run.lock();
    }
    run.unlock();
    ThreadEnded();
}

// A thread of d's drain. Each takes a sender whose turn it is; one more starts while senders wait
// and the bound allows; all end when the spool is empty.
void CStoreAndForward::Drain(Destination* d) {
    {
        std::unique_lock<std::mutex> lock(d->lock);
        while (!m_stop && d->spooling) {
            Step step = DrainStep(*d, lock);
            if (step == Step::kEnded) break;
            if (step == Step::kDelivered || step == Step::kScanned) continue;
            // Idle or refused: until the back-off ends or another thread's delivery ends.
            Clock::time_point until =
                std::min(d->nextTry, Clock::now() + std::chrono::milliseconds(m_times.flushMs));
            if (until <= Clock::now()) until = Clock::now() + std::chrono::milliseconds(m_times.flushMs);
            d->wake.wait_until(lock, until);
        }
        --d->drains;
        d->wake.notify_all();
    }
    ThreadEnded();
}

std::uint64_t CStoreAndForward::Pump(std::uint64_t most) {
    std::uint64_t delivered = 0;
    for (Destination* d : All()) {
        std::unique_lock<std::mutex> lock(d->lock);
        while (delivered < most && d->spooling) {
            Step step = DrainStep(*d, lock);
            if (step == Step::kDelivered)
                ++delivered;
            else if (step != Step::kScanned)
                break;
        }
    }
    return delivered;
}

// Under d.lock: the scan of what an earlier run left, with the lock let go; one thread does it.
void CStoreAndForward::Scan(Destination& d, std::unique_lock<std::mutex>& lock) {
    d.scanning = true;
    SpoolScan scan = d.spool->PrepareScan();
    lock.unlock();
    std::unique_ptr<ISpoolFolder> folder = m_platform.Folder();
    CSpool::RunScan(*folder, &scan, &m_stop);
    lock.lock();
    d.scanning = false;
    d.wake.notify_all();
    if (scan.cancelled) return;  // a stop: the next start scans again
    SpoolOpen found = d.spool->AdoptScan(std::move(scan));
    std::string damage = SpoolDamageLine(d.name, found);
    if (!damage.empty()) m_platform.Log(damage);
    if (found.records > 0 && !d.toldStarted) {
        m_platform.Log(SpoolingStartedLine(d.name));
        d.toldStarted = true;
    }
}

CStoreAndForward::Step CStoreAndForward::DrainStep(Destination& d, std::unique_lock<std::mutex>& lock) {
    if (!d.spool->Scanned()) {
        if (d.scanning) return Step::kIdle;
        Scan(d, lock);
        return Step::kScanned;
    }
    if (Clock::now() < d.nextTry) return Step::kIdle;
    ReadAhead(d);
    if (d.ready.empty()) {
        if (!d.window.empty() || !d.exhausted) return Step::kIdle;
        // Everything read is delivered and nothing more is there: direct delivery again. New
        // records are spooled under this lock, so none can be left behind.
        d.spooling = false;
        d.backoffMs = 0;
        if (d.toldStarted) m_platform.Log(SpoolEmptiedLine(d.name, d.fromSpool));
        d.toldStarted = d.toldFull = false;
        d.wake.notify_all();
        return Step::kEnded;
    }
    std::string sender = d.ready.front();
    d.ready.pop_front();
    // Another sender waits its turn: one more thread, so that it need not wait for this one.
    if (!d.ready.empty() && m_times.threads && d.drains < m_times.drainThreads &&
        StartThread(&CStoreAndForward::Drain, &d))
        ++d.drains;
    std::uint64_t number = d.bySender[sender].front();
    std::vector<unsigned char> record = d.window[number - d.windowBase].record;
    lock.unlock();
    bool accepted = m_platform.Deliver(d.name, record.data()) == kRecordAccepted;
    lock.lock();
    if (!accepted) {
        d.ready.push_front(sender);  // its turn again first
        d.BackOff(m_times);
        d.wake.notify_all();
        return Step::kRefused;
    }
    std::deque<std::uint64_t>& waiting = d.bySender[sender];
    waiting.pop_front();
    if (waiting.empty())
        d.bySender.erase(sender);
    else
        d.ready.push_back(sender);
    d.window[number - d.windowBase].done = true;
    ++d.fromSpool;
    ++m_redelivered;
    d.backoffMs = 0;
    SettleWindow(d);
    d.wake.notify_all();
    return Step::kDelivered;
}

// Under d.lock: fills the window from the spool.
void CStoreAndForward::ReadAhead(Destination& d) {
    std::vector<unsigned char> record;
    while (d.window.size() < m_times.window) {
        SpoolHead head = d.spool->ReadNext(&record);
        TellSpoolNews(d);
        d.exhausted = head == SpoolHead::kEmpty;
        if (head == SpoolHead::kFailed) {
            // The folder itself cannot be read: try again after a back-off.
            if (!d.toldUnreadable) m_platform.Log(SpoolUnreadableLine(d.name));
            d.toldUnreadable = true;
            d.BackOff(m_times);
            return;
        }
        if (head != SpoolHead::kRecord) return;
        d.toldUnreadable = false;
        Destination::Slot slot;
        // An intact frame that holds no record of ours: nothing to deliver.
        slot.done = record.size() != kEventRecordSize;
        if (!slot.done) {
            std::uint64_t number = d.windowBase + d.window.size();
            std::deque<std::uint64_t>& waiting = d.bySender[RecordSender(record.data())];
            waiting.push_back(number);
            // A sender whose delivery is under way is put back in turn when it ends.
            if (waiting.size() == 1) d.ready.push_back(RecordSender(record.data()));
            slot.record.swap(record);
        }
        d.window.push_back(std::move(slot));
        SettleWindow(d);
    }
}

// Under d.lock: the delivered records at the window's front are marked in the spool, oldest first.
void CStoreAndForward::SettleWindow(Destination& d) {
    while (!d.window.empty() && d.window.front().done) {
        d.window.pop_front();
        ++d.windowBase;
        d.spool->MarkDelivered();
    }
    TellSpoolNews(d);
}

// Under d.lock: damage and set-aside segments met while reading, each told once.
void CStoreAndForward::TellSpoolNews(Destination& d) {
    if (d.spool->LateDamage() > d.toldDamage) {
        m_platform.Log(SpoolLateDamageLine(d.name, d.spool->LateDamage() - d.toldDamage));
        d.toldDamage = d.spool->LateDamage();
    }
    for (const SpoolSetAside& aside : d.spool->TakeSetAside()) {
        ++m_damaged;
        m_platform.Log(SpoolSetAsideLine(d.name, aside.file, aside.records));
    }
}

ForwardCounters CStoreAndForward::Counters() {
    ForwardCounters c;
    c.forwarded = m_forwarded;
    c.spooled = m_spooled;
    c.redelivered = m_redelivered;
    c.spoolFull = m_spoolFull;
    c.givenUp = m_givenUp;
    c.damaged = m_damaged;
    for (Destination* d : All()) {
        std::lock_guard<std::mutex> lock(d->lock);
        if (d->spool) c.spools.push_back({d->name, d->spool->Records(), d->spool->Bytes()});
    }
    return c;
}
