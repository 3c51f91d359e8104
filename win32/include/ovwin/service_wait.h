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

// The service's current state, or 0 when it cannot be queried.
DWORD QueryState(SC_HANDLE service);

}  // namespace ovwin
