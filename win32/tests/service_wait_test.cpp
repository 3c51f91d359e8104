// Waiting on a service's state: how many queries are made and which state is given back decide
// whether a start or stop is reported as done.
#include <gtest/gtest.h>

#include <vector>

#include "ovwin/service_wait.h"

namespace {

constexpr DWORD kFailed = 0xFFFFFFFF;  // a query that fails
constexpr DWORD P = SERVICE_STOP_PENDING, S = SERVICE_STOPPED, R = SERVICE_RUNNING;

TEST(WaitWhilePending, QueriesUntilTheStateChangesOrThePollsRunOut) {
    struct {
        int line;
        std::vector<DWORD> answers;
        DWORD last;
        int polls;
        DWORD result;
        size_t queries;
    } cases[] = {
        {__LINE__, {S}, P, 5, S, 1},
        {__LINE__, {P, P, S}, P, 5, S, 3},
        {__LINE__, {P, P, P, P, P, P, P}, P, 5, P, 6},
        {__LINE__, {P, P, P}, P, 0, P, 1},
        {__LINE__, {kFailed}, P, 0, P, 1},  // a failed query keeps the state before it
        {__LINE__, {kFailed, kFailed, R}, P, 5, R, 3},
        {__LINE__, {P, kFailed, S}, R, 5, S, 3},  // pending kept across the failure
    };
    for (const auto& c : cases) {
        size_t queries = 0;
        int polled = 0;
        auto query = [&](DWORD* state) {
            DWORD answer = queries < c.answers.size() ? c.answers[queries] : kFailed;
            ++queries;
            if (answer == kFailed) return false;
            *state = answer;
            return true;
        };
        DWORD state = ovwin::WaitWhilePending(query, P, c.last, {1, c.polls}, [&] { ++polled; });
        EXPECT_EQ(state, c.result) << "line " << c.line;
        EXPECT_EQ(queries, c.queries) << "line " << c.line;
        EXPECT_EQ(static_cast<size_t>(polled), c.queries - 1) << "line " << c.line;
    }
}

TEST(WaitWhilePending, WaitsOneIntervalBeforeEachQuery) {
    int queries = 0;
    auto query = [&](DWORD* state) {
        *state = ++queries < 3 ? P : S;
        return true;
    };
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(ovwin::WaitWhilePending(query, P, P, {100, 5}), S);
    EXPECT_GE(GetTickCount64() - start, 3 * 100u - 30) << "three queries, three intervals";
}

// The manager's answer to a stop request: taken with a state, or refused.
constexpr DWORD kRefused = 0xFFFFFFFE;

TEST(StopAndWait, WaitsOnlyWhileAStopIsUnderWay) {
    struct {
        int line;
        DWORD answer;                // to the request
        std::vector<DWORD> queries;  // answers to the queries after it
        bool underWay;
        DWORD result;
        size_t queried;
    } cases[] = {
        {__LINE__, P, {P, S}, true, S, 2},
        {__LINE__, R, {P, P, S}, true, S, 3},     // taken before the service saw it
        {__LINE__, S, {}, true, S, 0},            // stopped at once: nothing to wait for
        {__LINE__, P, {P, P, P, P}, true, P, 3},  // polls run out while stopping
        {__LINE__, P, {kFailed, S}, true, S, 2},
        {__LINE__, kRefused, {S}, false, S, 1},  // stopped before the request
        {__LINE__, kRefused, {R}, false, R, 1},  // refused while running: no wait
        {__LINE__, kRefused, {kFailed}, false, 0, 1},
        {__LINE__, kRefused, {P, P, S}, true, S, 3},  // someone else's stop is waited for too
    };
    for (const auto& c : cases) {
        size_t queried = 0;
        int begun = 0;
        auto ask = [&](DWORD* state) {
            EXPECT_EQ(queried, 0u) << "line " << c.line << ": asked after a query";
            if (c.answer == kRefused) return false;
            *state = c.answer;
            return true;
        };
        auto query = [&](DWORD* state) {
            DWORD answer = queried < c.queries.size() ? c.queries[queried] : kFailed;
            ++queried;
            if (answer == kFailed) return false;
            *state = answer;
            return true;
        };
        ovwin::StopOutcome stop = ovwin::StopAndWait(ask, query, {1, 2}, {}, [&] { ++begun; });
        EXPECT_EQ(stop.underWay, c.underWay) << "line " << c.line;
        EXPECT_EQ(stop.state, c.result) << "line " << c.line;
        EXPECT_EQ(queried, c.queried) << "line " << c.line;
        EXPECT_EQ(begun, c.underWay ? 1 : 0) << "line " << c.line;
    }
}

}  // namespace
