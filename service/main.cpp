// OVSyslogSvc: the service "OVSyslog", or from a console: -i install, -u uninstall, -d run here,
// -s the counters the service last wrote.
#include "forwarding.h"
#include "install.h"
#include "service_control.h"
#include "syslog_worker.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        if (!RunServiceDispatcher()) PrintUsage();
        return 0;
    }
    switch (ParseSwitch(argv[1])) {
    case Switch::kInstall:
        InstallService();
        break;
    case Switch::kUninstall:
        UninstallService();
        break;
    case Switch::kConsole:
        StartForwarding();
        SyslogWorker(nullptr);
        break;
    case Switch::kStatistics:
        return PrintStatistics() ? 0 : 1;
    case Switch::kUsage:
        PrintUsage();
        break;
    }
    return 0;
}
