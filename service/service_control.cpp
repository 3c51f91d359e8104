#include "service_control.h"

#include <string>
#include <utility>

#include "OVSyslog.h"
#include "log_files.h"
#include "ovwin/locks.h"
#include "forwarding.h"
#include "syslog_worker.h"

using namespace ovwin;

namespace {

// The receive loop pauses and ends itself when asked, and its datagram threads forward what it
// read. What the supervision tells goes to the service that owns it.
class CSyslogSupervisor : public CWorkerSupervisor {
public:
    explicit CSyslogSupervisor(CSyslogService& service) : m_service(service) {}

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
    void OnTick() override { m_service.reports().Tick(Now(), request() == kRequestStop); }
    void OnDrainGivenUp(long left) override { m_service.reports().DrainGivenUp(left); }

private:
    void ReportState(DWORD state) { m_service.status().Report(state); }
    void ReportProgress() { m_service.status().Progress(); }

    CSyslogService& m_service;
};

}  // namespace

CSyslogService& CSyslogService::Instance() {
    static CSyslogService service([](CSyslogService& self) -> std::unique_ptr<CWorkerSupervisor> {
        return std::make_unique<CSyslogSupervisor>(self);
    });
    return service;
}

CSyslogService::CSyslogService(const SupervisorMaker& makeSupervisor, CServiceStatus::Sender send)
    : m_status(std::move(send)),
      m_supervisor(makeSupervisor(*this)),
      m_mainDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_handlerIdle(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}

void WINAPI CSyslogService::ServiceMain(DWORD, LPSTR*) {
    CSyslogService& service = Instance();
    InterlockedExchange(&service.m_mainEntered, 1);
    service.Start();
    SetEvent(service.m_mainDone.get());
}

void WINAPI CSyslogService::ServiceCtrlHandler(DWORD control) { Instance().Control(control); }

void CSyslogService::Start() {
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    if (handle == nullptr) return;
    m_status.Attach(handle);
    m_status.SetExit(NO_ERROR);
    // RUNNING comes from the supervision, once the worker's socket is bound.
    if (!m_status.Report(SERVICE_START_PENDING)) {
        m_status.Report(SERVICE_STOPPED);
        return;
    }
    {
        ComApartment com;
        if (!com.ok()) {
            WriteErrorLog(kLogComFailed);
            m_status.SetExit(ERROR_DLL_INIT_FAILED);
        } else {
            StartForwarding();
            if (!m_supervisor->Supervise(SyslogWorker)) m_status.SetExit(ERROR_SERVICE_NO_THREAD);
            // What the stop spooled reaches the disk, and the counters their last values.
            if (m_status.state() == SERVICE_STOP_PENDING)
                m_status.Progress();
            else
                m_status.Report(SERVICE_STOP_PENDING);
            StopForwarding();
            m_reports.WriteLast();
        }
    }
    m_status.Report(SERVICE_STOPPED);
}

// Each control reports a state before it returns: the manager takes that as its answer.
void CSyslogService::Control(DWORD control) {
    ResetEvent(m_handlerIdle.get());
    switch (control) {
    case SERVICE_CONTROL_STOP:
        Stop();
        break;
    case SERVICE_CONTROL_PAUSE:
        Pause();
        break;
    case SERVICE_CONTROL_CONTINUE:
        Continue();
        break;
    default:
        m_status.Report(m_status.state());
        break;
    }
    SetEvent(m_handlerIdle.get());
}

void CSyslogService::Stop() {
    if (m_supervisor->request() != kRequestStop) {
        m_status.Report(SERVICE_STOP_PENDING);
        m_supervisor->RequestStop();
    } else {
        m_status.Report(m_status.state());
    }
}

void CSyslogService::Pause() { Settle(SERVICE_CONTROL_PAUSE); }

void CSyslogService::Continue() { Settle(SERVICE_CONTROL_CONTINUE); }

void CSyslogService::Settle(DWORD control) {
    DWORD state = m_status.state();
    if (state != SERVICE_RUNNING && state != SERVICE_PAUSED) {
        m_status.Report(state);
        return;
    }
    bool pause = control == SERVICE_CONTROL_PAUSE;
    m_status.Report(pause ? SERVICE_PAUSE_PENDING : SERVICE_CONTINUE_PENDING);
    if (pause ? m_supervisor->RequestPause() : m_supervisor->RequestContinue()) WaitWorkerSettled();
    // A pause the worker did not take is reported as what it is: still running.
    m_status.Report(m_supervisor->paused() ? SERVICE_PAUSED : SERVICE_RUNNING);
}

// So that PAUSED is reported only once the worker rests, and RUNNING once it goes on.
void CSyslogService::WaitWorkerSettled() {
    for (DWORD waited = 0; waited < kSettleWaitMs && !m_supervisor->WaitSettled(kSettleProgressMs);
         waited += kSettleProgressMs)
        m_status.Progress();
}

bool CSyslogService::RunDispatcher() {
    std::string name = kServiceName;  // the table wants a writable copy
    SERVICE_TABLE_ENTRYA table[] = {{&name[0], ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) return false;
    // STOPPED is the service main's last report, and a handler waits for a pause at most
    // kSettleWaitMs: neither wait is long, yet neither may hang the end of the program.
    if (AtomicRead(m_mainEntered) != 0) WaitForSingleObject(m_mainDone.get(), kEndOfServiceMainMs);
    WaitForSingleObject(m_handlerIdle.get(), kSettleWaitMs + kEndOfServiceMainMs);
    Sleep(kHandlerAnswerMs);
    // Datagram threads may still be inside the heap or the loader. The normal exit runs DLL detach
    // code and static destructors behind those locks and can hang for ever; everything worth
    // keeping is on disk by now and the socket is closed.
    TerminateProcess(GetCurrentProcess(), 0);
    return true;
}

bool RunServiceDispatcher() { return CSyslogService::Instance().RunDispatcher(); }

void SetServiceExit(DWORD win32Code, DWORD specificCode) {
    CSyslogService::Instance().status().SetExit(win32Code, specificCode);
}
