// What the package adds around the service tables, for the service manager as Wine 8's msi drives it.
#include <string>
#include <vector>

#include "actions.h"
#include "ovwin/handles.h"
#include "ovwin/service_wait.h"

using namespace ovsetup;

namespace {

ovwin::UniqueScHandle OpenService(DWORD access) {
    ovwin::UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return ovwin::UniqueScHandle();
    return ovwin::UniqueScHandle(OpenServiceA(manager.get(), kServiceName, access));
}

}  // namespace

// After InstallServices: the image path quoted, as OVSyslogSvc.exe -i writes it. Wine's msi
// writes it bare, and a bare path with spaces lets the manager try "C:\Program" first.
extern "C" UINT __stdcall QuoteServicePath(MSIHANDLE install) {
    ovwin::UniqueScHandle service = OpenService(SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG);
    if (!service) return Fail(install, "OVSyslog: the service was not installed.");
    DWORD size = 0;
    QueryServiceConfigA(service.get(), nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(service.get(), config, size, &size))
        return Fail(install, "OVSyslog: cannot read the service's configuration.");
    std::string path = config->lpBinaryPathName ? config->lpBinaryPathName : "";
    if (path.empty() || path[0] == '"') return ERROR_SUCCESS;
    std::string quoted = "\"" + path + "\"";
    if (!ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              quoted.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return Fail(install, "OVSyslog: cannot quote the service's path (error " +
                                 std::to_string(GetLastError()) + ").");
    return ERROR_SUCCESS;
}

// Before StopServices: Wine's msi asks the service to stop but does not wait, and the process
// still maps the program for a moment after it reports STOPPED, so the files would still be in
// use when they are removed or replaced. Stop it here and wait for the process to end; a stop
// may drain for a while first.
extern "C" UINT __stdcall StopServiceAndWait(MSIHANDLE install) {
    ovwin::UniqueScHandle service = OpenService(SERVICE_QUERY_STATUS | SERVICE_STOP);
    if (!service) return ERROR_SUCCESS;
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &size) ||
        status.dwCurrentState == SERVICE_STOPPED)
        return ERROR_SUCCESS;
    ovwin::UniqueHandleT process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
    ULONGLONG start = GetTickCount64();
    DWORD state = ovwin::StopAndWait(service.get(), kStopPolling).state;
    ULONGLONG spent = GetTickCount64() - start;
    DWORD left = spent < kStopWaitMs ? static_cast<DWORD>(kStopWaitMs - spent) : 0;
    if (state == SERVICE_STOPPED && (!process || WaitForSingleObject(process.get(), left) == WAIT_OBJECT_0))
        return ERROR_SUCCESS;
    return Fail(install, "OVSyslog did not stop within " + std::to_string(kStopWaitMs / 1000) + " s (state " +
                             std::to_string(state) + ").");
}

// At uninstall, not at an upgrade: the service's error log beside it goes with the product.
extern "C" UINT __stdcall RemoveErrorLog(MSIHANDLE install) {
    std::string path = ActionData(install);
    if (!path.empty()) DeleteFileA(path.c_str());
    return ERROR_SUCCESS;
}
