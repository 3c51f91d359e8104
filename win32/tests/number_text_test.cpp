// Which texts are numbers: a wrong answer would bind a port nobody configured, or store a field
// the user did not type.
#include <gtest/gtest.h>

#include "ovwin/number_text.h"

namespace {

TEST(ParsePortText, AcceptsWholeNumbersInThePortRangeOnly) {
    struct {
        const char* text;
        bool accepted;
        int port;
    } cases[] = {
        {"514", true, 514},
        {" 600", true, 600},
        {"600 \t", true, 600},
        {"1", true, 1},
        {"65535", true, 65535},
        {"00514", true, 514},
        {"0", false, 0},
        {"65536", false, 0},
        {"70000", false, 0},
        {"1514xyz", false, 0},
        {"abc", false, 0},
        {"-5", false, 0},
        {"+514", false, 0},
        {"5 14", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        int port = -1;
        EXPECT_EQ(ovwin::ParsePortText(c.text, &port), c.accepted) << "'" << c.text << "'";
        if (c.accepted)
            EXPECT_EQ(port, c.port) << "'" << c.text << "'";
        else
            EXPECT_EQ(port, -1) << "'" << c.text << "': port written although refused";
    }
    EXPECT_FALSE(ovwin::ParsePortText(nullptr, nullptr));
}

TEST(IsBlankText, TellsEmptyAndWhiteSpaceFromText) {
    EXPECT_TRUE(ovwin::IsBlankText(""));
    EXPECT_TRUE(ovwin::IsBlankText(" \t "));
    EXPECT_TRUE(ovwin::IsBlankText(nullptr));
    EXPECT_FALSE(ovwin::IsBlankText(" 5"));
}

}  // namespace

namespace {

TEST(ParseUnsignedText, AcceptsWholeNumbersWithinTheBoundOnly) {
    struct {
        int line;
        const char* text;
        unsigned long max;
        bool accepted;
        unsigned long value;
    } cases[] = {
        {__LINE__, "0", 10, true, 0},
        {__LINE__, " 10\n", 10, true, 10},
        {__LINE__, "11", 10, false, 0},
        {__LINE__, "4294967295", 0xFFFFFFFFul, true, 0xFFFFFFFFul},
        {__LINE__, "4294967296", 0xFFFFFFFFul, false, 0},
        {__LINE__, "184467440737095516160", 0xFFFFFFFFul, false, 0},
        {__LINE__, "1.5", 10, false, 0},
        {__LINE__, "\v\f7\r", 10, true, 7},
        {__LINE__, "", 10, false, 0},
    };
    for (const auto& c : cases) {
        unsigned long value = 12345;
        EXPECT_EQ(ovwin::ParseUnsignedText(c.text, c.max, &value), c.accepted) << "line " << c.line;
        EXPECT_EQ(value, c.accepted ? c.value : 12345ul) << "line " << c.line;
    }
}

// Sizes stored as text may be as large as a REG_QWORD; the bound must hold without wrapping.
TEST(ParseUnsignedText, SixtyFourBitFormKeepsTheBoundAtEveryWidth) {
    constexpr unsigned long long kMost = 0xFFFFFFFFFFFFFFFFull;
    struct {
        int line;
        const char* text;
        unsigned long long max;
        bool accepted;
        unsigned long long value;
    } cases[] = {
        {__LINE__, "18446744073709551615", kMost, true, kMost},
        {__LINE__, "18446744073709551616", kMost, false, 0},
        {__LINE__, "99999999999999999999", kMost, false, 0},
        {__LINE__, "1099511627776", 1ull << 40, true, 1ull << 40},
        {__LINE__, "1099511627777", 1ull << 40, false, 0},
        {__LINE__, "4294967296", 1ull << 40, true, 1ull << 32},
        {__LINE__, "7", 5, false, 0},
        {__LINE__, " 5 ", 5, true, 5},
        {__LINE__, "0x10", kMost, false, 0},
    };
    for (const auto& c : cases) {
        unsigned long long value = 12345;
        EXPECT_EQ(ovwin::ParseUnsignedText(c.text, c.max, &value), c.accepted) << "line " << c.line;
        EXPECT_EQ(value, c.accepted ? c.value : 12345ull) << "line " << c.line;
    }
}

TEST(ParseUnsignedText, ThirtyTwoBitFormKeepsTheWholeRange) {
    unsigned value = 0;
    EXPECT_TRUE(ovwin::ParseUnsignedText(" 4294967295 ", &value));
    EXPECT_EQ(value, 4294967295u);
    value = 7;
    EXPECT_FALSE(ovwin::ParseUnsignedText("4294967296", &value));
    EXPECT_FALSE(ovwin::ParseUnsignedText("-1", &value));
    EXPECT_FALSE(ovwin::ParseUnsignedText(nullptr, &value));
    EXPECT_EQ(value, 7u);
}

}  // namespace
