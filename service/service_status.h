// The service's one status record: the state the service control manager is told, and why the
// service ended.
#pragma once

#include <windows.h>

#include "ovwin/registry_names.h"
#include "service_timing.h"

constexpr const char* kServiceName = ovwin::kSyslogService;
constexpr const char* kServiceDisplayName = "Orvane Syslog Service";
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;

// Where reports go; without a handle (console mode) they have no effect.
void SetStatusHandle(SERVICE_STATUS_HANDLE handle);
DWORD CurrentState();
// Reports the state; false when the report failed or there is no handle. A pending state keeps
// its checkpoint when reported again.
bool ReportState(DWORD state);
// The same pending state again with the next checkpoint: the operation goes on.
void ReportProgress();
// Why the service ends, carried by its STOPPED report: ERROR_SERVICE_SPECIFIC_ERROR with a
// status code, or another Win32 code. A clean stop carries 0 and 0.
void SetServiceExit(DWORD win32Code, DWORD specificCode = 0);
