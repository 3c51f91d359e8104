// The tests' one wait: a wait that says yes without its condition, or gives up early, lets every
// test built on it pass without the thing it waits for.
#include <gtest/gtest.h>

#include <chrono>

#include "ovtest/wait_until.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(WaitUntil, AsksUntilTheConditionHoldsAndOnceMoreAtTheLimit) {
    const struct {
        int line;
        int trueFrom;  // the ask from which the condition holds; 0: never, -1: from the limit on
        ovtest::Duration limit, every;
        bool result;
        int minAsks, maxAsks;
    } cases[] = {
        {__LINE__, 1, 1s, 5ms, true, 1, 1},
        {__LINE__, 3, 5s, 1ms, true, 3, 3},
        {__LINE__, 0, 100ms, 10ms, false, 2, 11},
        // A rest longer than the limit: only the last ask, at the limit, sees it.
        {__LINE__, -1, 50ms, 300ms, true, 2, 2},
    };
    for (const auto& c : cases) {
        int asks = 0;
        const auto start = Clock::now();
        auto done = [&] {
            ++asks;
            if (c.trueFrom < 0) return Clock::now() - start >= c.limit;
            return c.trueFrom > 0 && asks >= c.trueFrom;
        };
        bool result = ovtest::WaitUntil(done, c.limit, c.every);
        const auto took = Clock::now() - start;
        EXPECT_EQ(result, c.result) << "case at line " << c.line;
        EXPECT_GE(asks, c.minAsks) << "case at line " << c.line;
        EXPECT_LE(asks, c.maxAsks) << "case at line " << c.line;
        if (!c.result) EXPECT_GE(took, c.limit) << "case at line " << c.line << ": gave up early";
        EXPECT_LT(took, c.limit + c.every + 2s) << "case at line " << c.line << ": waited past its bound";
    }
}

}  // namespace
