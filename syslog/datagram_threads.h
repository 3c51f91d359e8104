// Datagram threads: each datagram is parsed and handed to the callback on a pool thread, and the
// step the callback queues with deliverInTurn runs in the sender's arrival order.
#pragma once

#include <cstdint>

#include "datagram_handoff.h"

constexpr unsigned kMaxDatagramThreads = 128;
constexpr unsigned kDatagramThreadStack = 64 * 1024;  // 128 of them fit a 32-bit address space
constexpr unsigned kDatagramThreadLingerMs = 1000;    // an idle thread beyond the one kept ends then
// One sender's datagrams handled at once. Under Wine forwarding is bound by the one wineserver,
// not by threads: 32 forward as much as 128, and one sender's 128 only wait on each other there
// (the chain benchmark at 1,000 a second: p99 38 ms with 32, 395 ms with 128).
constexpr unsigned kLaneWindow = 32;
// Bounds on what was read and not yet handled, which keep a burst inside a 32-bit process: a
// small datagram costs about 100 bytes here.
constexpr std::uint64_t kBacklogMaxBytes = 64u * 1024 * 1024;
constexpr std::uint64_t kBacklogMaxCount = 1u << 19;

// While the receive loop runs one datagram thread is kept waiting, so that a datagram never waits
// for a thread to be created.
void OpenDatagramThreads();
void CloseDatagramThreads();
// Queues the record for the datagram threads; false when the bounds are reached: the record stays
// the caller's. The receive loop's thread only.
bool QueueDatagram(DatagramHandoff* handoff);
// Datagrams queued and not yet through the callback and the step it queued.
std::uint64_t PendingDatagrams();

// TCP messages: a pool of their own, and bounds that, once reached, stop the reading from the
// connections instead of dropping. Their senders keep the rest, so a few seconds of forwarding
// (about 2,000 a second under Wine) is room enough, and a stop forwards it in time.
constexpr unsigned kMaxStreamThreads = 64;
constexpr std::uint64_t kStreamBacklogMaxBytes = 8u * 1024 * 1024;
constexpr std::uint64_t kStreamBacklogMaxCount = 4096;
// A connection's lane key: the mark, then the connection's number.
constexpr std::uint64_t kStreamSenderMark = ~0ull;

void OpenStreamThreads();
void CloseStreamThreads();
// False when the bounds are reached: the record stays the caller's, to try again later.
// The TCP listener's thread only.
bool QueueStreamMessage(DatagramHandoff* handoff, std::uint64_t connection);
std::uint64_t PendingStreamMessages();
