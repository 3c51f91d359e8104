// Stand-in for the suite's trap service "OVTrap": a real Windows service in its own process that
// holds a UDP socket on its AuthPort while it runs, so that a taken port makes it stop at once.
//   OVTrap.exe -i   install the service (and its key with AuthPort 162 when missing)
//   OVTrap.exe -u   remove the service
//   OVTrap.exe      run as the service
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ovwin/handles.h"
#include "ovwin/registry_names.h"

using namespace ovwin;

namespace {

constexpr const char* kServiceName = kTrapService;
constexpr const char* kDisplayName = "Orvane Trap Service";
constexpr const char* kKey = kTrapKey;
constexpr const char* kDefaultPort = kDefaultTrapPortText;
constexpr DWORD kExitPortTaken = 10048;  // WSAEADDRINUSE, as the service's exit code

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
HANDLE g_stopEvent = nullptr;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_RUNNING || state == SERVICE_PAUSED
                                      ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE
                                      : 0;
    g_status.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    g_status.dwServiceSpecificExitCode = exitCode;
    SetServiceStatus(g_statusHandle, &g_status);
}

int ConfiguredPort() {
    char text[64] = {};
    DWORD size = sizeof text - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kKey, kPortValue, RRF_RT_REG_SZ, nullptr, text, &size) !=
            ERROR_SUCCESS ||
        text[0] == '\0')
        return std::atoi(kDefaultPort);
    return std::atoi(text);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
        Report(SERVICE_PAUSED);
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        Report(SERVICE_RUNNING);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    g_statusHandle = RegisterServiceCtrlHandlerExA(kServiceName, ControlHandler, nullptr);
    if (!g_statusHandle) return;
    Report(SERVICE_START_PENDING);
    UniqueHandleT stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    g_stopEvent = stopEvent.get();

    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    UniqueSocket s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(ConfiguredPort()));
    BOOL exclusive = TRUE;
    setsockopt(s.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    if (!s || bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        s.reset();
        WSACleanup();
        Report(SERVICE_STOPPED, kExitPortTaken);
        return;
    }
    Report(SERVICE_RUNNING);
    WaitForSingleObject(stopEvent.get(), INFINITE);
    s.reset();
    WSACleanup();
    Report(SERVICE_STOPPED);
}

int Install() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        std::printf("OVTrap: cannot open the service manager (error %lu).\n", GetLastError());
        return 1;
    }
    UniqueScHandle service(CreateServiceA(
        manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr, nullptr, nullptr));
    DWORD error = service ? NO_ERROR : GetLastError();
    if (error != NO_ERROR && error != ERROR_SERVICE_EXISTS) {
        std::printf("OVTrap: install failed (error %lu).\n", error);
        return 1;
    }
    UniqueHkey key;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                        &disposition) == ERROR_SUCCESS &&
        RegQueryValueExA(key.get(), kPortValue, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        RegSetValueExA(key.get(), kPortValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kDefaultPort),
                       static_cast<DWORD>(std::strlen(kDefaultPort) + 1));
    std::printf("OVTrap installed.\n");
    return 0;
}

int Remove() {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return 1;
    UniqueScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    bool removed = false;
    if (service) {
        SERVICE_STATUS status;
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        removed = DeleteService(service.get()) != FALSE;
    }
    std::printf(removed ? "OVTrap removed.\n" : "OVTrap is not installed.\n");
    return removed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::string option = argv[1];
        if (option == "-i" || option == "/i") return Install();
        if (option == "-u" || option == "/u") return Remove();
        std::printf("usage: OVTrap [-i | -u]\n");
        return 2;
    }
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
