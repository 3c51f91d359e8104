// The service's status record: the state the service control manager is told, and why the
// service ended.
#pragma once

#include <windows.h>

#include <functional>

#include "ovwin/locks.h"
#include "ovwin/registry_names.h"
#include "service_timing.h"

constexpr const char* kServiceName = ovwin::kSyslogService;
constexpr const char* kServiceDisplayName = "Orvane Syslog Service";
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;

// The wait hint the service reports with a state: one of service_timing.h's, or 0 when the state
// is not pending.
DWORD WaitHint(DWORD state);

// The record and the handle it is reported through, owned by the service. The service main's
// thread and the control handler's both report, so a report fills and sends the record under a
// lock: no report overtakes another's checkpoint.
class CServiceStatus {
public:
    // How a report reaches the manager: SetServiceStatus, unless a test records it instead.
    using Sender = std::function<bool(SERVICE_STATUS_HANDLE, const SERVICE_STATUS&)>;

    explicit CServiceStatus(Sender send = {});
    CServiceStatus(const CServiceStatus&) = delete;
    CServiceStatus& operator=(const CServiceStatus&) = delete;

    // Where reports go; without a handle (console mode) they have no effect.
    void Attach(SERVICE_STATUS_HANDLE handle);
    DWORD state();
    // Reports the state; false when the report failed or there is no handle. A pending state
    // keeps its checkpoint when reported again.
    bool Report(DWORD state);
    // The same pending state again with the next checkpoint: the operation goes on.
    void Progress();
    // Why the service ends, carried by its STOPPED report: ERROR_SERVICE_SPECIFIC_ERROR with a
    // status code, or another Win32 code. A clean stop carries 0 and 0.
    void SetExit(DWORD win32Code, DWORD specificCode = 0);

private:
    bool Send();

    const Sender m_send;
    ovwin::CriticalSection m_lock;
    SERVICE_STATUS_HANDLE m_handle = nullptr;
    SERVICE_STATUS m_status;
    DWORD m_win32Exit = NO_ERROR;
    DWORD m_specificExit = 0;
};

// The worker's way to say why the service ends: the one service's SetExit.
void SetServiceExit(DWORD win32Code, DWORD specificCode = 0);
