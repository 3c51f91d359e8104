#include "scm_client.h"

#include "ovwin/handles.h"

namespace sentrydesk {
namespace {

bool Query(SC_HANDLE service, SERVICE_STATUS* status) { return QueryServiceStatus(service, status) != FALSE; }

ovwin::UniqueScHandle OpenManager() {
    return ovwin::UniqueScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

// The manager and the service opened for control, and the service's status.
struct Controlled {
    ovwin::UniqueScHandle manager;
    ovwin::UniqueScHandle service;
    SERVICE_STATUS status = {};
};

bool OpenForControl(const char* name, Controlled* c) {
    c->manager = OpenManager();
    if (!c->manager) return false;
    c->service.reset(OpenServiceA(c->manager.get(), name, SERVICE_ALL_ACCESS));
    return c->service && Query(c->service.get(), &c->status);
}

}  // namespace

DWORD QueryServiceStateOf(const char* name) {
    ovwin::UniqueScHandle manager = OpenManager();
    if (!manager) return kServiceStateUnknown;
    ovwin::UniqueScHandle service(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
    if (!service) return kServiceStateUnknown;
    return ovwin::QueryState(service.get());
}

ServiceOutcome StartServiceOutcome(const char* name, ovwin::ServicePolling timing) {
    Controlled c;
    if (!OpenForControl(name, &c)) return ServiceOutcome::NoAccess;
    SC_HANDLE service = c.service.get();
    SERVICE_STATUS& status = c.status;
    if (status.dwCurrentState == SERVICE_RUNNING) return ServiceOutcome::Done;
    if (!StartServiceA(service, 0, nullptr)) return ServiceOutcome::Refused;
    DWORD state = ovwin::WaitWhilePending(service, SERVICE_START_PENDING, status.dwCurrentState, timing);
    if (state == SERVICE_RUNNING || state == SERVICE_START_PENDING) return ServiceOutcome::Done;
    return ServiceOutcome::StoppedAgain;
}

ServiceOutcome StopServiceOutcome(const char* name, ovwin::ServicePolling timing) {
    Controlled c;
    if (!OpenForControl(name, &c)) return ServiceOutcome::NoAccess;
    SC_HANDLE service = c.service.get();
    SERVICE_STATUS& status = c.status;
    if (status.dwCurrentState != SERVICE_RUNNING) return ServiceOutcome::Done;
    ovwin::StopOutcome stop = ovwin::StopAndWait(service, timing);
    // A refusal counts as done when the service stopped between the query and the request.
    if (!stop.underWay) return stop.state == SERVICE_STOPPED ? ServiceOutcome::Done : ServiceOutcome::Refused;
    if (stop.state == SERVICE_STOPPED || stop.state == SERVICE_STOP_PENDING) return ServiceOutcome::Done;
    return ServiceOutcome::NotStopped;
}

}  // namespace sentrydesk
