// Which AuthPort texts name a port: a wrong answer would bind a port nobody configured.
#include <gtest/gtest.h>

#include "port_text.h"

namespace {

TEST(ParsePortText, AcceptsWholeNumbersInThePortRangeOnly) {
    struct {
        const char* text;
        bool accepted;
        int port;
    } cases[] = {
        {"514", true, 514},      {" 600", true, 600},     {"600 \t", true, 600},
        {"1", true, 1},          {"65535", true, 65535},  {"00514", true, 514},
        {"0", false, 0},         {"65536", false, 0},     {"70000", false, 0},
        {"1514xyz", false, 0},   {"abc", false, 0},       {"-5", false, 0},
        {"+514", false, 0},      {"5 14", false, 0},      {"", false, 0},
        {"   ", false, 0},       {"99999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        int port = -1;
        EXPECT_EQ(ovreg::ParsePortText(c.text, &port), c.accepted) << "'" << c.text << "'";
        if (c.accepted) EXPECT_EQ(port, c.port) << "'" << c.text << "'";
        else EXPECT_EQ(port, -1) << "'" << c.text << "': port written although refused";
    }
    EXPECT_FALSE(ovreg::ParsePortText(nullptr, nullptr));
}

TEST(IsBlankText, TellsEmptyAndWhiteSpaceFromText) {
    EXPECT_TRUE(ovreg::IsBlankText(""));
    EXPECT_TRUE(ovreg::IsBlankText(" \t "));
    EXPECT_TRUE(ovreg::IsBlankText(nullptr));
    EXPECT_FALSE(ovreg::IsBlankText(" 5"));
}

}  // namespace
