#include "service_control.h"

#include "ovwin/handles.h"
#include "log_files.h"
#include "supervision.h"

namespace {

// Time for the dispatcher to send the answer of a handler that has just returned.
constexpr DWORD kHandlerAnswerMs = 50;

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
volatile LONG g_currentState = SERVICE_STOPPED;
volatile LONG g_checkPoint = 0;
volatile LONG g_win32Exit = NO_ERROR;
volatile LONG g_specificExit = 0;
volatile LONG g_serviceMainEntered = 0;
// Manual-reset: set when the service main has returned, and while no control handler runs.
HANDLE g_serviceMainDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE g_handlerIdle = CreateEventA(nullptr, TRUE, TRUE, nullptr);

LONG Load(volatile LONG& v) { return InterlockedCompareExchange(&v, 0, 0); }

DWORD CurrentState() { return static_cast<DWORD>(Load(g_currentState)); }

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

// Each report fills its own copy, so that no report waits on a lock a frozen worker might hold.
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
        status.dwWin32ExitCode = static_cast<DWORD>(Load(g_win32Exit));
        status.dwServiceSpecificExitCode = static_cast<DWORD>(Load(g_specificExit));
    }
    status.dwCheckPoint = static_cast<DWORD>(Load(g_checkPoint));
    status.dwWaitHint = WaitHint(state);
    return SetServiceStatus(g_statusHandle, &status) != FALSE;
}

bool Report(DWORD state) {
    LONG before = InterlockedExchange(&g_currentState, static_cast<LONG>(state));
    if (static_cast<DWORD>(before) != state || !IsPending(state))
        InterlockedExchange(&g_checkPoint, IsPending(state) ? 1 : 0);
    return Send();
}

void RunService() {
    g_statusHandle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    if (g_statusHandle == nullptr) return;
    SetServiceExit(NO_ERROR);
    // RUNNING comes from the supervision, once the worker's socket is bound.
    if (!Report(SERVICE_START_PENDING)) {
        Report(SERVICE_STOPPED);
        return;
    }
    {
        ComApartment com;
        if (!com.ok()) {
            WriteErrorLog(kLogComFailed);
            SetServiceExit(ERROR_DLL_INIT_FAILED);
        } else if (!SuperviseWorker()) {
            SetServiceExit(ERROR_SERVICE_NO_THREAD);
        }
    }
    Report(SERVICE_STOPPED);
}

}  // namespace

void ReportState(DWORD state) { Report(state); }

void ReportProgress() {
    InterlockedIncrement(&g_checkPoint);
    Send();
}

void SetServiceExit(DWORD win32Code, DWORD specificCode) {
    InterlockedExchange(&g_win32Exit, static_cast<LONG>(win32Code));
    InterlockedExchange(&g_specificExit, static_cast<LONG>(specificCode));
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    InterlockedExchange(&g_serviceMainEntered, 1);
    RunService();
    SetEvent(g_serviceMainDone);
}

// A stop is only begun here: the supervision reports its progress and, once the port is given
// back and what was read is forwarded, the service main reports STOPPED.
void WINAPI ServiceCtrlHandler(DWORD control) {
    ResetEvent(g_handlerIdle);
    DWORD state = CurrentState();
    bool settled = state == SERVICE_RUNNING || state == SERVICE_PAUSED;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (ServiceSupervisor().request() != kRequestStop) {
            Report(SERVICE_STOP_PENDING);
            RequestStop();
        } else {
            Report(state);
        }
        break;
    case SERVICE_CONTROL_PAUSE:
        if (!settled) {
            Report(state);
            break;
        }
        Report(SERVICE_PAUSE_PENDING);
        if (RequestPause()) WaitWorkerSettled();
        Report(SERVICE_PAUSED);
        break;
    case SERVICE_CONTROL_CONTINUE:
        if (!settled) {
            Report(state);
            break;
        }
        Report(SERVICE_CONTINUE_PENDING);
        if (RequestContinue()) WaitWorkerSettled();
        Report(SERVICE_RUNNING);
        break;
    default:
        Send();
        break;
    }
    SetEvent(g_handlerIdle);
}

bool RunServiceDispatcher() {
    char name[] = "OVSyslog";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) return false;
    if (InterlockedCompareExchange(&g_serviceMainEntered, 0, 0) != 0)
        WaitForSingleObject(g_serviceMainDone, INFINITE);
    WaitForSingleObject(g_handlerIdle, INFINITE);
    Sleep(kHandlerAnswerMs);
    // Datagram threads may still be inside the heap or the loader. The normal exit runs DLL detach
    // code and static destructors behind those locks and can hang for ever; everything worth
    // keeping is on disk by now and the socket is closed.
    TerminateProcess(GetCurrentProcess(), 0);
    return true;
}
