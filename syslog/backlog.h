// Datagrams read and not yet taken by a datagram thread, in arrival order. The receive loop is
// the one writer; any datagram thread may take. No lock: the loop's thread may be frozen or cut
// off anywhere, and a datagram thread must never wait on it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "receive_loop.h"
#include "turns.h"

// Bounds that keep a burst inside a 32-bit process: a small datagram costs about 100 bytes here.
constexpr std::size_t kBacklogMaxBytes = 64u * 1024 * 1024;
constexpr LONG kBacklogMaxCount = 1 << 19;  // a power of two: positions wrap with the ring

// One allocation per datagram: the record, the sender's address, its turn and the datagram's own
// bytes.
DatagramHandoff* NewHandoff(SyslogCallback callback, const char* data, int length, std::uint32_t address,
                            std::uint16_t sourcePort, const turns::Ticket& ticket);
void FreeHandoff(DatagramHandoff* handoff);
turns::Ticket TicketOf(const DatagramHandoff* handoff);

namespace backlog {

// The position the next record pushed will have; the loop's thread only.
LONG NextPosition();
// Appends; false when either bound is reached (the caller drops and counts the datagram).
bool Push(DatagramHandoff* handoff);
// The oldest record, or null when there is none.
DatagramHandoff* Take();
bool Empty();
LONG Count();
// Below half of both bounds: room for a burst still being read.
bool Roomy();

}  // namespace backlog
