#include "datagram_threads.h"

#include <winsock2.h>
#include <process.h>

#include "backlog.h"
#include "message.h"

namespace {

volatile LONG g_pending = 0;  // queued or being handled
volatile LONG g_threads = 0;  // started and not yet ending, at most kMaxDatagramThreads
// Threads are created one at a time: a creation costs the reader a share of the wineserver, and
// a burst's first milliseconds would otherwise start a thread for every datagram read. A record
// that found no thread to wake or start is owed one: the next thread to come to the backlog wakes
// or starts one, and that one the next, so a backlog left by a burst gets its threads without the
// reader.
volatile LONG g_starting = 0;  // created and not yet running
// Records queued that no thread was woken or started for, up to the thread bound (more could
// not be paid).
volatile LONG g_owed = 0;
// Idle threads announce themselves in g_idle; a waker (the loop, or a thread paying what is owed)
// takes one announcement and releases one count of g_work for it. A thread that finds
// work after announcing takes its own back.
volatile LONG g_idle = 0;
HANDLE g_work = CreateSemaphoreA(nullptr, 0, 2 * kMaxDatagramThreads, nullptr);

HANDLE volatile g_lastThread = nullptr;

// In a burst the loop reads far faster than any forwarding, and every read and most of a forward
// are round trips to the one wineserver: each forwarder takes a share from the reader and makes
// the socket overflow sooner. So while a burst is read and the backlog has room, no thread takes
// a datagram and none is started; they all go on once the reader has rested. A backlog past half
// its bounds is forwarded at once, so that a flood that never rests is still forwarded.
volatile LONG g_burstUntil = 0;  // tick count at which the last burst seen ends

bool InBurst() {
    return static_cast<LONG>(InterlockedCompareExchange(&g_burstUntil, 0, 0) - static_cast<LONG>(GetTickCount())) > 0;
}

bool HoldForwarding() { return InBurst() && backlog::Roomy(); }

// The tick count moves in steps of about 16 ms under Wine, too coarse for the window.
LONGLONG Milliseconds() {
    static LONGLONG perSecond = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000 / perSecond;
}

// Counts the loop's reads per window; runs on the loop thread only.
void NoteRead() {
    static LONGLONG windowStart = 0;
    static LONG reads = 0;
    LONGLONG now = Milliseconds();
    if (now - windowStart >= kBurstWindowMs) {
        windowStart = now;
        reads = 0;
    }
    if (++reads == kBurstReads) InterlockedExchange(&g_burstUntil, static_cast<LONG>(GetTickCount() + kBurstRestMs));
}

void WaitOutBurst() {
    while (HoldForwarding()) Sleep(kBurstRestMs);
}

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

unsigned HandleDatagram(DatagramHandoff* handoff) {
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

// Whatever the callback did, the datagram's turn is passed before the thread takes another.
unsigned RunDatagram(DatagramHandoff* handoff) {
    turns::Begin(TicketOf(handoff));
    unsigned result = HandleDatagram(handoff);
    turns::Finish();
    return result;
}

unsigned __stdcall DatagramThread(void*);

// False only when another thread is being created: then the record is owed one.
bool StartThread() {
    if (!AddBelow(g_starting, 1)) return false;
    if (!AddBelow(g_threads, kMaxDatagramThreads)) {
        InterlockedDecrement(&g_starting);  // the running ones will take it
        return true;
    }
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, kDatagramThreadStack, DatagramThread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (thread == nullptr) {
        InterlockedDecrement(&g_threads);  // the record waits for a thread that can start
        InterlockedDecrement(&g_starting);
        return true;
    }
    HANDLE previous = InterlockedExchangePointer(const_cast<HANDLE*>(&g_lastThread), thread);
    if (previous != nullptr) CloseHandle(previous);
    return true;
}

// One more thread on the backlog: an idle one if there is one, else a new one, else owed.
void WakeOrStart() {
    if (TakeOne(g_idle))
        ReleaseSemaphore(g_work, 1, nullptr);
    else if (!StartThread())
        AddBelow(g_owed, kMaxDatagramThreads);
}

void PayOwed() {
    if (!HoldForwarding() && !backlog::Empty() && TakeOne(g_owed)) WakeOrStart();
}

// The next record, waiting up to the linger time for one; null when this thread should end.
DatagramHandoff* NextDatagram() {
    for (;;) {
        WaitOutBurst();
        PayOwed();
        if (DatagramHandoff* handoff = backlog::Take()) return handoff;
        InterlockedIncrement(&g_idle);
        // A record queued before the announcement was seen by nobody: look once more.
        DatagramHandoff* handoff = backlog::Take();
        bool woken = WaitForSingleObject(g_work, handoff != nullptr ? 0 : kDatagramThreadLingerMs) == WAIT_OBJECT_0;
        // Not woken: withdraw the announcement, unless a waker has just taken it and its count is
        // on the way.
        if (!woken && !TakeOne(g_idle)) WaitForSingleObject(g_work, INFINITE);
        if (handoff != nullptr) return handoff;
        if (!woken) return nullptr;
    }
}

unsigned __stdcall DatagramThread(void*) {
    InterlockedDecrement(&g_starting);
    PayOwed();
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

}  // namespace

bool QueueDatagram(DatagramHandoff* handoff) {
    InterlockedIncrement(&g_pending);
    if (!backlog::Push(handoff)) {
        InterlockedDecrement(&g_pending);
        return false;
    }
    turns::Record(TicketOf(handoff), *handoff->address);
    NoteRead();
    // Held: the threads come back to the backlog by themselves once the reader rests (those in
    // a callback when they return, idle ones within the linger) and pay what is owed.
    if (HoldForwarding())
        AddBelow(g_owed, kMaxDatagramThreads);
    else
        WakeOrStart();
    return true;
}

LONG PendingDatagrams() { return Load(g_pending); }

void CSyslogMinitor::waitTurn() { turns::Wait(); }

void CSyslogMinitor::passTurn() { turns::Pass(); }

