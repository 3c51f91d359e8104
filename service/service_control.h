// The service's life under the service control manager: its main, its control requests, and the
// supervision of the worker that they drive.
#pragma once

#include <windows.h>

#include "supervision.h"

// The service's supervisor, running SyslogWorker.
CWorkerSupervisor& ServiceSupervisor();

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);

// Runs the service dispatcher; false when it could not connect (started from a console). When it
// returns true the service has ended: the supervision is done and no control handler still runs.
bool RunServiceDispatcher();
