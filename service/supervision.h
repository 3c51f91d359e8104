// The worker's thread and the requests that pause, continue and stop it.
#pragma once

#include <windows.h>

#include "service_timing.h"

enum WorkerRequest : LONG { kRequestRun = 0, kRequestStop = 1, kRequestPause = 2 };

class CWorkerSupervisor {
public:
    using Routine = unsigned(__stdcall*)(void*);

    explicit CWorkerSupervisor(DWORD drainLimitMs = kDrainLimitMs);
    virtual ~CWorkerSupervisor();
    CWorkerSupervisor(const CWorkerSupervisor&) = delete;
    CWorkerSupervisor& operator=(const CWorkerSupervisor&) = delete;

    // Starts the worker and acts on requests until a stop, or until the worker ends by itself;
    // false when the worker's thread could not be started. A pause asks the worker to rest and
    // waits until it does; a stop asks it to end (a resting one too), and only one still running
    // after kAskedEndMs is ended from outside. Then the work it left is given up to the drain
    // limit to finish. Every wait has a bound, so Supervise returns within the sum of them.
    bool Supervise(Routine routine);

    // Each changes the request when its current value allows it, and wakes the supervision;
    // true when it did.
    bool RequestStop();
    bool RequestPause();
    bool RequestContinue();
    // Waits until the supervision has acted on the last accepted request; false on time-out.
    bool WaitSettled(DWORD ms);

    LONG request() const;
    // The worker rests: a pause was taken and no continue has come since.
    bool paused() const;

protected:
    // What the supervision needs of the worker, and what it tells of its progress. All run on
    // the supervising thread.
    virtual void AskToEnd() {}
    virtual void AskToPause() {}
    virtual void AskToContinue() {}
    virtual bool Resting() { return true; }    // the worker has taken the pause
    virtual bool Listening() { return true; }  // the worker is up: OnStarted follows once
    virtual long Pending() { return 0; }       // work left for a stop to wait for
    virtual void OnStarted() {}
    virtual void OnTick() {}  // about every kTickMs once started, and once at the end
    virtual void OnStopProgress() {}
    virtual void OnStopping() {}  // the stop begins, before the worker is asked to end
    virtual void OnDrainGivenUp(long left) { (void)left; }
    // Milliseconds since some start: tests move it near the points where a 32-bit count wraps.
    virtual ULONGLONG Now() { return GetTickCount64(); }

private:
    bool Request(LONG from, LONG to);
    void Acted(LONG upTo);
    bool TakePause();
    void EndWorker(HANDLE worker);
    void Drain();

    const DWORD m_drainLimitMs;
    volatile LONG m_request = kRequestStop;  // requests before the worker exists are ignored
    volatile LONG m_paused = 0;
    HANDLE m_wake;                 // auto-reset: requests in a row fold into one
    volatile LONG m_accepted = 0;  // requests accepted so far
    volatile LONG m_acted = 0;     // of those, the ones the supervision acted on
    HANDLE m_actedEvent;           // auto-reset: set after each action
};
