// Turns in arrival order, per sender: a datagram's turn comes once the datagram that arrived
// before it from the same sender address has passed its own. Datagrams of different senders do
// not wait for each other, so a slow step in the turn holds up only its own sender.
#pragma once

#include <windows.h>

#include <cstdint>

namespace turns {

// A datagram's place: its position in the backlog, and the position of the same sender's
// previous datagram, which passes first.
struct Ticket {
    LONG position = 0;
    LONG predecessor = 0;
    bool hasPredecessor = false;
};

// On the loop thread: the ticket of the datagram about to be queued at the position, and, once
// it is queued, its record as the sender's latest. A datagram that is dropped is never recorded.
Ticket Issue(LONG position, std::uint32_t address);
void Record(const Ticket& ticket, std::uint32_t address);

// On a datagram thread: the ticket of the datagram it handles now; Wait and Pass do nothing
// without one. Finish passes a turn the callback did not pass, after waiting for it.
void Begin(const Ticket& ticket);
void Wait();
void Pass();
void Finish();

}  // namespace turns
