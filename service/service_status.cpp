#include "service_status.h"

#include "ovwin/locks.h"

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
volatile LONG g_currentState = SERVICE_STOPPED;
volatile LONG g_checkPoint = 0;
volatile LONG g_win32Exit = NO_ERROR;
volatile LONG g_specificExit = 0;

bool IsPending(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
           state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
}

DWORD WaitHint(DWORD state) {
    switch (state) {
    case SERVICE_START_PENDING: return kStartWaitHintMs;
    case SERVICE_STOP_PENDING: return kStopWaitHintMs;
    case SERVICE_PAUSE_PENDING:
    case SERVICE_CONTINUE_PENDING: return kPauseWaitHintMs;
    default: return 0;
    }
}

// Each report fills its own copy, so that reports from several threads need no lock.
bool Send() {
    if (g_statusHandle == nullptr) return false;
    DWORD state = CurrentState();
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    // Starting and stopping take no controls, as the service manager expects.
    if (state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING && state != SERVICE_STOPPED)
        status.dwControlsAccepted = kControlsAccepted;
    if (state == SERVICE_STOPPED) {
        status.dwWin32ExitCode = static_cast<DWORD>(ovwin::AtomicRead(g_win32Exit));
        status.dwServiceSpecificExitCode = static_cast<DWORD>(ovwin::AtomicRead(g_specificExit));
    }
    status.dwCheckPoint = static_cast<DWORD>(ovwin::AtomicRead(g_checkPoint));
    status.dwWaitHint = WaitHint(state);
    return SetServiceStatus(g_statusHandle, &status) != FALSE;
}

}  // namespace

void SetStatusHandle(SERVICE_STATUS_HANDLE handle) { g_statusHandle = handle; }

DWORD CurrentState() { return static_cast<DWORD>(ovwin::AtomicRead(g_currentState)); }

bool ReportState(DWORD state) {
    LONG before = InterlockedExchange(&g_currentState, static_cast<LONG>(state));
    if (static_cast<DWORD>(before) != state || !IsPending(state))
        InterlockedExchange(&g_checkPoint, IsPending(state) ? 1 : 0);
    return Send();
}

void ReportProgress() {
    InterlockedIncrement(&g_checkPoint);
    Send();
}

void SetServiceExit(DWORD win32Code, DWORD specificCode) {
    InterlockedExchange(&g_win32Exit, static_cast<LONG>(win32Code));
    InterlockedExchange(&g_specificExit, static_cast<LONG>(specificCode));
}
