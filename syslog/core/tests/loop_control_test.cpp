// The receive loop's requests: a pause is taken between reads and reported once taken, a stop
// ends a resting loop too, and a reset forgets what came before the loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "loop_control.h"
#include "ovtest/wait_until.h"

namespace {

using namespace std::chrono_literals;

TEST(LoopControl, RequestsAsTheLoopSeesThem) {
    const struct {
        const char* what;
        bool pause, cont, stop;
        bool goesOn;  // BeforeRead's answer
    } cases[] = {
        {"nothing asked", false, false, false, true},
        {"a stop", false, false, true, false},
        {"a pause then a continue", true, true, false, true},
        {"a stop outlasts a continue", false, true, true, false},
        {"a pause with a stop", true, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopControl control;
        control.Reset();
        if (c.pause) control.RequestPause();
        if (c.cont) control.RequestContinue();
        if (c.stop) control.RequestStop();
        EXPECT_EQ(control.BeforeRead(10), c.goesOn);
        EXPECT_FALSE(control.Paused()) << "not resting once BeforeRead returned";
    }
}

TEST(LoopControl, APauseRestsUntilContinueOrStop) {
    for (bool endWithStop : {false, true}) {
        SCOPED_TRACE(endWithStop ? "stop" : "continue");
        LoopControl control;
        control.Reset();
        control.RequestPause();
        std::atomic<bool> returned{false}, answer{false};
        std::thread loop([&] {
            answer = control.BeforeRead(5);
            returned = true;
        });
        std::atomic<bool> resting{false};
        resting = ovtest::WaitUntil([&] { return control.Paused(); }, 10s, 1ms);
        EXPECT_TRUE(resting) << "the pause must be reported once taken";
        // Nothing can prove that the loop stays: watch it through several rests of 5 ms.
        std::this_thread::sleep_for(30ms);
        EXPECT_FALSE(returned) << "a paused loop must not go on reading";
        if (endWithStop)
            control.RequestStop();
        else
            control.RequestContinue();
        EXPECT_TRUE(ovtest::WaitUntil([&] { return returned.load(); }, 10s, 1ms));
        loop.join();
        EXPECT_EQ(answer.load(), !endWithStop);
        EXPECT_FALSE(control.Paused());
    }
}

TEST(LoopControl, ResetForgetsEarlierRequests) {
    LoopControl control;
    control.RequestStop();
    control.RequestPause();
    control.Reset();
    EXPECT_FALSE(control.StopRequested());
    EXPECT_TRUE(control.BeforeRead(10));
}

}  // namespace
