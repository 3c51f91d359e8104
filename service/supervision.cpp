#include "supervision.h"

#include <process.h>

#include "handles.h"
#include "log_files.h"
#include "worker_hold.h"

CWorkerSupervisor::CWorkerSupervisor() : m_wake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

CWorkerSupervisor::~CWorkerSupervisor() {
    if (m_wake != nullptr) CloseHandle(m_wake);
}

LONG CWorkerSupervisor::request() const {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&m_request), 0, 0);
}

void CWorkerSupervisor::Request(LONG from, LONG to) {
    if (InterlockedCompareExchange(&m_request, to, from) == from) SetEvent(m_wake);
}

void CWorkerSupervisor::RequestStop() {
    Request(kRequestRun, kRequestStop);
    Request(kRequestPause, kRequestStop);
}

void CWorkerSupervisor::RequestPause() { Request(kRequestRun, kRequestPause); }

void CWorkerSupervisor::RequestContinue() { Request(kRequestPause, kRequestRun); }

bool CWorkerSupervisor::Supervise(Routine routine) {
    UniqueHandleT worker(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, routine, nullptr, 0, nullptr)));
    if (!worker) {
        WriteErrorLog(kLogWorkerThreadFailed);
        return false;
    }
    InterlockedExchange(&m_request, kRequestRun);

    bool held = false;
    bool workerEnded = false;
    HANDLE waits[2] = {m_wake, worker.get()};
    while (!workerEnded) {
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woke != WAIT_OBJECT_0) {
            // The worker gave up by itself: later requests find nothing to act on.
            workerEnded = true;
            InterlockedExchange(&m_request, kRequestStop);
            break;
        }
        LONG now = request();
        if (now == kRequestStop) break;
        if (now == kRequestRun && held) {
            ReleaseThread(worker.get());
            held = false;
        } else if (now == kRequestPause && !held) {
            DailyEventLog().Flush();
            held = HoldThread(worker.get());
        }
    }
    DailyEventLog().Flush();
    if (!workerEnded) EndThread(worker.get());
    return true;
}

