// The worker's thread and the requests that pause, continue and stop it.
#pragma once

#include <windows.h>

enum WorkerRequest : LONG { kRequestRun = 0, kRequestStop = 1, kRequestPause = 2 };

// Short: the SCM already reports the service stopped, and a start that came while the old
// process still held the port would fail. A busy receive loop notices the request at once.
constexpr DWORD kAskedEndMs = 300;

class CWorkerSupervisor {
public:
    using Routine = unsigned(__stdcall*)(void*);
    using AskToEnd = void (*)();

    CWorkerSupervisor();
    ~CWorkerSupervisor();
    CWorkerSupervisor(const CWorkerSupervisor&) = delete;
    CWorkerSupervisor& operator=(const CWorkerSupervisor&) = delete;

    // Starts the worker and acts on requests until a stop, or until the worker ends by itself;
    // the worker has ended when it returns. False when the worker's thread could not be started.
    // At a stop the worker is first asked to end (askToEnd, a held worker let go for it) and
    // given kAskedEndMs; only a worker still running then is ended from outside. A thread cut off
    // inside a socket call can leave its socket bound after the process has ended (seen under
    // Wine, under a flood), and the port could not be taken again.
    bool Supervise(Routine routine, AskToEnd askToEnd = nullptr);

    // Each changes the request when its current value allows it, and wakes the supervision;
    // true when it did.
    bool RequestStop();
    bool RequestPause();
    bool RequestContinue();
    // Waits until the supervision has acted on the last accepted request; false on time-out.
    bool WaitSettled(DWORD ms);

    LONG request() const;

private:
    bool Request(LONG from, LONG to);
    void Acted(LONG upTo);

    volatile LONG m_request = kRequestStop;  // requests before the worker exists are ignored
    HANDLE m_wake;                            // auto-reset: requests in a row fold into one
    volatile LONG m_accepted = 0;             // requests accepted so far
    volatile LONG m_acted = 0;                // of those, the ones the supervision acted on
    HANDLE m_actedEvent;                      // auto-reset: set after each action
};

// The service's supervisor, running SyslogWorker.
CWorkerSupervisor& ServiceSupervisor();
constexpr DWORD kSettleWaitMs = 5000;

void SuperviseWorker();
bool RequestStop();
bool RequestPause();
bool RequestContinue();
// So that PAUSED is reported only once the worker is really held, and RUNNING once it goes on.
void WaitWorkerSettled();
