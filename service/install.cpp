#include "install.h"

#include <windows.h>
#include <mbstring.h>

#include <cstdio>
#include <string>

#include "ovwin/handles.h"
#include "ovwin/service_wait.h"
#include "service_status.h"

namespace {

void Say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void SayLine(const std::string& text) { Say((text + "\n").c_str()); }

ovwin::UniqueScHandle OpenManager() {
    return ovwin::UniqueScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

// Asks a running service to stop and waits a few seconds; true once it is stopped, or when no
// stop could be asked for and none is under way.
bool StopBeforeRemoval(SC_HANDLE service) {
    auto begun = [] {
        Say("stop ");
        Say(kServiceName);
        Say(".");
    };
    ovwin::StopOutcome stop = ovwin::StopAndWait(
        service, kStopPolling, [] { Say("."); }, begun);
    if (!stop.underWay) return true;
    Say("\n");
    if (stop.state == SERVICE_STOPPED) {
        SayLine(std::string(kServiceName) + " stopped.");
        return true;
    }
    SayLine(std::string(kServiceName) + " failed to stop.");
    SayLine(std::string("please stop service '") + kServiceName + "' in service control panel.");
    return false;
}

}  // namespace

void PrintUsage() {
    SayLine(std::string(kServiceName) + ":");
    SayLine("\t-i \t install service.");
    SayLine("\t-u \t uninstall service.");
    SayLine("\t-s \t show forwarding statistics.");
}

Switch ParseSwitch(const char* argument) {
    if (argument == nullptr || (argument[0] != '/' && argument[0] != '-')) return Switch::kUsage;
    auto is = [&](const char* word) {
        return _mbsicmp(reinterpret_cast<const unsigned char*>(argument + 1),
                        reinterpret_cast<const unsigned char*>(word)) == 0;
    };
    if (is("i")) return Switch::kInstall;
    if (is("u")) return Switch::kUninstall;
    if (is("d")) return Switch::kConsole;
    if (is("s")) return Switch::kStatistics;
    return Switch::kUsage;
}

bool InstallService() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        SayLine("get module file name failed.");
        return false;
    }
    ovwin::UniqueScHandle manager = OpenManager();
    if (!manager) {
        SayLine("can't open SCM database.");
        return false;
    }
    // Quoted: with spaces in an unquoted path the manager would try each prefix as a program.
    std::string command = std::string("\"") + path + "\"";
    ovwin::UniqueScHandle service(CreateServiceA(manager.get(), kServiceName, kServiceDisplayName,
                                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                 SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                                 nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service) {
        SayLine("install service successed.");
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS) {
        SayLine("the specified service already exists.");
    } else if (error == ERROR_DUPLICATE_SERVICE_NAME) {
        SayLine(
            "the display name already exists in the service control manager database either as a "
            "service name or as another display name.");
    } else {
        Say("install service failed.\n");
        SayLine("error code: " + std::to_string(error));
    }
    return false;
}

bool UninstallService() {
    ovwin::UniqueScHandle manager = OpenManager();
    if (!manager) {
        SayLine("can not open SCM database");
        return false;
    }
    ovwin::UniqueScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service) {
        manager.reset();
        SayLine(std::string("can't open service: ") + kServiceName);
        return false;
    }
    if (!StopBeforeRemoval(service.get())) return false;
    bool deleted = DeleteService(service.get()) != FALSE;
    SayLine(std::string(kServiceName) + (deleted ? " uninstall successed." : " uninstall failed."));
    return true;
}
