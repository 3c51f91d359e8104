// svcctl NAME stop|pause|continue|interrogate|query: sends one control (or only queries) and
// prints "state N" with the state the service manager then reports, or "error N" on failure.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

struct Control {
    const char* word;
    DWORD code;  // 0: query only
};

const Control kControls[] = {{"stop", SERVICE_CONTROL_STOP},
                             {"pause", SERVICE_CONTROL_PAUSE},
                             {"continue", SERVICE_CONTROL_CONTINUE},
                             {"interrogate", SERVICE_CONTROL_INTERROGATE},
                             {"query", 0}};

int Fail(const char* what) {
    std::printf("error %lu %s\n", GetLastError(), what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: svcctl NAME stop|pause|continue|interrogate|query\n");
        return 2;
    }
    const Control* control = nullptr;
    for (const Control& c : kControls)
        if (std::strcmp(c.word, argv[2]) == 0) control = &c;
    if (control == nullptr) return Fail("unknown control");

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return Fail("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, argv[1], SERVICE_ALL_ACCESS);
    int rc = 0;
    SERVICE_STATUS status = {};
    if (service == nullptr) {
        rc = Fail("OpenService");
    } else if (control->code != 0 && !ControlService(service, control->code, &status)) {
        rc = Fail("ControlService");
    } else if (!QueryServiceStatus(service, &status)) {
        rc = Fail("QueryServiceStatus");
    } else {
        std::printf("state %lu\n", status.dwCurrentState);
    }
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return rc;
}
