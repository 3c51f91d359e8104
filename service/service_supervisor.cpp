#include "supervision.h"
#include "syslog_worker.h"

CWorkerSupervisor& ServiceSupervisor() {
    static CWorkerSupervisor supervisor;
    return supervisor;
}

void SuperviseWorker() { ServiceSupervisor().Supervise(SyslogWorker); }
void RequestStop() { ServiceSupervisor().RequestStop(); }
void RequestPause() { ServiceSupervisor().RequestPause(); }
void RequestContinue() { ServiceSupervisor().RequestContinue(); }
