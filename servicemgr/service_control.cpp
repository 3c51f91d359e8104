#include "service_control.h"

#include "handles.h"
#include "service_mgr_dlg.h"

namespace sentrydesk {
namespace {

bool Query(SC_HANDLE service, SERVICE_STATUS* status) {
    return QueryServiceStatus(service, status) != FALSE;
}

// One wait after the request, then further polls while the state stays pending. A failed query
// keeps the last status.
DWORD WaitWhile(SC_HANDLE service, DWORD pending, DWORD last, ServiceTiming timing) {
    SERVICE_STATUS status = {};
    status.dwCurrentState = last;
    Sleep(timing.waitMs);
    Query(service, &status);
    for (int poll = 0; status.dwCurrentState == pending && poll < timing.polls; ++poll) {
        Sleep(timing.waitMs);
        Query(service, &status);
    }
    return status.dwCurrentState;
}

}  // namespace

DWORD QueryServiceStateOf(const char* name) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return kServiceStateUnknown;
    UniqueScHandle service(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
    if (!service) return kServiceStateUnknown;
    SERVICE_STATUS status = {};
    if (!Query(service.get(), &status)) return kServiceStateUnknown;
    return status.dwCurrentState;
}

ServiceOutcome StartServiceOutcome(const char* name, ServiceTiming timing) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return ServiceOutcome::NoAccess;
    UniqueScHandle service(OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service) return ServiceOutcome::NoAccess;
    SERVICE_STATUS status = {};
    if (!Query(service.get(), &status)) return ServiceOutcome::NoAccess;
    if (status.dwCurrentState == SERVICE_RUNNING) return ServiceOutcome::Done;
    if (!StartServiceA(service.get(), 0, nullptr)) return ServiceOutcome::Refused;
    DWORD state = WaitWhile(service.get(), SERVICE_START_PENDING, status.dwCurrentState, timing);
    if (state == SERVICE_RUNNING || state == SERVICE_START_PENDING) return ServiceOutcome::Done;
    return ServiceOutcome::StoppedAgain;
}

ServiceOutcome StopServiceOutcome(const char* name, ServiceTiming timing) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return ServiceOutcome::NoAccess;
    UniqueScHandle service(OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service) return ServiceOutcome::NoAccess;
    SERVICE_STATUS status = {};
    if (!Query(service.get(), &status)) return ServiceOutcome::NoAccess;
    if (status.dwCurrentState != SERVICE_RUNNING) return ServiceOutcome::Done;
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        // The service may have stopped between the query and the request.
        if (Query(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED)
            return ServiceOutcome::Done;
        return ServiceOutcome::Refused;
    }
    DWORD state = WaitWhile(service.get(), SERVICE_STOP_PENDING, status.dwCurrentState, timing);
    if (state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING) return ServiceOutcome::Done;
    return ServiceOutcome::NotStopped;
}

DWORD CServiceMgrDlg::QueryServiceState(const char* name) { return QueryServiceStateOf(name); }

bool CServiceMgrDlg::StartServiceAndWait(const char* name) {
    return StartServiceOutcome(name) == ServiceOutcome::Done;
}

bool CServiceMgrDlg::StopServiceAndWait(const char* name) {
    return StopServiceOutcome(name) == ServiceOutcome::Done;
}

}  // namespace sentrydesk
