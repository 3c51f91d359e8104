#include "service_control.h"

#include <cstdint>
#include <string>

#include "OVSyslog.h"
#include "log_files.h"
#include "ovwin/handles.h"
#include "ovwin/locks.h"
#include "forwarding.h"
#include "overflow_report.h"
#include "service_status.h"
#include "syslog_worker.h"

using namespace ovwin;

namespace {

volatile LONG g_serviceMainEntered = 0;
// Manual-reset: set when the service main has returned, and while no control handler runs.
HANDLE g_serviceMainDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE g_handlerIdle = CreateEventA(nullptr, TRUE, TRUE, nullptr);

// The datagrams dropped since the program started, widened from the library's 32-bit count.
// Read by the supervision's ticks and the service main's last write, both on the service main's
// thread.
std::uint64_t DroppedBacklogFull() {
    static CWidenedCount dropped;
    return dropped.Observe(CSyslogMinitor::getDroppedCount());
}

// The receive loop pauses and ends itself when asked, and its datagram threads forward what it
// read.
class CSyslogSupervisor : public CWorkerSupervisor {
protected:
    void AskToEnd() override { CSyslogMinitor::stopTrap(); }
    void AskToPause() override { CSyslogMinitor::pauseTrap(); }
    void AskToContinue() override { CSyslogMinitor::continueTrap(); }
    bool Resting() override { return CSyslogMinitor::isPaused(); }
    bool Listening() override { return CSyslogMinitor::isListening(); }
    long Pending() override { return CSyslogMinitor::getPendingCount() + static_cast<long>(QueuedRecords()); }
    void OnStarted() override { ReportState(SERVICE_RUNNING); }
    void OnStopProgress() override { ReportProgress(); }
    void OnStopping() override { ForwardingStopping(); }
    void OnTick() override {
        if (std::uint64_t dropped = m_overflow.Observe(DroppedBacklogFull(), request() == kRequestStop))
            WriteErrorLog(BacklogFullLine(dropped).c_str());
        // The last values are written once the spool thread has ended, after the supervision.
        if (Now() - m_statisticsWritten >= kStatisticsEveryMs) {
            WriteStatistics(DroppedBacklogFull());
            m_statisticsWritten = Now();
        }
    }
    void OnDrainGivenUp(long left) override { WriteErrorLog(GivenUpAtStopLine(left).c_str()); }

private:
    COverflowReport m_overflow;
    ULONGLONG m_statisticsWritten = 0;
};

// So that PAUSED is reported only once the worker rests, and RUNNING once it goes on.
void WaitWorkerSettled() {
    for (DWORD waited = 0; waited < kSettleWaitMs && !ServiceSupervisor().WaitSettled(kSettleProgressMs);
         waited += kSettleProgressMs)
        ReportProgress();
}

void RunService() {
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    if (handle == nullptr) return;
    SetStatusHandle(handle);
    SetServiceExit(NO_ERROR);
    // RUNNING comes from the supervision, once the worker's socket is bound.
    if (!ReportState(SERVICE_START_PENDING)) {
        ReportState(SERVICE_STOPPED);
        return;
    }
    {
        ComApartment com;
        if (!com.ok()) {
            WriteErrorLog(kLogComFailed);
            SetServiceExit(ERROR_DLL_INIT_FAILED);
        } else {
            StartForwarding();
            if (!ServiceSupervisor().Supervise(SyslogWorker)) SetServiceExit(ERROR_SERVICE_NO_THREAD);
            // What the stop spooled reaches the disk, and the counters their last values.
            if (CurrentState() == SERVICE_STOP_PENDING) ReportProgress();
            else ReportState(SERVICE_STOP_PENDING);
            StopForwarding();
            WriteStatistics(DroppedBacklogFull());
        }
    }
    ReportState(SERVICE_STOPPED);
}

}  // namespace

CWorkerSupervisor& ServiceSupervisor() {
    static CSyslogSupervisor supervisor;
    return supervisor;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    InterlockedExchange(&g_serviceMainEntered, 1);
    RunService();
    SetEvent(g_serviceMainDone);
}

// A stop is only begun here: the supervision reports its progress and, once the port is given
// back and what was read is forwarded, the service main reports STOPPED.
void WINAPI ServiceCtrlHandler(DWORD control) {
    ResetEvent(g_handlerIdle);
    DWORD state = CurrentState();
    bool settled = state == SERVICE_RUNNING || state == SERVICE_PAUSED;
    CWorkerSupervisor& supervisor = ServiceSupervisor();
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (supervisor.request() != kRequestStop) {
            ReportState(SERVICE_STOP_PENDING);
            supervisor.RequestStop();
        } else {
            ReportState(state);
        }
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        if (!settled) {
            ReportState(state);
            break;
        }
        ReportState(control == SERVICE_CONTROL_PAUSE ? SERVICE_PAUSE_PENDING : SERVICE_CONTINUE_PENDING);
        if (control == SERVICE_CONTROL_PAUSE ? supervisor.RequestPause() : supervisor.RequestContinue())
            WaitWorkerSettled();
        // A pause the worker did not take is reported as what it is: still running.
        ReportState(supervisor.paused() ? SERVICE_PAUSED : SERVICE_RUNNING);
        break;
    default:
        ReportState(state);
        break;
    }
    SetEvent(g_handlerIdle);
}

bool RunServiceDispatcher() {
    std::string name = kServiceName;  // the table wants a writable copy
    SERVICE_TABLE_ENTRYA table[] = {{&name[0], ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) return false;
    // STOPPED is the service main's last report, and a handler waits for a pause at most
    // kSettleWaitMs: neither wait is long, yet neither may hang the end of the program.
    if (ovwin::AtomicRead(g_serviceMainEntered) != 0)
        WaitForSingleObject(g_serviceMainDone, kEndOfServiceMainMs);
    WaitForSingleObject(g_handlerIdle, kSettleWaitMs + kEndOfServiceMainMs);
    Sleep(kHandlerAnswerMs);
    // Datagram threads may still be inside the heap or the loader. The normal exit runs DLL detach
    // code and static destructors behind those locks and can hang for ever; everything worth
    // keeping is on disk by now and the socket is closed.
    TerminateProcess(GetCurrentProcess(), 0);
    return true;
}
