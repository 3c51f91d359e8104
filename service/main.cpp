// OVSyslogSvc: the service "OVSyslog", or from a console: -i install, -u uninstall, -d run here.
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
        SyslogWorker(nullptr);
        break;
    case Switch::kUsage:
        PrintUsage();
        break;
    }
    return 0;
}
