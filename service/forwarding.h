// The service's delivery with a spool per destination (spool\ beside the program), its size
// setting, and the counters an operator reads under the settings key or with -s.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "delivery_queue.h"
#include "service_timing.h"
#include "store_forward.h"

// A destination's spool may grow to this many bytes (REG_DWORD, REG_QWORD or decimal text under
// the settings key); missing or empty means the default, and a value outside the bounds is refused
// for the default. A terabyte is more than any outage should need, yet keeps a mistyped number
// from promising the whole disk.
constexpr const char* kSpoolMaxValue = "SpoolMaxSize";
constexpr std::uint64_t kMinSpoolMaxBytes = 1ull << 20;
constexpr std::uint64_t kMaxSpoolMaxBytes = 1ull << 40;
// printf format: the refused text, the bounds, the size used instead.
constexpr const char* kLogSpoolMaxRefused =
    "Syslog properties : SpoolMaxSize %s is not from %llu to %llu, %llu used !";

// Written every few seconds while the service runs, and at its end.
constexpr const char* kStatisticsSubkey = "Statistics";
constexpr DWORD kStatisticsEveryMs = 5000;
// A refused first delivery waits up to this long before its next attempt.
constexpr unsigned kRetryWaitModulusMs = 1000;

// The stored maximum, or the default; *refused receives a refused text (else it is emptied).
std::uint64_t ReadSpoolMaxBytes(std::string* refused);
// The error-log line for a refused SpoolMaxSize.
std::string SpoolMaxRefusedLine(const std::string& refused, std::uint64_t used);

// Opens what earlier runs spooled and delivers through the spools from now on. Once per process.
void StartForwarding();
// The stop has begun: refused records are spooled at once, waiting ones after one more attempt.
void ForwardingStopping();
// Ends the threads of the records waiting out their retries (bounded by kQueueStopMs) and of the
// spools (by kSpoolStopMs), and writes the spools' positions.
void StopForwarding();
// Both null until StartForwarding.
CStoreAndForward* Forwarding();
CDeliveryQueue* DeliveryQueue();
// Records waiting out their retries: a stop forwards them as it forwards what was read.
std::uint64_t QueuedRecords();

// Counts a message handed to the forwarding.
void CountReceived();
// The counters under the settings key's Statistics subkey; false when they could not be written.
bool WriteStatistics(std::uint64_t droppedBacklogFull);
// What WriteStatistics last wrote, one line per counter, to standard output; false when the
// service has written none.
bool PrintStatistics();
