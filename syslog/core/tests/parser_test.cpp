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

// A datagram that is not strictly RFC 5424 keeps the bare form: the sender and the text verbatim.
Case Bare(int line, const std::string& body) { return {line, "<13>" + body, kAccepted, kSender, body}; }

constexpr const char* kLogger =
    "1 2026-12-08T13:32:16.943307+00:00 vm root - - [timeQuality tzKnown=\"1\" isSynced=\"0\"] ";

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
    // RFC 5424: host and text from the sender's own header.
    {__LINE__, std::string("<13>") + kLogger + "link up Gi0/1", kAccepted, "vm", "root: link up Gi0/1"},
    {__LINE__,
     "<13>1 2026-12-08T13:52:18.068746+00:00 vm app 42 M1 [timeQuality tzKnown=\"1\" isSynced=\"0\"]"
     "[zoo@123 z=\"a\\\"b\\\\c\\]d\"][b@1 k=\"v\"] hi there",
     kAccepted, "vm", "app[42]: hi there"},
    {__LINE__, "<13>1 - - - - - - text", kAccepted, kSender, "text"},
    {__LINE__, "<13>1 - - - - - -", kAccepted, kSender, ""},
    {__LINE__, "<13>1 - sw1 app - - -", kAccepted, "sw1", "app: "},
    {__LINE__, "<13>1 - sw1 app - - - ", kAccepted, "sw1", "app: "},
    {__LINE__, "<13>1 - sw1 - 42 - - x", kAccepted, "sw1", "x"},
    {__LINE__, "<13>1 - sw1 app - - -  two", kAccepted, "sw1", "app:  two"},
    {__LINE__,
     "<13>1 2003-10-11T22:14:15.003Z mymachine.example.com su - ID47 - \xEF\xBB\xBF'su root' failed",
     kAccepted, "mymachine.example.c", "su: 'su root' failed"},
    {__LINE__, "<13>1 - h a - - - \xEF\xBB\xBF\xEF\xBB\xBFx", kAccepted, "h", "a: \xEF\xBB\xBFx"},
    {__LINE__, "<13>1 - h a - - - \xEF\xBBx", kAccepted, "h", "a: \xEF\xBBx"},
    {__LINE__, "<13>1 - h a - - [x@1 q=\"\\\"\" b=\"\\\\\" r=\"\\]\" l=\"\\n\"] t", kAccepted, "h", "a: t"},
    {__LINE__, "<13>1 - h a - - [a@1][b@2 x=\"1\" y=\"\"][c@3 z=\"[\"] t", kAccepted, "h", "a: t"},
    {__LINE__, "<13>1 - h a - - [a@1] [b@2] t", kAccepted, "h", "a: [b@2] t"},
    {__LINE__, "<165>999 2026-01-01T00:00:00+14:00 h a - - - t", kAccepted, "h", "a: t"},
    {__LINE__, "<13>1 2026-12-31T23:59:59.1-05:30 h a - - - t", kAccepted, "h", "a: t"},
    {__LINE__, "<13>1 2026-12-31T23:59:59.123456Z h a - - - t", kAccepted, "h", "a: t"},
    {__LINE__, "<>1 - h a - - - t", kAccepted, "h", "a: t"},
    // Each field at its longest; the host is cut to its block.
    {__LINE__, "<13>1 - " + Repeat('h', 255) + " a - - - t", kAccepted, Repeat('h', 19), "a: t"},
    {__LINE__, "<13>1 - h " + Repeat('a', 48) + " " + Repeat('p', 128) + " " + Repeat('m', 32) + " - t",
     kAccepted, "h", Repeat('a', 48) + "[" + Repeat('p', 128) + "]: t"},
    {__LINE__, "<13>1 - h a - - [" + Repeat('s', 32) + " " + Repeat('n', 32) + "=\"v\"] t", kAccepted, "h",
     "a: t"},
    // The text is cut as the other forms' are, after the prefix, and ends at a NUL.
    {__LINE__, "<13>1 - h app 7 - - " + Repeat('m', 600), kAccepted, "h", "app[7]: " + Repeat('m', 503)},
    {__LINE__, std::string("<13>1 - h app - - - ab\0cd", 25), kAccepted, "h", "app: ab"},
    {__LINE__, "<13>1 - h app - - - " + Repeat('m', 1100) + "z", kAccepted, "h", "app: " + Repeat('m', 506)},
    // Near-misses keep today's bare form.
    Bare(__LINE__, "01 - h a - - - t"),
    Bare(__LINE__, "1000 - h a - - - t"),
    Bare(__LINE__, "0 - h a - - - t"),
    Bare(__LINE__, "1 2026-12-08 13:32:16Z h a - - - t"),
    Bare(__LINE__, "1 2026-12-08t13:32:16Z h a - - - t"),
    Bare(__LINE__, "1 2026-12-08T13:32:16z h a - - - t"),
    Bare(__LINE__, "1 2026-12-08T13:32:16.1234567Z h a - - - t"),
    Bare(__LINE__, "1 2026-12-08T13:32:16.Z h a - - - t"),
    Bare(__LINE__, "1 2026-12-08T13:32:16 h a - - - t"),
    Bare(__LINE__, "1 2026-13-08T13:32:16Z h a - - - t"),
    Bare(__LINE__, "1 2026-12-08T24:00:00Z h a - - - t"),
    Bare(__LINE__, "1 2026-12-08T13:32:60Z h a - - - t"),
    Bare(__LINE__, "1 2026-12-08T13:32:16+0100 h a - - - t"),
    Bare(__LINE__, "1 - h  a - - - t"),
    Bare(__LINE__, "1 - h a - - [a@1 x=\"1\" t"),
    Bare(__LINE__, "1 - h a - - [a@1 x=\"1] t"),
    Bare(__LINE__, "1 - h a - - [a@1 x=\"]\"] t"),
    Bare(__LINE__, "1 - h a - - [a@1 x=1] t"),
    Bare(__LINE__, "1 - h a - - [a@1  x=\"1\"] t"),
    Bare(__LINE__, "1 - h a - - [] t"),
    Bare(__LINE__, "1 - h a - - [a@1]t"),
    Bare(__LINE__, "1 - h a - - x"),
    Bare(__LINE__, "1 - h a - -"),
    Bare(__LINE__, "1 - h a - - "),
    Bare(__LINE__, "1 - " + Repeat('h', 256) + " a - - - t"),
    Bare(__LINE__, "1 - h " + Repeat('a', 49) + " - - - t"),
    Bare(__LINE__, "1 - h a " + Repeat('p', 129) + " - - t"),
    Bare(__LINE__, "1 - h a - " + Repeat('m', 33) + " - t"),
    Bare(__LINE__, "1 - h a - - [" + Repeat('s', 33) + "] t"),
    Bare(__LINE__, "1 - h a - - [s " + Repeat('n', 33) + "=\"v\"] t"),
    Bare(__LINE__, "1 - h\xC3\xA9 a - - - t"),
    {__LINE__, std::string("<13>1 - h\0 a - - - t", 20), kAccepted, kSender, "1 - h"},
    // A header that completes only past the 1023 bytes looked at is not one.
    {__LINE__, "<13>1 - h a - - [a@1 x=\"" + Repeat('v', 1100) + "\"] t", kAccepted, kSender,
     ("1 - h a - - [a@1 x=\"" + Repeat('v', 1100)).substr(0, 511)},
    {__LINE__, "<1234567>1 - h a - - - t", kRefused, "", ""},
};

TEST(ParseDatagram, ReducesEachDatagramToHostAndMessage) {
    for (const Case& c : kCases) {
        char host[kHostBlockSize];
        char message[kMessageBlockSize];
        std::memset(host, '#', sizeof host);
        std::memset(message, '#', sizeof message);
        bool accepted =
            syslogparse::ParseDatagram(c.datagram.data(), c.datagram.size(), kSender, host, message);
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
        {"Jan 12 10:00:00", true},  {"Feb  1 00:00:00", true},  {"Dec 31 23:59:59", true},
        {"May 05 12:34:56", true},  {"Jan 12 10:00:0", false},  {"Jan 12 10-00:00", false},
        {"JAN 12 10:00:00", false}, {"Jan12 10:00:00 ", false}, {" Jan 12 10:00:00", false},
        {"Jan  x 10:00:00", false}, {"Jan x1 10:00:00", false}, {"Sept 1 10:00:00", false},
    };
    for (const auto& c : cases) EXPECT_EQ(syslogparse::IsTimestamp(c.field), c.expected) << c.field;
}

}  // namespace
