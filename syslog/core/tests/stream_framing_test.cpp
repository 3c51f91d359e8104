// The TCP framing: every case fed whole, byte by byte and in uneven pieces must give the same
// messages, so a message split across reads or many in one read come out whole and in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_framing.h"

namespace {

using namespace std::string_literals;

// Small limits so that the cases stay readable: 8 bytes kept, frames beyond 16 cut.
constexpr std::size_t kKeep = 8;
constexpr std::size_t kLongest = 16;

struct Outcome {
    std::vector<std::string> messages;  // a cut one ends in '+'
    bool badLength = false;
    bool truncated = false;  // the end came inside a counted frame
    bool operator==(const Outcome& o) const {
        return messages == o.messages && badLength == o.badLength && truncated == o.truncated;
    }
};

std::string Show(const Outcome& o) {
    std::string s;
    for (const std::string& m : o.messages) s += "[" + m + "]";
    if (o.badLength) s += " bad-length";
    if (o.truncated) s += " truncated";
    return s;
}

Outcome Frame(const std::string& stream, std::size_t piece) {
    StreamFramer framer(kKeep, kLongest);
    Outcome out;
    auto take = [&] {
        std::string m(framer.Message(), framer.Size());
        out.messages.push_back(framer.Cut() ? m + "+" : m);
    };
    for (std::size_t at = 0; at < stream.size() && !out.badLength;) {
        std::size_t end = std::min(stream.size(), at + piece);
        while (at < end) {
            std::size_t used = 0;
            StreamFramer::Event e = framer.Next(stream.data() + at, end - at, &used);
            at += used;
            if (e == StreamFramer::Event::Message) take();
            if (e == StreamFramer::Event::BadLength) {
                out.badLength = true;
                break;
            }
        }
    }
    if (!out.badLength) {
        if (framer.Finish() == StreamFramer::Event::Message) take();
        out.truncated = framer.Truncated();
    }
    return out;
}

struct Case {
    int line;
    std::string stream;
    Outcome expected;
};

const Case kCases[] = {
    // Octet counting.
    {__LINE__, "5 <1>ab", {{"<1>ab"}}},
    {__LINE__, "5 <1>ab3 <2>", {{"<1>ab", "<2>"}}},
    {__LINE__, "3 a\nb4 c\r\nd", {{"a\nb", "c\r\nd"}}},  // delimiters inside a counted frame are data
    {__LINE__, "0 5 hello", {{"hello"}}},                // an empty frame is skipped
    {__LINE__, "007 <1>abcd", {{"<1>abcd"}}},
    {__LINE__, "12 abcdefghijkl", {{"abcdefgh"}}},  // longer than kept, not beyond the limit
    {__LINE__, "20 abcdefghijklmnopqrst2 ok", {{"abcdefgh+", "ok"}}},  // beyond: cut, the rest skipped
    {__LINE__, "1000000000000 abcdefghij", {{"abcdefgh+"}}},           // 10^12: cut as soon as kept
    {__LINE__, "99999999999999999999999 x", {{}, true}},               // more digits than any length
    {__LINE__, "5 abc", {{}, false, true}},                            // ended inside the frame
    {__LINE__, "12", {{}, false, true}},                               // ended inside the length
    {__LINE__, "1x2 ab", {{}, true}},                                  // a length that is no number
    {__LINE__, "3 abc12a", {{"abc"}, true}},
    {__LINE__, "5\tabcde", {{}, true}},
    // Lines.
    {__LINE__, "<1>a\n<2>b\n", {{"<1>a", "<2>b"}}},
    {__LINE__, "<1>a\r\n<2>b\r\n", {{"<1>a", "<2>b"}}},
    {__LINE__, "<1>a\0<2>b\0"s, {{"<1>a", "<2>b"}}},  // as Python's handler sends
    {__LINE__, "\n\r\n\0<1>a\n\n"s, {{"<1>a"}}},      // empty lines are no messages
    {__LINE__, "<1>a\rb\n", {{"<1>a\rb"}}},           // only a CR before the LF goes
    {__LINE__, "<1>last", {{"<1>last"}}},             // the last delimiter left out
    {__LINE__, "<1>last\r", {{"<1>last"}}},
    {__LINE__, "abcdefghijklmnopq\n5 <1>ab", {{"abcdefgh+", "<1>ab"}}},  // a line beyond the limit
    {__LINE__, "abcdefghij\n", {{"abcdefgh"}}},
    {__LINE__, "garbage before\n5 <1>ab", {{"garbage ", "<1>ab"}}},
    // Both kinds in one stream, as the frame's first byte decides.
    {__LINE__, "<1>x\n3 <2>\n<3>z\n", {{"<1>x", "<2>", "<3>z"}}},
};

TEST(StreamFraming, SameMessagesHoweverTheStreamIsCut) {
    for (const Case& c : kCases) {
        for (std::size_t piece :
             {c.stream.size() + 1, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}}) {
            Outcome got = Frame(c.stream, piece);
            EXPECT_TRUE(got == c.expected) << "case at line " << c.line << ", pieces of " << piece << ": got "
                                           << Show(got) << ", expected " << Show(c.expected);
        }
    }
}

TEST(StreamFraming, DefaultLimitsKeepWhatTheRecordHoldsOfAHugeFrame) {
    StreamFramer framer;
    std::string head = "1000000000000 ";
    std::string body(70000, 'x');
    std::size_t used = 0;
    ASSERT_EQ(framer.Next(head.data(), head.size(), &used), StreamFramer::Event::NeedMore);
    ASSERT_EQ(framer.Next(body.data(), body.size(), &used), StreamFramer::Event::Message);
    EXPECT_EQ(framer.Size(), 4096u);
    EXPECT_TRUE(framer.Cut());
    EXPECT_EQ(used, body.size());
    // The rest of the frame is skipped without another message.
    std::size_t rest = 0;
    EXPECT_EQ(framer.Next(body.data(), body.size(), &rest), StreamFramer::Event::NeedMore);
    EXPECT_EQ(rest, body.size());
}

TEST(StreamFraming, NothingIsTakenAfterABadLength) {
    StreamFramer framer;
    std::string bad = "12x 5 <1>ab";
    std::size_t used = 0;
    ASSERT_EQ(framer.Next(bad.data(), bad.size(), &used), StreamFramer::Event::BadLength);
    EXPECT_EQ(framer.Next(bad.data() + used, bad.size() - used, &used), StreamFramer::Event::BadLength);
    EXPECT_EQ(used, 0u);
}

}  // namespace
