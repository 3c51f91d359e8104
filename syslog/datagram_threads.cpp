#include "datagram_threads.h"

#include <winsock2.h>
#include <malloc.h>
#include <process.h>

#include <cstdlib>

#include "message.h"

namespace {

constexpr DWORD kSlotRecheckMs = 20;  // a wake-up lost to a race costs at most this

// Datagrams in flight, at most kMaxDatagramThreads; every thread holds at most one, and a new
// thread starts only when none is idle, so this also bounds the threads. A plain counter: the
// event is waited on only at the bound, so a datagram costs no extra call below it.
volatile LONG g_inFlight = 0;
HANDLE g_slotFreed = CreateEventA(nullptr, FALSE, FALSE, nullptr);

// Records for idle threads, and one count of g_work per record. No lock of ours: the loop thread
// may be suspended or terminated anywhere, and must never leave a datagram thread waiting on it.
struct QueuedHandoff {
    SLIST_ENTRY entry;  // first, and MEMORY_ALLOCATION_ALIGNMENT-aligned
    DatagramHandoff* handoff;
};
SLIST_HEADER g_queue = [] {
    SLIST_HEADER head;
    InitializeSListHead(&head);
    return head;
}();
HANDLE g_work = CreateSemaphoreA(nullptr, 0, kMaxDatagramThreads, nullptr);
volatile LONG g_idle = 0;  // idle threads that no record has been promised to yet

HANDLE g_lastThread = nullptr;  // touched only by the loop thread

// Takes one idle thread's promise; false when there is no idle thread.
bool ClaimIdleThread() {
    for (LONG n = g_idle; n > 0; n = g_idle)
        if (InterlockedCompareExchange(&g_idle, n - 1, n) == n) return true;
    return false;
}

void FreeHandoff(DatagramHandoff* handoff) {
    std::free(handoff->address);
    std::free(handoff->data);
    std::free(handoff);
}

unsigned RunDatagram(DatagramHandoff* handoff) {
    SyslogCallback callback = handoff->callback;
    char* data = handoff->data;
    int length = handoff->length;
    std::uint32_t* address = handoff->address;

    if (length < 1) {
        FreeHandoff(handoff);
        return static_cast<unsigned>(SYSLOG_E_NODATA);
    }

    CSyslogMinitor* message = new CSyslogMessage;
    in_addr sender;
    sender.s_addr = *address;
    int result = message->parse(data, length, inet_ntoa(sender));

    std::free(address);
    std::free(data);
    std::free(handoff);

    if (result != 0) {
        delete message;
        return static_cast<unsigned>(result);
    }
    // The callback owns the object and its two text blocks from here on.
    return callback(message);
}

// The next record for this thread, or null when none came within the linger time.
DatagramHandoff* WaitForNextDatagram() {
    InterlockedIncrement(&g_idle);
    if (WaitForSingleObject(g_work, kDatagramThreadLingerMs) != WAIT_OBJECT_0) {
        if (ClaimIdleThread()) return nullptr;  // withdrew this thread's own promise
        // The loop promised a record to an idle thread meanwhile; its signal is on the way.
        WaitForSingleObject(g_work, INFINITE);
    }
    auto* queued = reinterpret_cast<QueuedHandoff*>(InterlockedPopEntrySList(&g_queue));
    DatagramHandoff* handoff = queued->handoff;
    _aligned_free(queued);
    return handoff;
}

bool QueueForIdleThread(DatagramHandoff* handoff) {
    auto* queued = static_cast<QueuedHandoff*>(_aligned_malloc(sizeof(QueuedHandoff), MEMORY_ALLOCATION_ALIGNMENT));
    if (queued == nullptr) return false;
    if (!ClaimIdleThread()) {
        _aligned_free(queued);
        return false;
    }
    queued->handoff = handoff;
    InterlockedPushEntrySList(&g_queue, &queued->entry);
    ReleaseSemaphore(g_work, 1, nullptr);
    return true;
}

}  // namespace

bool WaitForDatagramSlot(unsigned long ms) {
    ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        if (InterlockedIncrement(&g_inFlight) <= kMaxDatagramThreads) return true;
        InterlockedDecrement(&g_inFlight);
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        DWORD left = static_cast<DWORD>(deadline - now);
        WaitForSingleObject(g_slotFreed, left < kSlotRecheckMs ? left : kSlotRecheckMs);
    }
}

void ReleaseDatagramSlot() {
    if (InterlockedDecrement(&g_inFlight) == kMaxDatagramThreads - 1) SetEvent(g_slotFreed);
}

unsigned __stdcall DatagramThread(void* first) {
    unsigned result = 0;
    for (auto* handoff = static_cast<DatagramHandoff*>(first); handoff != nullptr;
         handoff = WaitForNextDatagram()) {
        result = RunDatagram(handoff);
        ReleaseDatagramSlot();
    }
    return result;
}

void DispatchDatagram(DatagramHandoff* handoff) {
    if (QueueForIdleThread(handoff)) return;

    if (g_lastThread != nullptr) CloseHandle(g_lastThread);
    g_lastThread = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, kDatagramThreadStack, DatagramThread, handoff, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (g_lastThread == nullptr) {
        FreeHandoff(handoff);
        ReleaseDatagramSlot();
    }
}
