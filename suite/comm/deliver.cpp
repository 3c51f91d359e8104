// The delivery function: stores or refuses one record as the registry settings say.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "OrvaneComm.h"
#include "comm_settings.h"
#include "ovwin/handles.h"
#include "ovwin/locks.h"
#include "outbox.h"
#include "outbox_names.h"

using namespace ovwin;

using namespace orvane_comm;

namespace {

// Calls made by this process so far; RefuseFirst counts against it.
std::atomic<unsigned long> g_calls{0};

bool ShouldRefuse(const CommSettings& s, unsigned long callNumber, const char* destination) {
    return s.refuseAll || callNumber <= s.refuseFirst ||
           (!s.refuseDestination.empty() && destination && s.refuseDestination == destination);
}

// The record's host slot: 16 bytes at offset 26, NUL-padded when shorter.
bool ShouldDelay(const CommSettings& s, const char* destination, const unsigned char* record) {
    if (s.delayMs == 0) return false;
    if (!s.delayDestination.empty() && (destination == nullptr || s.delayDestination != destination))
        return false;
    if (s.delayHost.empty()) return true;
    if (record == nullptr) return false;
    const char* host = reinterpret_cast<const char*>(record) + kHostOffset;
    return s.delayHost == std::string(host, strnlen(host, kHostSize));
}

// Opened once: the mutex lives as long as the process, and so does the outbox guarded by it.
HANDLE OutboxMutex() {
    static UniqueHandleT mutex(CreateMutexA(nullptr, FALSE, kOutboxMutexName));
    return mutex.get();
}

// Threads of this process queue here, not on the mutex: a released mutex passes to the next
// waiter, which with a hundred datagram threads waiting is seldom the one running, and deliveries
// then stall behind it. So at most one thread per process waits on the mutex.
CriticalSection& ProcessLock() {
    static CriticalSection lock;
    return lock;
}

Outbox& TheOutbox() {
    static Outbox outbox;
    return outbox;
}

}  // namespace

extern "C" int __cdecl OrvaneDeliver(const char* destination, const unsigned char* record) {
    unsigned long callNumber = ++g_calls;
    CommSettings settings = CurrentCommSettings();
    if (ShouldDelay(settings, destination, record)) Sleep(settings.delayMs);

    CriticalLock inProcess(ProcessLock());
    MutexLock lock(OutboxMutex());
    if (!lock.held()) return kRefused;
    Outbox& outbox = TheOutbox();
    outbox.UseFolder(settings.outboxDir);

    // A record that could not be written whole (no folder, a failed write) is refused, so the
    // caller tries again.
    bool stored = record && !ShouldRefuse(settings, callNumber, destination) &&
                  outbox.AppendRecord(DestinationStem(destination), record, kRecordSize);
    outbox.AppendCall(CallsLogLine(destination, stored));
    return stored ? kStored : kRefused;
}
