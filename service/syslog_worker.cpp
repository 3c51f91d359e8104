#include "syslog_worker.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "forward.h"
#include "ovwin/handles.h"
#include "log_files.h"
#include "service_control.h"
#include "suite.h"
#include "worker_hold.h"

namespace {

std::string BindFailedLine() {
    char line[64];
    std::snprintf(line, sizeof line, "Syslog Port : %d has been used !", CSyslogMinitor::getRadiusPort());
    return line;
}

// Status code first, then the line, then the report: a line written after STOPPED can be lost.
void GiveUp(int status, const char* line) {
    if (status >= 0) CSyslogMinitor::setServiceStatus(status);
    WriteErrorLog(line);
    ReportState(SERVICE_STOPPED);
}

void MapAcceptResult(int result) {
    switch (result) {
    case SYSLOG_E_STARTUP:
        GiveUp(kStatusSocketLibFailed, kLogSocketLibFailed);
        break;
    case SYSLOG_E_SOCKET:
        GiveUp(kStatusSocketFailed, kLogSocketFailed);
        break;
    case SYSLOG_E_BIND:
        GiveUp(kStatusBindFailed, BindFailedLine().c_str());
        break;
    default:
        ReportState(SERVICE_STOPPED);
        break;
    }
}

}  // namespace

unsigned __stdcall SyslogWorker(void*) {
    // Inside the gate except in the receive loop; never left on the way out, so that the thread
    // is not frozen or cut off while it reports, logs or ends.
    HoldGate::Enter();
    ComApartment com;
    if (!com.ok()) return kWorkerGaveUp;

    ComPtr serverList;
    if (SUCCEEDED(CoCreateInstance(kServerListClass, nullptr, kSuiteClassContext, kServerListInterface,
                                   serverList.put())) &&
        serverList)
        CallEntry(serverList.get(), kEntryRefresh);

    ReportState(SERVICE_START_PENDING);
    if (!CSyslogMinitor::setServiceStatus(kStatusStarted) || !CSyslogMinitor::setSyslogProperty()) {
        GiveUp(-1, kLogPortIncorrect);
        return kWorkerGaveUp;
    }
    ReportState(SERVICE_RUNNING);

    HoldGate::Leave();
    int result = CSyslogMinitor::accept(OnSyslogMessage);
    HoldGate::Enter();

    MapAcceptResult(result);
    return kWorkerGaveUp;
}

unsigned OnSyslogMessage(CSyslogMinitor* message) {
    if (message == nullptr) return kMessageDropped;
    char* text = nullptr;
    char* host = nullptr;
    {
        ComApartment com;
        if (!com.ok()) {
            delete message;
            return kMessageDropped;
        }
        text = message->getMessage();
        host = message->getHost();
        try {
            ForwardEvent(host != nullptr ? host : "", text != nullptr ? text : "");
        } catch (...) {
            // Out of memory while forwarding: this message is lost, the thread goes on.
        }
        std::free(host);
        std::free(text);
    }
    delete message;
    return 0;
}
