// The worker's thread and the requests that pause, continue and stop it.
#pragma once

#include <windows.h>

enum WorkerRequest : LONG { kRequestRun = 0, kRequestStop = 1, kRequestPause = 2 };

// A stop asks the worker to end and gives it this long; the receive loop ends at once when asked,
// or after its read's time-out when the wake-up was lost.
constexpr DWORD kAskedEndMs = 3000;
// Then what the worker read is forwarded for at most this long.
constexpr DWORD kDrainLimitMs = 20000;
constexpr DWORD kStopProgressMs = 500;  // a stop reports progress at least this often
constexpr DWORD kTickMs = 1000;         // OnTick's period while the worker runs

class CWorkerSupervisor {
public:
    using Routine = unsigned(__stdcall*)(void*);

    explicit CWorkerSupervisor(DWORD drainLimitMs = kDrainLimitMs);
    virtual ~CWorkerSupervisor();
    CWorkerSupervisor(const CWorkerSupervisor&) = delete;
    CWorkerSupervisor& operator=(const CWorkerSupervisor&) = delete;

    // Starts the worker and acts on requests until a stop, or until the worker ends by itself;
    // false when the worker's thread could not be started. At a stop the worker is asked to end
    // (a held one let go for it); only one still running after kAskedEndMs is ended from outside,
    // since a thread cut off inside a socket call can leave its port bound. Then the work it
    // left is given up to the drain limit to finish. Returns once all of that is done.
    bool Supervise(Routine routine);

    // Each changes the request when its current value allows it, and wakes the supervision;
    // true when it did.
    bool RequestStop();
    bool RequestPause();
    bool RequestContinue();
    // Waits until the supervision has acted on the last accepted request; false on time-out.
    bool WaitSettled(DWORD ms);

    LONG request() const;

protected:
    // What the supervision needs of the worker, and what it tells of its progress. All run on
    // the supervising thread.
    virtual void AskToEnd() {}
    virtual bool Listening() { return true; }  // the worker is up: OnStarted follows once
    virtual long Pending() { return 0; }       // work left for a stop to wait for
    virtual void OnStarted() {}
    virtual void OnTick() {}                   // about every kTickMs once started, and once at the end
    virtual void OnStopProgress() {}
    virtual void OnDrainGivenUp(long left) { (void)left; }

private:
    bool Request(LONG from, LONG to);
    void Acted(LONG upTo);
    void EndWorker(HANDLE worker, bool held);
    void Drain();

    const DWORD m_drainLimitMs;
    volatile LONG m_request = kRequestStop;  // requests before the worker exists are ignored
    HANDLE m_wake;                            // auto-reset: requests in a row fold into one
    volatile LONG m_accepted = 0;             // requests accepted so far
    volatile LONG m_acted = 0;                // of those, the ones the supervision acted on
    HANDLE m_actedEvent;                      // auto-reset: set after each action
};

// The service's supervisor, running SyslogWorker.
CWorkerSupervisor& ServiceSupervisor();
// A hold can take several tries on a busy machine: PAUSED is reported only once it is done, with
// progress reported meanwhile, up to this long.
constexpr DWORD kSettleWaitMs = 30000;
constexpr DWORD kSettleProgressMs = 1000;

bool SuperviseWorker();
bool RequestStop();
bool RequestPause();
bool RequestContinue();
// So that PAUSED is reported only once the worker is really held, and RUNNING once it goes on.
void WaitWorkerSettled();
