// The service's delivery with a spool per destination (spool\ beside the program), its size
// setting, and the counters an operator reads under the settings key or with -s.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "store_forward.h"

// A destination's spool may grow to this many bytes (REG_DWORD under the settings key); missing
// means the default, and a value below the least is refused for the default.
constexpr const char* kSpoolMaxValue = "SpoolMaxSize";
constexpr unsigned long kMinSpoolMaxBytes = 1024ul * 1024;
// printf format: the refused text, the least size, the size used instead.
constexpr const char* kLogSpoolMaxRefused = "Syslog properties : SpoolMaxSize %s is below %lu, %llu used !";

// Written every few seconds while the service runs, and at its end.
constexpr const char* kStatisticsSubkey = "Statistics";
constexpr DWORD kStatisticsEveryMs = 5000;
// How long a stop waits for the spool thread to leave a delivery.
constexpr DWORD kSpoolStopMs = 2000;

// The stored maximum, or the default; *refused receives a refused text (else it is emptied).
std::uint64_t ReadSpoolMaxBytes(std::string* refused);

// Opens what earlier runs spooled and delivers through the spools from now on. Once per process.
void StartForwarding();
// The stop has begun: refused records are spooled at once.
void ForwardingStopping();
// Ends the spool thread (bounded by kSpoolStopMs) and writes the spools' positions.
void StopForwarding();
// Null until StartForwarding: the records are then delivered as they always were.
CStoreAndForward* Forwarding();

// Counts a message handed to the forwarding.
void CountReceived();
// The counters under the settings key's Statistics subkey; false when they could not be written.
bool WriteStatistics(unsigned long droppedBacklogFull);
// What WriteStatistics last wrote, one line per counter, to standard output; false when the
// service has written none.
bool PrintStatistics();
