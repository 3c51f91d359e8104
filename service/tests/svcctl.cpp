// svcctl NAME start|stop|pause|continue|interrogate|query|status|stop-wait: starts the service or
// sends one control (or only queries) and prints "state N" with the state the service manager then
// reports, or "error N" on failure; it always prints, so no output means it never ran. status
// adds the exit codes, checkpoint and wait hint; stop-wait sends a stop, polls until STOPPED and
// prints the milliseconds it took before the status.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kStopWaitLimitMs = 60000;

constexpr DWORD kStart = ~0ul;

struct Control {
    const char* word;
    DWORD code;  // 0: query only
};

const Control kControls[] = {{"start", kStart},
                             {"stop", SERVICE_CONTROL_STOP},
                             {"pause", SERVICE_CONTROL_PAUSE},
                             {"continue", SERVICE_CONTROL_CONTINUE},
                             {"interrogate", SERVICE_CONTROL_INTERROGATE},
                             {"query", 0},
                             {"status", 0},
                             {"stop-wait", SERVICE_CONTROL_STOP}};

int Fail(const char* what) {
    std::printf("error %lu %s\n", GetLastError(), what);
    return 1;
}

void PrintStatus(const SERVICE_STATUS& s) {
    std::printf("state %lu exit %lu specific %lu checkpoint %lu hint %lu\n", s.dwCurrentState, s.dwWin32ExitCode,
                s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint);
}

int Run(SC_HANDLE service, const Control& control, const char* word) {
    SERVICE_STATUS status = {};
    ULONGLONG start = GetTickCount64();
    if (control.code == kStart) {
        if (!StartServiceA(service, 0, nullptr)) return Fail("StartService");
    } else if (control.code != 0 && !ControlService(service, control.code, &status)) {
        return Fail("ControlService");
    }
    if (!QueryServiceStatus(service, &status)) return Fail("QueryServiceStatus");
    if (std::strcmp(word, "stop-wait") == 0) {
        while (status.dwCurrentState != SERVICE_STOPPED && GetTickCount64() - start < kStopWaitLimitMs) {
            Sleep(5);
            if (!QueryServiceStatus(service, &status)) return Fail("QueryServiceStatus");
        }
        std::printf("after %lu ms ", static_cast<unsigned long>(GetTickCount64() - start));
        PrintStatus(status);
    } else if (std::strcmp(word, "status") == 0) {
        PrintStatus(status);
    } else {
        std::printf("state %lu\n", status.dwCurrentState);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: svcctl NAME start|stop|pause|continue|interrogate|query|status|stop-wait\n");
        return 2;
    }
    const Control* control = nullptr;
    for (const Control& c : kControls)
        if (std::strcmp(c.word, argv[2]) == 0) control = &c;
    if (control == nullptr) return Fail("unknown control");

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return Fail("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, argv[1], SERVICE_ALL_ACCESS);
    int rc = service == nullptr ? Fail("OpenService") : Run(service, *control, argv[2]);
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return rc;
}
