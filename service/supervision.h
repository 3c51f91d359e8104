// The worker's thread and the requests that pause, continue and stop it.
#pragma once

#include <windows.h>

enum WorkerRequest : LONG { kRequestRun = 0, kRequestStop = 1, kRequestPause = 2 };

class CWorkerSupervisor {
public:
    using Routine = unsigned(__stdcall*)(void*);

    CWorkerSupervisor();
    ~CWorkerSupervisor();
    CWorkerSupervisor(const CWorkerSupervisor&) = delete;
    CWorkerSupervisor& operator=(const CWorkerSupervisor&) = delete;

    // Starts the worker and acts on requests until a stop, or until the worker ends by itself;
    // the worker has ended when it returns. False when the worker's thread could not be started.
    bool Supervise(Routine routine);

    // Each changes the request when its current value allows it, and wakes the supervision.
    void RequestStop();
    void RequestPause();
    void RequestContinue();

    LONG request() const;

private:
    void Request(LONG from, LONG to);

    volatile LONG m_request = kRequestStop;  // requests before the worker exists are ignored
    HANDLE m_wake;                            // auto-reset: requests in a row fold into one
};

// The service's supervisor, running SyslogWorker.
CWorkerSupervisor& ServiceSupervisor();
void SuperviseWorker();
void RequestStop();
void RequestPause();
void RequestContinue();
