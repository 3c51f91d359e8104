#include "backlog.h"

#include <cstdlib>
#include <cstring>

namespace {

struct HandoffBlock {
    DatagramHandoff handoff;
    turns::Ticket ticket;
    std::uint32_t address;
    char data[1];  // the datagram's own length
};

constexpr std::size_t BlockBytes(int length) {
    return offsetof(HandoffBlock, data) + static_cast<std::size_t>(length);
}

// Slots [g_head, g_tail) hold records. Only the loop writes g_tail, and publishes a slot by moving
// it; takers claim a slot by moving g_head past it. Positions only grow, so a taker whose claim
// fails has read a stale slot and simply tries again.
DatagramHandoff* volatile* g_ring = nullptr;
volatile LONG g_head = 0;
volatile LONG g_tail = 0;
volatile LONG g_bytes = 0;  // of the records in the ring, as counted by BlockBytes

LONG Load(volatile LONG& v) { return InterlockedCompareExchange(&v, 0, 0); }

// Positions wrap after 2^32 datagrams; their distance stays right in unsigned arithmetic.
ULONG Distance(LONG from, LONG to) { return static_cast<ULONG>(to) - static_cast<ULONG>(from); }
LONG Next(LONG position) { return static_cast<LONG>(static_cast<ULONG>(position) + 1); }

bool EnsureRing() {
    if (g_ring != nullptr) return true;
    g_ring = static_cast<DatagramHandoff* volatile*>(std::calloc(kBacklogMaxCount, sizeof(DatagramHandoff*)));
    return g_ring != nullptr;
}

}  // namespace

DatagramHandoff* NewHandoff(SyslogCallback callback, const char* data, int length, std::uint32_t address,
                            std::uint16_t sourcePort, const turns::Ticket& ticket) {
    auto* block = static_cast<HandoffBlock*>(std::malloc(BlockBytes(length)));
    if (block == nullptr) return nullptr;
    block->ticket = ticket;
    block->address = address;
    std::memcpy(block->data, data, static_cast<std::size_t>(length));
    block->handoff = DatagramHandoff{callback, block->data, length, &block->address, sourcePort};
    return &block->handoff;
}

// The record is the block's first member, so its address is the block's.
void FreeHandoff(DatagramHandoff* handoff) { std::free(handoff); }

turns::Ticket TicketOf(const DatagramHandoff* handoff) {
    return reinterpret_cast<const HandoffBlock*>(handoff)->ticket;
}

namespace backlog {

LONG NextPosition() { return Load(g_tail); }

bool Push(DatagramHandoff* handoff) {
    if (!EnsureRing()) return false;
    LONG bytes = static_cast<LONG>(BlockBytes(handoff->length));
    LONG tail = g_tail;
    if (Distance(Load(g_head), tail) >= static_cast<ULONG>(kBacklogMaxCount)) return false;
    if (static_cast<std::size_t>(Load(g_bytes)) + static_cast<std::size_t>(bytes) > kBacklogMaxBytes) return false;
    InterlockedExchangeAdd(&g_bytes, bytes);
    g_ring[tail & (kBacklogMaxCount - 1)] = handoff;
    InterlockedExchange(&g_tail, Next(tail));  // publishes the slot
    return true;
}

DatagramHandoff* Take() {
    for (;;) {
        LONG head = Load(g_head);
        if (head == Load(g_tail)) return nullptr;
        DatagramHandoff* handoff = g_ring[head & (kBacklogMaxCount - 1)];
        if (InterlockedCompareExchange(&g_head, Next(head), head) == head) {
            InterlockedExchangeAdd(&g_bytes, -static_cast<LONG>(BlockBytes(handoff->length)));
            return handoff;
        }
    }
}

bool Empty() { return Load(g_head) == Load(g_tail); }

bool Roomy() {
    return Count() < kBacklogMaxCount / 2 && static_cast<std::size_t>(Load(g_bytes)) < kBacklogMaxBytes / 2;
}

LONG Count() { return static_cast<LONG>(Distance(Load(g_head), Load(g_tail))); }

}  // namespace backlog
