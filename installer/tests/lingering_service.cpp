// A service whose process outlives its STOPPED report, as the real one does while it ends: the
// package's stop must wait for the process, not only for the state.
#include <windows.h>

namespace {

constexpr DWORD kLingerMs = 3000;

SERVICE_STATUS_HANDLE g_handle = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_handle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
    if (control != SERVICE_CONTROL_STOP) return ERROR_CALL_NOT_IMPLEMENTED;
    Report(SERVICE_STOP_PENDING);
    SetEvent(g_stop);
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
    g_handle = RegisterServiceCtrlHandlerExA(argc > 0 ? argv[0] : "", Handler, nullptr);
    if (g_handle == nullptr) return;
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, 60000);
    Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char name[] = "";  // ignored for a service in a process of its own
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) return 1;
    Sleep(kLingerMs);
    return 0;
}
