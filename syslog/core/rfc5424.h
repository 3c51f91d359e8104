// The RFC 5424 datagram form: standard C++ only, like the rest of the parser.
#pragma once

#include <cstddef>
#include <string_view>

namespace syslogparse {

constexpr std::size_t kMaxHostName = 255;
constexpr std::size_t kMaxAppName = 48;
constexpr std::size_t kMaxProcId = 128;
constexpr std::size_t kMaxMsgId = 32;
constexpr std::size_t kMaxSdName = 32;  // SD-ID and PARAM-NAME
constexpr std::size_t kMaxFractionDigits = 6;

// The fields of an RFC 5424 message that the parser keeps. A field sent as "-" is empty.
struct Rfc5424Fields {
    std::string_view hostName;
    std::string_view appName;
    std::string_view procId;
    std::string_view msg;  // as sent, byte-order mark included
};

// Reads text, everything after the priority's '>', as VERSION SP TIMESTAMP SP HOSTNAME SP
// APP-NAME SP PROCID SP MSGID SP STRUCTURED-DATA [SP MSG]. False unless that whole header is
// well formed; fields is then left as it was.
bool ReadRfc5424(std::string_view text, Rfc5424Fields& fields);

}  // namespace syslogparse
