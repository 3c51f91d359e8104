#include <cstdio>

#include "log_files.h"
#include "overflow_report.h"
#include "service_control.h"
#include "supervision.h"
#include "syslog_worker.h"

namespace {

// The receive loop ends at once when asked, and its datagram threads forward what it read.
class CSyslogSupervisor : public CWorkerSupervisor {
protected:
    void AskToEnd() override { CSyslogMinitor::stopTrap(); }
    bool Listening() override { return CSyslogMinitor::isListening(); }
    long Pending() override { return CSyslogMinitor::getPendingCount(); }
    void OnStarted() override { ReportState(SERVICE_RUNNING); }
    void OnStopProgress() override { ReportProgress(); }
    void OnTick() override {
        if (unsigned long dropped = m_overflow.Observe(CSyslogMinitor::getDroppedCount(), request() == kRequestStop))
            WriteErrorLog(BacklogFullLine(dropped).c_str());
    }
    void OnDrainGivenUp(long left) override { WriteErrorLog(GivenUpAtStopLine(left).c_str()); }

private:
    COverflowReport m_overflow;
};

}  // namespace

CWorkerSupervisor& ServiceSupervisor() {
    static CSyslogSupervisor supervisor;
    return supervisor;
}

bool SuperviseWorker() { return ServiceSupervisor().Supervise(SyslogWorker); }
bool RequestStop() { return ServiceSupervisor().RequestStop(); }
bool RequestPause() { return ServiceSupervisor().RequestPause(); }
bool RequestContinue() { return ServiceSupervisor().RequestContinue(); }
void WaitWorkerSettled() {
    for (DWORD waited = 0; waited < kSettleWaitMs && !ServiceSupervisor().WaitSettled(kSettleProgressMs);
         waited += kSettleProgressMs)
        ReportProgress();
}
