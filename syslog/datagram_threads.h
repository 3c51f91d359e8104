// Datagram threads: each datagram is parsed and handed to the callback on a datagram thread. The
// threads take datagrams from the backlog in arrival order; one that finds none waits a little
// for the next before it ends, because starting a thread per datagram caps the rate at what the
// system can start.
#pragma once

#include <windows.h>

#include "receive_loop.h"

constexpr DWORD kDatagramThreadLingerMs = 1000;
// A burst: at least kBurstReads datagrams read within one window, far beyond what forwarding does
// (about 2,400 a second under Wine). It lasts a window longer than the last such window.
constexpr LONG kBurstReads = 500;
constexpr DWORD kBurstWindowMs = 100;
constexpr LONG kBurstForwarders = 1;

// Queues the record for a datagram thread, waking or starting one. False when the backlog is
// full: the record stays the caller's.
bool QueueDatagram(DatagramHandoff* handoff);

// Datagrams queued or being handled: zero once every datagram read has been through the callback.
LONG PendingDatagrams();
