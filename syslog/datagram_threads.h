// Datagram threads: each datagram is parsed and handed to the callback on a datagram thread. The
// threads take datagrams from the backlog in arrival order; one that finds none waits a little
// for the next before it ends, because starting a thread per datagram caps the rate at what the
// system can start.
#pragma once

#include <windows.h>

#include "receive_loop.h"

constexpr DWORD kDatagramThreadLingerMs = 1000;
// A burst: at least kBurstReads datagrams read within kBurstWindowMs, twice what forwarding
// does at best (about 2,400 a second under Wine), so a steady load never looks like one. It lasts
// kBurstRestMs longer than the last such window. The short window stops the forwarders before
// the burst's first tens of milliseconds, when the socket fills fastest.
constexpr LONG kBurstReads = 100;
constexpr DWORD kBurstWindowMs = 20;
constexpr DWORD kBurstRestMs = 100;

// Queues the record for a datagram thread, waking or starting one, or owing it one while a thread
// is being created or a burst holds the forwarding. False when the backlog is full: the record
// stays the caller's.
bool QueueDatagram(DatagramHandoff* handoff);

// Datagrams queued or being handled: zero once every datagram read has been through the callback.
LONG PendingDatagrams();
