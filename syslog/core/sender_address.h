// A sender's address as the receiver keeps it: 16 bytes of IPv6, an IPv4 sender mapped into them
// (::ffff:a.b.c.d), so that one form serves both families. Portable C++.
#pragma once

#include <cstddef>
#include <cstdint>

struct SenderAddress {
    std::uint8_t bytes[16];
};

constexpr std::size_t kSenderTextSize = 46;  // the longest IPv6 text and its NUL

SenderAddress MappedIPv4(std::uint32_t networkOrder);
bool IsMappedIPv4(const SenderAddress& address);
// An IPv4 sender as its dotted address, as it has always been shown; any other in the IPv6
// text form of RFC 5952 (lower case, the longest run of zero groups as "::").
void FormatSender(const SenderAddress& address, char* text, std::size_t size);
