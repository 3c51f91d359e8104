// How a sender's address is shown: what the host of a message without one of its own becomes.
#include <gtest/gtest.h>

#include <string>

#include "sender_address.h"

namespace {

SenderAddress Address(std::initializer_list<unsigned> groups) {
    SenderAddress a{};
    int i = 0;
    for (unsigned g : groups) {
        a.bytes[2 * i] = static_cast<std::uint8_t>(g >> 8);
        a.bytes[2 * i + 1] = static_cast<std::uint8_t>(g);
        ++i;
    }
    return a;
}

TEST(SenderAddress, TextOfEachKind) {
    struct Case {
        int line;
        SenderAddress address;
        const char* text;
    } cases[] = {
        {__LINE__, MappedIPv4(0x0100007Fu), "127.0.0.1"},  // network order on a little-endian host
        {__LINE__, Address({0, 0, 0, 0, 0, 0xFFFF, 0xC0A8, 0x0001}), "192.168.0.1"},
        {__LINE__, Address({0, 0, 0, 0, 0, 0, 0, 1}), "::1"},
        {__LINE__, Address({0, 0, 0, 0, 0, 0, 0, 0}), "::"},
        {__LINE__, Address({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}), "2001:db8::1"},
        {__LINE__, Address({0x2001, 0xdb8, 0, 1, 0, 0, 0, 1}), "2001:db8:0:1::1"},       // the longer run
        {__LINE__, Address({0x2001, 0, 0, 1, 0, 0, 1, 1}), "2001::1:0:0:1:1"},           // the first of two
        {__LINE__, Address({0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}), "2001:db8:0:1:1:1:1:1"},  // one zero stays
        {__LINE__, Address({0xfe80, 0, 0, 0, 0xABCD, 0xEF01, 0x2345, 0x6789}), "fe80::abcd:ef01:2345:6789"},
        {__LINE__, Address({1, 0, 0, 0, 0, 0, 0, 0}), "1::"},
        {__LINE__, Address({0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff}),
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
    };
    for (const Case& c : cases) {
        char text[kSenderTextSize];
        FormatSender(c.address, text, sizeof text);
        EXPECT_EQ(std::string(text), c.text) << "case at line " << c.line;
    }
}

TEST(SenderAddress, OnlyTheMappedFormIsIPv4) {
    EXPECT_TRUE(IsMappedIPv4(MappedIPv4(0)));
    EXPECT_FALSE(IsMappedIPv4(Address({0, 0, 0, 0, 0, 0, 0, 1})));
    EXPECT_FALSE(IsMappedIPv4(Address({0, 0, 0, 0, 0, 0xFFFE, 0x7F00, 1})));
}

}  // namespace
