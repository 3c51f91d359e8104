#include "ovwin/service_wait.h"

namespace ovwin {

DWORD WaitWhilePending(const std::function<bool(DWORD* state)>& query, DWORD pending, DWORD last,
                       ServicePolling timing, const std::function<void()>& eachPoll) {
    DWORD state = last;
    auto read = [&] {
        DWORD now = 0;
        if (query(&now)) state = now;
    };
    Sleep(timing.intervalMs);
    read();
    for (int poll = 0; state == pending && poll < timing.polls; ++poll) {
        if (eachPoll) eachPoll();
        Sleep(timing.intervalMs);
        read();
    }
    return state;
}

DWORD WaitWhilePending(SC_HANDLE service, DWORD pending, DWORD last, ServicePolling timing,
                       const std::function<void()>& eachPoll) {
    auto query = [service](DWORD* state) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status)) return false;
        *state = status.dwCurrentState;
        return true;
    };
    return WaitWhilePending(query, pending, last, timing, eachPoll);
}

DWORD QueryState(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

}  // namespace ovwin
