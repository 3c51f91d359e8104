// How destinations become file names and log lines in the outbox. Pure rules, no platform.
#pragma once

#include <string>

namespace orvane_comm {

constexpr const char* kRecordExtension = ".evt";
constexpr const char* kCallsLogName = "calls.log";
constexpr const char* kEmptyDestinationName = "_empty_";
// Longer names are cut here so that the full path stays well inside MAX_PATH.
constexpr size_t kMaxFileStem = 120;

// File stem for a destination: characters outside A-Za-z0-9._- become '_', empty (or null) is
// "_empty_", and a DOS device name (CON, NUL, COM1, ...) gets a leading '_' so it is a plain file.
std::string DestinationStem(const char* destination);

// "<destination>\t<1 or 0>\r\n"; control characters of the destination become '_' so a line
// stays one line.
std::string CallsLogLine(const char* destination, bool stored);

}  // namespace orvane_comm
