#include "supervision.h"
#include "syslog_worker.h"

CWorkerSupervisor& ServiceSupervisor() {
    static CWorkerSupervisor supervisor;
    return supervisor;
}

// The receive loop notices the request between two datagrams, or within its wait when idle.
void SuperviseWorker() { ServiceSupervisor().Supervise(SyslogWorker, CSyslogMinitor::stopTrap); }
bool RequestStop() { return ServiceSupervisor().RequestStop(); }
bool RequestPause() { return ServiceSupervisor().RequestPause(); }
bool RequestContinue() { return ServiceSupervisor().RequestContinue(); }
void WaitWorkerSettled() { ServiceSupervisor().WaitSettled(kSettleWaitMs); }
