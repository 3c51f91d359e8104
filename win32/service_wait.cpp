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

namespace {

std::function<bool(DWORD*)> StateQuery(SC_HANDLE service) {
    return [service](DWORD* state) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status)) return false;
        *state = status.dwCurrentState;
        return true;
    };
}

}  // namespace

DWORD WaitWhilePending(SC_HANDLE service, DWORD pending, DWORD last, ServicePolling timing,
                       const std::function<void()>& eachPoll) {
    return WaitWhilePending(StateQuery(service), pending, last, timing, eachPoll);
}

StopOutcome StopAndWait(const std::function<bool(DWORD* state)>& ask,
                        const std::function<bool(DWORD* state)>& query, ServicePolling timing,
                        const std::function<void()>& eachPoll, const std::function<void()>& underWay) {
    StopOutcome outcome;
    DWORD state = 0;
    bool taken = ask(&state);
    // A refusal answers with no state: the service may have stopped, or be stopping, meanwhile.
    if (!taken && !query(&state)) state = 0;
    outcome.state = state;
    if (!taken && state != SERVICE_STOP_PENDING) return outcome;
    outcome.underWay = true;
    if (underWay) underWay();
    if (state != SERVICE_STOPPED)
        outcome.state = WaitWhilePending(query, SERVICE_STOP_PENDING, state, timing, eachPoll);
    return outcome;
}

StopOutcome StopAndWait(SC_HANDLE service, ServicePolling timing, const std::function<void()>& eachPoll,
                        const std::function<void()>& underWay) {
    auto ask = [service](DWORD* state) {
        SERVICE_STATUS status = {};
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) return false;
        *state = status.dwCurrentState;
        return true;
    };
    return StopAndWait(ask, StateQuery(service), timing, eachPoll, underWay);
}

DWORD QueryState(SC_HANDLE service) {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

}  // namespace ovwin
