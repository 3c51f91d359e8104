// Waiting in a test for a condition that another thread, a service or a window reaches in its own
// time. Portable C++, so that the native tests use it as well as the tests under Wine.
#pragma once

#include <chrono>
#include <thread>

namespace ovtest {

using Duration = std::chrono::steady_clock::duration;

// Asks `done` until it is true or `limit` has passed, resting `every` between two asks; asks once
// more at the limit, so a condition met during the last rest still counts. True when it held.
template <typename Condition>
bool WaitUntil(Condition&& done, Duration limit, Duration every = std::chrono::milliseconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(every);
    }
    return static_cast<bool>(done());
}

}  // namespace ovtest
