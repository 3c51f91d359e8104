// The datagram rules, one table: what each datagram reduces to, or that it is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "parser.h"

namespace {

using syslogparse::kHostBlockSize;
using syslogparse::kMessageBlockSize;

constexpr const char* kSender = "10.0.0.5";
constexpr bool kRefused = false;
constexpr bool kAccepted = true;

struct Case {
    int line;
    std::string datagram;
    bool accepted;
    std::string host;
    std::string message;
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

const Case kCases[] = {
    // Header form.
    {__LINE__, "<13>Jan 12 10:00:00 myhost some text", kAccepted, "myhost", "some text"},
    {__LINE__, "<13>Jan 12 10:00:00 myhost", kAccepted, "myhost", ""},
    {__LINE__, "<13>Jan 12 10:00:00 myhost ", kAccepted, "myhost", ""},
    {__LINE__, "<13>Jan 12 10:00:00Xmyhost x", kAccepted, "myhost", "x"},
    {__LINE__, "<13>Dec  5 23:59:59 sw1 link down", kAccepted, "sw1", "link down"},
    {__LINE__, "<189>Oct 31 01:02:03 core-sw %LINK-3-UPDOWN: Gi0/1 down", kAccepted, "core-sw",
     "%LINK-3-UPDOWN: Gi0/1 down"},
    {__LINE__, "<13>Jan 12 10:00:00 ", kAccepted, "", ""},
    {__LINE__, "<13>Jan 12 10:00:00", kAccepted, "", ""},
    {__LINE__, "Jan 12 10:00:00 myhost x", kRefused, "", ""},
    // Anything else is the bare form: the sender's address and the text after the priority.
    {__LINE__, "<13>Hello", kAccepted, kSender, "Hello"},
    {__LINE__, "<13> Hello", kAccepted, kSender, "Hello"},
    {__LINE__, "<13>  Hello", kAccepted, kSender, " Hello"},
    {__LINE__, "<13>Jan", kAccepted, kSender, "Jan"},
    {__LINE__, "<13>Started Mar backup job", kAccepted, kSender, "Started Mar backup job"},
    {__LINE__, "<189>123: Jan 12 10:00:00: %SYS-5-CONFIG_I: x", kAccepted, kSender,
     "123: Jan 12 10:00:00: %SYS-5-CONFIG_I: x"},
    {__LINE__, "<13>jan 12 10:00:00 myhost x", kAccepted, kSender, "jan 12 10:00:00 myhost x"},
    {__LINE__, "<13>Jan 12 1a:00:00 myhost x", kAccepted, kSender, "Jan 12 1a:00:00 myhost x"},
    {__LINE__, "<13>Jan 1 10:00:00 myhost x", kAccepted, kSender, "Jan 1 10:00:00 myhost x"},
    {__LINE__, "<13>Foo 12 10:00:00 myhost x", kAccepted, kSender, "Foo 12 10:00:00 myhost x"},
    {__LINE__, "<1>", kAccepted, kSender, ""},
    {__LINE__, "<>", kAccepted, kSender, ""},
    {__LINE__, "<", kAccepted, kSender, ""},
    {__LINE__, "<12", kAccepted, kSender, ""},
    // The priority holds at most six bytes.
    {__LINE__, "<123456>text", kAccepted, kSender, "text"},
    {__LINE__, "<1234567>text", kRefused, "", ""},
    {__LINE__, "<123456", kRefused, "", ""},
    {__LINE__, "13>text", kRefused, "", ""},
    {__LINE__, "", kRefused, "", ""},
    // A NUL byte ends every text; the datagram is not refused for it.
    {__LINE__, std::string("<13>Jan 12 10:00:00 my\0host x", 29), kAccepted, "my", ""},
    {__LINE__, std::string("<13>ab\0cd", 9), kAccepted, kSender, "ab"},
    {__LINE__, std::string("<13>Jan 12 10:00:00 host a\0b", 28), kAccepted, "host", "a"},
    // Over-long texts are cut to their blocks.
    {__LINE__, "<13>Jan 12 10:00:00 " + Repeat('h', 30) + " x", kAccepted, Repeat('h', 19), "x"},
    {__LINE__, "<13>Jan 12 10:00:00 h " + Repeat('m', 600), kAccepted, "h", Repeat('m', 511)},
    {__LINE__, "<13> " + Repeat('m', 2000), kAccepted, kSender, Repeat('m', 511)},
    // Only the first 1023 bytes are looked at: a host that ends beyond them runs to the cut.
    {__LINE__, "<13>Jan 12 10:00:00 " + Repeat('h', 1010) + " after", kAccepted, Repeat('h', 19), ""},
};

TEST(ParseDatagram, ReducesEachDatagramToHostAndMessage) {
    for (const Case& c : kCases) {
        char host[kHostBlockSize];
        char message[kMessageBlockSize];
        std::memset(host, '#', sizeof host);
        std::memset(message, '#', sizeof message);
        bool accepted = syslogparse::ParseDatagram(c.datagram.data(), c.datagram.size(), kSender, host,
                                                   message);
        ASSERT_EQ(accepted, c.accepted) << "case at line " << c.line;
        if (!accepted) {
            EXPECT_EQ(host[0], '#') << "case at line " << c.line << ": refused, yet host written";
            continue;
        }
        EXPECT_EQ(std::string(host), c.host) << "case at line " << c.line;
        EXPECT_EQ(std::string(message), c.message) << "case at line " << c.line;
        EXPECT_EQ(host[kHostBlockSize - 1], '\0') << "case at line " << c.line;
        EXPECT_EQ(message[kMessageBlockSize - 1], '\0') << "case at line " << c.line;
    }
}

TEST(ParseDatagram, ReadsNothingPastTheLength) {
    // The bytes after the length must not count: here they would make a header form.
    const char data[] = "<13>Jan 12 10:00:00 myhost x";
    char host[kHostBlockSize];
    char message[kMessageBlockSize];
    ASSERT_TRUE(syslogparse::ParseDatagram(data, 7, kSender, host, message));
    EXPECT_STREQ(host, kSender);
    EXPECT_STREQ(message, "Jan");
}

TEST(IsTimestamp, AcceptsOnlyTheTimestampShape) {
    struct {
        const char* field;
        bool expected;
    } cases[] = {
        {"Jan 12 10:00:00", true}, {"Feb  1 00:00:00", true}, {"Dec 31 23:59:59", true},
        {"May 05 12:34:56", true}, {"Jan 12 10:00:0", false}, {"Jan 12 10-00:00", false},
        {"JAN 12 10:00:00", false}, {"Jan12 10:00:00 ", false}, {" Jan 12 10:00:00", false},
        {"Jan  x 10:00:00", false}, {"Jan x1 10:00:00", false}, {"Sept 1 10:00:00", false},
    };
    for (const auto& c : cases) EXPECT_EQ(syslogparse::IsTimestamp(c.field), c.expected) << c.field;
}

}  // namespace
