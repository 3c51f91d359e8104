// Waiting for a service to leave a pending state, as the service manager's clients do.
#pragma once

#include <windows.h>

#include <functional>

namespace ovwin {

struct ServicePolling {
    DWORD intervalMs;
    int polls;  // further queries after the first while the state stays pending
};

// One interval after the request, a query, then further queries an interval apart while the state
// stays `pending`, at most `polls` of them. Returns the last state read; a failed query keeps the
// one before it, starting from `last`. `eachPoll` runs before each further query.
DWORD WaitWhilePending(const std::function<bool(DWORD* state)>& query, DWORD pending, DWORD last,
                       ServicePolling timing, const std::function<void()>& eachPoll = {});
DWORD WaitWhilePending(SC_HANDLE service, DWORD pending, DWORD last, ServicePolling timing,
                       const std::function<void()>& eachPoll = {});

// How a stop through StopAndWait ended.
struct StopOutcome {
    bool underWay = false;  // the manager took the request, or the service was stopping already
    DWORD state = 0;        // the last state read; 0 when none could be
};

// The one way the service's clients stop it: asks for the stop and, while one is under way (taken
// now, or asked for earlier by someone else), waits while STOP_PENDING as WaitWhilePending does.
// A refused request with no stop under way is not waited on. `underWay` runs once, before the
// wait; `eachPoll` before each further query. `ask` sends the request and gives the state the
// manager answered with; `query` reads the state.
StopOutcome StopAndWait(const std::function<bool(DWORD* state)>& ask,
                        const std::function<bool(DWORD* state)>& query, ServicePolling timing,
                        const std::function<void()>& eachPoll = {},
                        const std::function<void()>& underWay = {});
StopOutcome StopAndWait(SC_HANDLE service, ServicePolling timing, const std::function<void()>& eachPoll = {},
                        const std::function<void()>& underWay = {});

// The service's current state, or 0 when it cannot be queried.
DWORD QueryState(SC_HANDLE service);

}  // namespace ovwin
