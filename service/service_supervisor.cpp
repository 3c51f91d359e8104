#include "supervision.h"
#include "syslog_worker.h"

CWorkerSupervisor& ServiceSupervisor() {
    static CWorkerSupervisor supervisor;
    return supervisor;
}

void SuperviseWorker() { ServiceSupervisor().Supervise(SyslogWorker); }
bool RequestStop() { return ServiceSupervisor().RequestStop(); }
bool RequestPause() { return ServiceSupervisor().RequestPause(); }
bool RequestContinue() { return ServiceSupervisor().RequestContinue(); }
void WaitWorkerSettled() { ServiceSupervisor().WaitSettled(kSettleWaitMs); }
