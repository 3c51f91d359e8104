// Datagram threads: each datagram is parsed and handed to the callback on a thread of its own.
// A thread that has finished its datagram waits a little for the next one before it ends,
// because starting a thread per datagram caps the rate at what the system can start.
#pragma once

#include "receive_loop.h"

constexpr unsigned long kDatagramThreadLingerMs = 1000;

// Waits up to ms for room for one more datagram in flight; false when there was none.
bool WaitForDatagramSlot(unsigned long ms);
void ReleaseDatagramSlot();

// Hands the record (and with it the slot) to an idle datagram thread or to a new one. When no
// thread can be started the record and its blocks are freed and the slot released.
void DispatchDatagram(DatagramHandoff* handoff);
