// The syslog datagram rules: standard C++ only, so that it also builds natively for fuzzing.
#pragma once

#include <cstddef>

namespace syslogparse {

constexpr std::size_t kWorkCopySize = 1024;     // the datagram is cut to 1023 bytes before parsing
constexpr std::size_t kHostBlockSize = 20;      // host text of at most 19 characters
constexpr std::size_t kMessageBlockSize = 512;  // message text of at most 511 characters
constexpr std::size_t kMaxPriorityLength = 6;
constexpr std::size_t kTimestampLength = 15;  // "Mmm dd hh:mm:ss"

// Reduces one datagram to its host and message text. False when it is refused (no leading '<',
// or a priority text longer than kMaxPriorityLength); then neither block is written. Otherwise
// both blocks hold NUL-terminated texts, cut to their sizes. source is the sender's address text,
// used as the host when the datagram carries no header or an RFC 5424 header without a host name.
// An RFC 5424 datagram counts as one only when its whole header is well formed; anything else
// takes the RFC 3164 header form or the bare form.
bool ParseDatagram(const char* data, std::size_t length, const char* source, char (&host)[kHostBlockSize],
                   char (&message)[kMessageBlockSize]);

// True when the field has the timestamp shape "Mmm dd hh:mm:ss" (day may be " d").
bool IsTimestamp(const char* field);

}  // namespace syslogparse
