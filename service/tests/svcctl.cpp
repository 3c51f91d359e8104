// svcctl NAME start|stop|pause|continue|interrogate|query|status|stop-wait: starts the service or
// sends one control (or only queries) and prints "state N" with the state the service manager then
// reports, or "error N" on failure; it always prints, so no output means it never ran. status
// adds the exit codes, checkpoint and wait hint; stop-wait sends a stop, polls until STOPPED and
// prints the milliseconds it took before the status.
// svcctl NAME watch start|stop|pause|continue: first "declared" with the service's wait hints and
// the silences they cover, then sends the control from a thread of its own (the manager answers a
// pause only once the handler returns) and prints every status the manager reports meanwhile as
// "at MS state N checkpoint N hint N", until the control has returned and the state is not
// pending; last "done" with the time, the queries made, the control's error and the last state.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "service_timing.h"

namespace {

constexpr DWORD kStopWaitLimitMs = 60000;
constexpr DWORD kWatchLimitMs = 60000;

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
    std::printf("state %lu exit %lu specific %lu checkpoint %lu hint %lu\n", s.dwCurrentState,
                s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint);
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

struct Watched {
    SC_HANDLE service;
    DWORD code;
    volatile LONG done;
    DWORD error;  // the control's own failure, or 0
};

unsigned long __stdcall SendControl(void* arg) {
    auto* w = static_cast<Watched*>(arg);
    SERVICE_STATUS status = {};
    BOOL ok = w->code == kStart ? StartServiceA(w->service, 0, nullptr)
                                : ControlService(w->service, w->code, &status);
    w->error = ok ? 0 : GetLastError();
    InterlockedExchange(&w->done, 1);
    return 0;
}

bool IsPending(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
           state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
}

int Watch(SC_HANDLE service, const Control& control) {
    std::printf("declared start-hint %lu stop-hint %lu stop-silence %lu pause-hint %lu pause-silence %lu\n",
                kStartWaitHintMs, kStopWaitHintMs, kStopSilenceMs, kPauseWaitHintMs, kPauseSilenceMs);
    Watched w = {service, control.code, 0, 0};
    ULONGLONG start = GetTickCount64();
    HANDLE sender = CreateThread(nullptr, 0, SendControl, &w, 0, nullptr);
    if (sender == nullptr) return Fail("CreateThread");
    SERVICE_STATUS_PROCESS last = {};
    bool any = false;
    unsigned long queries = 0;
    for (;;) {
        bool controlDone = InterlockedCompareExchange(&w.done, 0, 0) != 0;
        SERVICE_STATUS_PROCESS now = {};
        DWORD size = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&now), sizeof now,
                                  &size)) {
            WaitForSingleObject(sender, kWatchLimitMs);
            CloseHandle(sender);
            return Fail("QueryServiceStatusEx");
        }
        if (!any || now.dwCurrentState != last.dwCurrentState || now.dwCheckPoint != last.dwCheckPoint ||
            now.dwWaitHint != last.dwWaitHint)
            std::printf("at %lu state %lu checkpoint %lu hint %lu\n",
                        static_cast<unsigned long>(GetTickCount64() - start), now.dwCurrentState,
                        now.dwCheckPoint, now.dwWaitHint);
        any = true;
        last = now;
        ++queries;
        // The state read after the control returned decides: one read before may be stale.
        if ((controlDone && !IsPending(now.dwCurrentState)) || GetTickCount64() - start >= kWatchLimitMs)
            break;
        Sleep(1);  // the watch samples as often as it can: each report is to be seen
    }
    WaitForSingleObject(sender, kWatchLimitMs);
    CloseHandle(sender);
    std::printf("done after %lu queries %lu error %lu state %lu\n",
                static_cast<unsigned long>(GetTickCount64() - start), queries, w.error, last.dwCurrentState);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool watch = argc == 4 && std::strcmp(argv[2], "watch") == 0;
    if (argc != 3 && !watch) {
        std::printf(
            "usage: svcctl NAME start|stop|pause|continue|interrogate|query|status|stop-wait\n"
            "       svcctl NAME watch start|stop|pause|continue\n");
        return 2;
    }
    const char* word = argv[argc - 1];
    const Control* control = nullptr;
    for (const Control& c : kControls)
        if (std::strcmp(c.word, word) == 0) control = &c;
    bool watchable = control != nullptr && std::strcmp(word, "stop-wait") != 0 &&
                     (control->code == kStart || control->code == SERVICE_CONTROL_STOP ||
                      control->code == SERVICE_CONTROL_PAUSE || control->code == SERVICE_CONTROL_CONTINUE);
    if (control == nullptr || (watch && !watchable)) return Fail("unknown control");

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return Fail("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, argv[1], SERVICE_ALL_ACCESS);
    int rc = service == nullptr ? Fail("OpenService")
             : watch            ? Watch(service, *control)
                                : Run(service, *control, word);
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return rc;
}
