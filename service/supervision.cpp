#include "supervision.h"

#include <process.h>

#include "ovwin/handles.h"
#include "ovwin/locks.h"
#include "log_files.h"

using namespace ovwin;

CWorkerSupervisor::CWorkerSupervisor(DWORD drainLimitMs)
    : m_drainLimitMs(drainLimitMs),
      m_wake(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_actedEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

CWorkerSupervisor::~CWorkerSupervisor() {
    if (m_wake != nullptr) CloseHandle(m_wake);
    if (m_actedEvent != nullptr) CloseHandle(m_actedEvent);
}

bool CWorkerSupervisor::WaitSettled(DWORD ms) {
    LONG target = AtomicRead(m_accepted);
    ULONGLONG start = GetTickCount64();
    while (AtomicRead(m_acted) < target) {
        ULONGLONG spent = GetTickCount64() - start;
        if (spent >= ms) return false;
        WaitForSingleObject(m_actedEvent, static_cast<DWORD>(ms - spent));
    }
    return true;
}

bool CWorkerSupervisor::paused() const { return AtomicRead(const_cast<volatile LONG&>(m_paused)) != 0; }

void CWorkerSupervisor::Acted(LONG upTo) {
    InterlockedExchange(&m_acted, upTo);
    SetEvent(m_actedEvent);
}

LONG CWorkerSupervisor::request() const { return AtomicRead(const_cast<volatile LONG&>(m_request)); }

bool CWorkerSupervisor::Request(LONG from, LONG to) {
    if (InterlockedCompareExchange(&m_request, to, from) != from) return false;
    InterlockedIncrement(&m_accepted);
    SetEvent(m_wake);
    return true;
}

bool CWorkerSupervisor::RequestStop() {
    return Request(kRequestRun, kRequestStop) || Request(kRequestPause, kRequestStop);
}

bool CWorkerSupervisor::RequestPause() { return Request(kRequestRun, kRequestPause); }

bool CWorkerSupervisor::RequestContinue() { return Request(kRequestPause, kRequestRun); }

bool CWorkerSupervisor::Supervise(Routine routine) {
    UniqueHandleT worker(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, routine, nullptr, 0, nullptr)));
    if (!worker) {
        WriteErrorLog(kLogWorkerThreadFailed);
        return false;
    }
    InterlockedExchange(&m_request, kRequestRun);

    bool started = false;
    bool workerEnded = false;
    HANDLE waits[2] = {m_wake, worker.get()};
    for (;;) {
        // Until the worker is up its state is looked at often, so that RUNNING follows at once.
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, started ? kTickMs : 10);
        if (woke == WAIT_OBJECT_0 + 1) {
            // The worker gave up by itself: later requests find nothing to act on.
            workerEnded = true;
            InterlockedExchange(&m_request, kRequestStop);
            break;
        }
        if (!started && Listening()) {
            started = true;
            OnStarted();
        }
        if (woke == WAIT_TIMEOUT) {
            if (started) OnTick();
            continue;
        }
        // Read before the request, so that a request stored meanwhile is not counted as acted on.
        LONG accepted = AtomicRead(m_accepted);
        LONG now = request();
        if (now == kRequestStop) break;
        if (now == kRequestRun && paused()) {
            AskToContinue();
            InterlockedExchange(&m_paused, 0);
        } else if (now == kRequestPause && !paused()) {
            DailyEventLog().Flush();
            InterlockedExchange(&m_paused, TakePause() ? 1 : 0);
        }
        Acted(accepted);
    }
    DailyEventLog().Flush();
    OnStopping();
    if (!workerEnded) EndWorker(worker.get());
    InterlockedExchange(&m_paused, 0);
    Drain();
    OnTick();
    DailyEventLog().Flush();
    Acted(MAXLONG);
    return true;
}

// A pause the worker does not take in time is withdrawn, so that the service reports what is
// true: still running.
bool CWorkerSupervisor::TakePause() {
    AskToPause();
    ULONGLONG start = Now();
    while (!Resting()) {
        if (Now() - start >= kPauseTakenMs) {
            AskToContinue();
            InterlockedCompareExchange(&m_request, kRequestRun, kRequestPause);
            return false;
        }
        Sleep(5);
    }
    return true;
}

void CWorkerSupervisor::EndWorker(HANDLE worker) {
    // Asked again and again: a request made before the worker's loop was up is lost.
    ULONGLONG start = Now();
    ULONGLONG progress = start;
    do {
        AskToEnd();
        if (WaitForSingleObject(worker, kStopPollMs) == WAIT_OBJECT_0) return;
        if (Now() - progress >= kStopProgressMs) {
            OnStopProgress();
            progress = Now();
        }
    } while (Now() - start < kAskedEndMs);
    TerminateThread(worker, 0);
    WaitForSingleObject(worker, kEndWaitMs);
}

void CWorkerSupervisor::Drain() {
    ULONGLONG start = Now();
    ULONGLONG progress = start;
    for (long left = Pending(); left > 0; left = Pending()) {
        ULONGLONG now = Now();
        if (now - start >= m_drainLimitMs) {
            OnDrainGivenUp(left);
            return;
        }
        if (now - progress >= kStopProgressMs) {
            OnStopProgress();
            progress = now;
        }
        Sleep(kDrainPollMs);
    }
}
