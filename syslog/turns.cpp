#include "turns.h"

namespace turns {
namespace {

// The latest queued position per bucket of sender addresses. Senders that share a bucket are
// chained together: a false wait, never a wrong order.
constexpr ULONG kSenderBuckets = 4096;
struct Latest {
    LONG position;
    bool used;
};
Latest g_latest[kSenderBuckets] = {};  // the loop thread only

// The last position that passed in each slot. A slot that holds the predecessor or a later
// position means the predecessor has passed; a fresh table holds positions one lap back. The
// table is far larger than the datagrams that can be in flight, so a slot is not reused while
// its position still waits.
constexpr ULONG kPassedSlots = 1u << 20;
volatile LONG* g_passed = [] {
    auto* table = static_cast<volatile LONG*>(VirtualAlloc(nullptr, kPassedSlots * sizeof(LONG),
                                                           MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (table != nullptr)
        for (ULONG i = 0; i < kPassedSlots; ++i) table[i] = static_cast<LONG>(i - kPassedSlots);
    return table;
}();

// Waiters sleep on the condition of their predecessor's slot, so a pass wakes few threads.
constexpr ULONG kWaitSlots = 256;
SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_waiters[kWaitSlots] = {};

enum State { kNone, kAhead, kHeld };
thread_local State t_state = kNone;
thread_local Ticket t_ticket;

ULONG Bucket(std::uint32_t address) { return (address * 2654435761u) >> 20; }

bool Passed(LONG position) {
    LONG last = g_passed[static_cast<ULONG>(position) % kPassedSlots];
    return static_cast<LONG>(static_cast<ULONG>(last) - static_cast<ULONG>(position)) >= 0;
}

}  // namespace

Ticket Issue(LONG position, std::uint32_t address) {
    const Latest& latest = g_latest[Bucket(address)];
    return Ticket{position, latest.position, latest.used};
}

void Record(const Ticket& ticket, std::uint32_t address) { g_latest[Bucket(address)] = {ticket.position, true}; }

void Begin(const Ticket& ticket) {
    t_ticket = ticket;
    t_state = kAhead;
}

void Wait() {
    if (t_state != kAhead) return;
    t_state = kHeld;
    if (!t_ticket.hasPredecessor || g_passed == nullptr) return;
    LONG predecessor = t_ticket.predecessor;
    AcquireSRWLockExclusive(&g_lock);
    while (!Passed(predecessor))
        SleepConditionVariableSRW(&g_waiters[static_cast<ULONG>(predecessor) % kWaitSlots], &g_lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&g_lock);
}

void Pass() {
    if (t_state != kHeld) return;
    t_state = kNone;
    if (g_passed == nullptr) return;
    LONG position = t_ticket.position;
    AcquireSRWLockExclusive(&g_lock);
    g_passed[static_cast<ULONG>(position) % kPassedSlots] = position;
    ReleaseSRWLockExclusive(&g_lock);
    WakeAllConditionVariable(&g_waiters[static_cast<ULONG>(position) % kWaitSlots]);
}

void Finish() {
    Wait();
    Pass();
}

}  // namespace turns
