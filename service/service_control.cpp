#include "service_control.h"

#include "ovwin/handles.h"
#include "log_files.h"
#include "supervision.h"

namespace {

// Time for the dispatcher to send the answer of a handler that has just returned.
constexpr DWORD kHandlerAnswerMs = 50;

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
volatile LONG g_currentState = SERVICE_STOPPED;
volatile LONG g_serviceMainEntered = 0;
// Manual-reset: set when the service main has returned, and while no control handler runs.
HANDLE g_serviceMainDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE g_handlerIdle = CreateEventA(nullptr, TRUE, TRUE, nullptr);

// Each report fills its own copy, so that no report waits on a lock a frozen worker might hold.
bool Report(DWORD state) {
    InterlockedExchange(&g_currentState, static_cast<LONG>(state));
    if (g_statusHandle == nullptr) return false;
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = kControlsAccepted;
    return SetServiceStatus(g_statusHandle, &status) != FALSE;
}

DWORD CurrentState() { return static_cast<DWORD>(InterlockedCompareExchange(&g_currentState, 0, 0)); }

void RunService() {
    g_statusHandle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    if (g_statusHandle == nullptr) return;
    if (!Report(SERVICE_START_PENDING)) {
        Report(SERVICE_STOPPED);
        return;
    }
    ComApartment com;
    if (!com.ok()) {
        WriteErrorLog(kLogComFailed);
        Report(SERVICE_STOPPED);
        return;
    }
    if (!Report(SERVICE_RUNNING)) {
        Report(SERVICE_STOPPED);
        return;
    }
    SuperviseWorker();
}

}  // namespace

void ReportState(DWORD state) { Report(state); }

void WINAPI ServiceMain(DWORD, LPSTR*) {
    InterlockedExchange(&g_serviceMainEntered, 1);
    RunService();
    SetEvent(g_serviceMainDone);
}

void WINAPI ServiceCtrlHandler(DWORD control) {
    ResetEvent(g_handlerIdle);
    switch (control) {
    case SERVICE_CONTROL_STOP:
        Report(SERVICE_STOP_PENDING);
        RequestStop();
        Report(SERVICE_STOPPED);
        break;
    case SERVICE_CONTROL_PAUSE:
        Report(SERVICE_PAUSE_PENDING);
        if (RequestPause()) WaitWorkerSettled();
        Report(SERVICE_PAUSED);
        break;
    case SERVICE_CONTROL_CONTINUE:
        Report(SERVICE_CONTINUE_PENDING);
        if (RequestContinue()) WaitWorkerSettled();
        Report(SERVICE_RUNNING);
        break;
    default:
        Report(CurrentState());
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
    // code and static destructors behind those locks and can hang for ever with the port still
    // bound; everything worth keeping is on disk by now.
    TerminateProcess(GetCurrentProcess(), 0);
    return true;
}
