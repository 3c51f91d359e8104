// Fuzz target: any datagram must parse without reading or writing out of bounds, and every
// accepted one must leave two terminated texts that fit their blocks; no form may change which
// datagrams are refused.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size heap copy lets AddressSanitizer see any read past the datagram.
    char* datagram = static_cast<char*>(std::malloc(size ? size : 1));
    if (size) std::memcpy(datagram, data, size);

    char host[syslogparse::kHostBlockSize];
    char message[syslogparse::kMessageBlockSize];
    bool accepted = syslogparse::ParseDatagram(datagram, size, "192.0.2.1", host, message);
    if (accepted) {
        if (std::memchr(host, 0, sizeof host) == nullptr) std::abort();
        if (std::memchr(message, 0, sizeof message) == nullptr) std::abort();
    }
    // Only the leading '<' and the priority's length decide a refusal, whatever form follows.
    std::size_t priorityScan =
        size > 1 ? std::min<std::size_t>(size - 1, syslogparse::kMaxPriorityLength + 1) : 0;
    bool closed = std::memchr(datagram + 1, '>', priorityScan) != nullptr;
    bool shouldAccept = size > 0 && datagram[0] == '<' && (closed || size <= syslogparse::kMaxPriorityLength);
    if (accepted != shouldAccept) std::abort();
    std::free(datagram);
    return 0;
}
