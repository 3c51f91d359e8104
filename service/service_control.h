// The service's life under the service control manager: its states and control requests.
#pragma once

#include <windows.h>

constexpr const char* kServiceName = "OVSyslog";
constexpr const char* kServiceDisplayName = "Orvane Syslog Service";
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;

// Reports the state through the program's status record; nothing without a status handle.
void ReportState(DWORD state);

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);

// Runs the service dispatcher; false when it could not connect (started from a console). When it
// returns true the service has ended: the supervision is done and no control handler still runs.
bool RunServiceDispatcher();
