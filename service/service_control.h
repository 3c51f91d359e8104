// The service's life under the service control manager: one object holds its status record, the
// supervision of its worker and what it reports while it runs; the manager's calls reach it
// through two static trampolines.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "ovwin/handles.h"
#include "service_reports.h"
#include "service_status.h"
#include "supervision.h"

class CSyslogService {
public:
    // Makes the supervisor, given the service it reports to; the reference is only to be kept.
    using SupervisorMaker = std::function<std::unique_ptr<CWorkerSupervisor>(CSyslogService& service)>;

    // The one service of the program: the receive loop's supervisor, reports to the manager.
    static CSyslogService& Instance();
    // Tests make their own, with a worker of theirs and reports recorded.
    explicit CSyslogService(const SupervisorMaker& makeSupervisor, CServiceStatus::Sender send = {});
    CSyslogService(const CSyslogService&) = delete;
    CSyslogService& operator=(const CSyslogService&) = delete;

    // Runs the dispatcher; false when it could not connect (started from a console). When it
    // returns true the service has ended: the supervision is done and no control handler still runs.
    bool RunDispatcher();

    // The life cycle. Start runs on the service main's thread and returns once the service has
    // reported STOPPED; the others run on the dispatcher's thread. Stop only begins the stop: the
    // supervision reports its progress and Start reports its end.
    void Start();
    void Stop();
    void Pause();
    void Continue();

    CServiceStatus& status() { return m_status; }
    CServiceReports& reports() { return m_reports; }
    CWorkerSupervisor& supervisor() { return *m_supervisor; }

private:
    static void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
    static void WINAPI ServiceCtrlHandler(DWORD control);
    void Control(DWORD control);
    // Pause and continue: the state moves only from RUNNING or PAUSED.
    void Settle(DWORD control);
    void WaitWorkerSettled();

    CServiceStatus m_status;
    CServiceReports m_reports;
    std::unique_ptr<CWorkerSupervisor> m_supervisor;
    volatile LONG m_mainEntered = 0;
    // Manual-reset: set when the service main has returned, and while no control handler runs.
    ovwin::UniqueHandleT m_mainDone;
    ovwin::UniqueHandleT m_handlerIdle;
};

// The program's entry as a service: CSyslogService::Instance().RunDispatcher().
bool RunServiceDispatcher();
