#include "datagram_threads.h"

#include <winsock2.h>
#include <process.h>

#include "backlog.h"
#include "message.h"

namespace {

volatile LONG g_pending = 0;  // queued or being handled
volatile LONG g_threads = 0;  // started and not yet ending, at most kMaxDatagramThreads
// Idle threads announce themselves in g_idle; the loop takes one announcement and releases one
// count of g_work for it. A thread that finds work after announcing takes its own back.
volatile LONG g_idle = 0;
HANDLE g_work = CreateSemaphoreA(nullptr, 0, 2 * kMaxDatagramThreads, nullptr);

HANDLE g_lastThread = nullptr;  // touched only by the loop thread

LONG Load(volatile LONG& v) { return InterlockedCompareExchange(&v, 0, 0); }

// Takes one count off the counter when it is above zero.
bool TakeOne(volatile LONG& counter) {
    for (LONG n = Load(counter); n > 0; n = Load(counter))
        if (InterlockedCompareExchange(&counter, n - 1, n) == n) return true;
    return false;
}

// Adds one to the counter when it is below the bound.
bool AddBelow(volatile LONG& counter, LONG bound) {
    for (LONG n = Load(counter); n < bound; n = Load(counter))
        if (InterlockedCompareExchange(&counter, n + 1, n) == n) return true;
    return false;
}

unsigned RunDatagram(DatagramHandoff* handoff) {
    SyslogCallback callback = handoff->callback;
    if (handoff->length < 1) {
        FreeHandoff(handoff);
        return static_cast<unsigned>(SYSLOG_E_NODATA);
    }
    CSyslogMinitor* message = new CSyslogMessage;
    in_addr sender;
    sender.s_addr = *handoff->address;
    int result = message->parse(handoff->data, handoff->length, inet_ntoa(sender));
    FreeHandoff(handoff);

    if (result != 0) {
        delete message;
        return static_cast<unsigned>(result);
    }
    // The callback owns the object and its two text blocks from here on.
    return callback(message);
}

// The next record, waiting up to the linger time for one; null when this thread should end.
DatagramHandoff* NextDatagram() {
    for (;;) {
        if (DatagramHandoff* handoff = backlog::Take()) return handoff;
        InterlockedIncrement(&g_idle);
        // A record queued before the announcement was seen by nobody: look once more.
        DatagramHandoff* handoff = backlog::Take();
        bool woken = WaitForSingleObject(g_work, handoff != nullptr ? 0 : kDatagramThreadLingerMs) == WAIT_OBJECT_0;
        // Not woken: withdraw the announcement, unless the loop has just taken it and its count
        // is on the way.
        if (!woken && !TakeOne(g_idle)) WaitForSingleObject(g_work, INFINITE);
        if (handoff != nullptr) return handoff;
        if (!woken) return nullptr;
    }
}

unsigned __stdcall DatagramThread(void*) {
    unsigned result = 0;
    for (;;) {
        for (DatagramHandoff* handoff = NextDatagram(); handoff != nullptr; handoff = NextDatagram()) {
            result = RunDatagram(handoff);
            InterlockedDecrement(&g_pending);
        }
        InterlockedDecrement(&g_threads);
        // A record queued while this thread was leaving may have found no thread to start.
        if (backlog::Empty() || !AddBelow(g_threads, kMaxDatagramThreads)) break;
    }
    return result;
}

void StartThread() {
    if (!AddBelow(g_threads, kMaxDatagramThreads)) return;  // the running ones will take it
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, kDatagramThreadStack, DatagramThread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (thread == nullptr) {
        InterlockedDecrement(&g_threads);  // the record waits for a thread that can start
        return;
    }
    if (g_lastThread != nullptr) CloseHandle(g_lastThread);
    g_lastThread = thread;
}

}  // namespace

bool QueueDatagram(DatagramHandoff* handoff) {
    InterlockedIncrement(&g_pending);
    if (!backlog::Push(handoff)) {
        InterlockedDecrement(&g_pending);
        return false;
    }
    if (TakeOne(g_idle))
        ReleaseSemaphore(g_work, 1, nullptr);
    else
        StartThread();
    return true;
}

LONG PendingDatagrams() { return Load(g_pending); }

LONG DatagramThreads() { return Load(g_threads); }
