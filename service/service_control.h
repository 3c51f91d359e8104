// The service's life under the service control manager: its states and control requests.
#pragma once

#include <windows.h>

constexpr const char* kServiceName = "OVSyslog";
constexpr const char* kServiceDisplayName = "Orvane Syslog Service";
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;

// Wait hints: the start lasts until the port is bound; a stop reports a new checkpoint at least
// this often while it forwards what was read.
constexpr DWORD kStartWaitHintMs = 10000;
constexpr DWORD kStopWaitHintMs = 3000;
constexpr DWORD kPauseWaitHintMs = 5000;

// Reports the state through the program's status record; nothing without a status handle. A
// pending state keeps its checkpoint when reported again.
void ReportState(DWORD state);
// The same pending state again with the next checkpoint: the operation goes on.
void ReportProgress();
// Why the service ends, carried by its STOPPED report: ERROR_SERVICE_SPECIFIC_ERROR with a
// status code, or another Win32 code. A clean stop carries 0 and 0.
void SetServiceExit(DWORD win32Code, DWORD specificCode = 0);

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);

// Runs the service dispatcher; false when it could not connect (started from a console). When it
// returns true the service has ended: the supervision is done and no control handler still runs.
bool RunServiceDispatcher();
