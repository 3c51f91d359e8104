#include "sender_address.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

}  // namespace

SenderAddress MappedIPv4(std::uint32_t networkOrder) {
    SenderAddress address;
    std::memcpy(address.bytes, kMappedPrefix, sizeof kMappedPrefix);
    std::memcpy(address.bytes + 12, &networkOrder, 4);
    return address;
}

bool IsMappedIPv4(const SenderAddress& address) {
    return std::memcmp(address.bytes, kMappedPrefix, sizeof kMappedPrefix) == 0;
}

void FormatSender(const SenderAddress& address, char* text, std::size_t size) {
    const std::uint8_t* b = address.bytes;
    if (IsMappedIPv4(address)) {
        std::snprintf(text, size, "%u.%u.%u.%u", b[12], b[13], b[14], b[15]);
        return;
    }
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = static_cast<unsigned>(b[2 * i] << 8 | b[2 * i + 1]);
    // The first longest run of two or more zero groups becomes "::".
    int bestStart = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > bestLength) bestStart = i, bestLength = j - i;
        i = j == i ? i + 1 : j;
    }
    char out[kSenderTextSize];
    std::size_t at = 0;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            out[at++] = ':';
            if (i == 0) out[at++] = ':';
            i += bestLength - 1;
            continue;
        }
        at += static_cast<std::size_t>(std::snprintf(out + at, sizeof out - at, "%x", groups[i]));
        if (i < 7) out[at++] = ':';
    }
    out[at] = '\0';
    std::snprintf(text, size, "%s", out);
}
