#include "syslog_worker.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "message_records.h"
#include "forwarding.h"
#include "ovwin/handles.h"
#include "ovwin/registry_names.h"
#include "log_files.h"
#include "service_status.h"
#include "suite.h"

namespace {

std::string BindFailedLine() {
    char line[64];
    std::snprintf(line, sizeof line, "Syslog Port : %d has been used !", CSyslogMinitor::getRadiusPort());
    return line;
}

std::string TcpBindFailedLine() {
    char line[64];
    std::snprintf(line, sizeof line, "Syslog TCP Port : %d has been used !", CSyslogTcp::getPort());
    return line;
}

// Status code first, then the line; the service main reports STOPPED with the reason once the
// supervision has seen the worker end.
void GiveUpOnSocket(int status, const char* line) {
    CSyslogMinitor::setServiceStatus(status);
    WriteErrorLog(line);
    SetServiceExit(ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(status));
}

void MapAcceptResult(int result) {
    switch (result) {
    case SYSLOG_E_STARTUP:
        GiveUpOnSocket(kStatusSocketLibFailed, kLogSocketLibFailed);
        break;
    case SYSLOG_E_SOCKET:
        GiveUpOnSocket(kStatusSocketFailed, kLogSocketFailed);
        break;
    case SYSLOG_E_BIND:
        GiveUpOnSocket(kStatusBindFailed, BindFailedLine().c_str());
        break;
    case SYSLOG_E_TCPBIND:
        GiveUpOnSocket(kStatusTcpBindFailed, TcpBindFailedLine().c_str());
        break;
    default:
        break;
    }
}

}  // namespace

unsigned __stdcall SyslogWorker(void*) {
    ovwin::ComApartment com;
    if (!com.ok()) {
        SetServiceExit(ERROR_DLL_INIT_FAILED);
        return kWorkerGaveUp;
    }

    ovwin::ComPtr serverList;
    if (SUCCEEDED(CoCreateInstance(kServerListClass, nullptr, kSuiteClassContext, kServerListInterface,
                                   serverList.put())) &&
        serverList)
        CallEntry(serverList.get(), kEntryRefresh);

    if (!CSyslogMinitor::setServiceStatus(kStatusStarted) || !CSyslogMinitor::setSyslogProperty()) {
        WriteErrorLog(kLogPortIncorrect);
        SetServiceExit(ERROR_BAD_CONFIGURATION);
        return kWorkerGaveUp;
    }
    if (const char* refused = CSyslogMinitor::getRefusedRecvBuffer()) {
        char line[160];
        std::snprintf(line, sizeof line, kLogRecvBufferRefused, refused, ovwin::kMinRecvBufferBytes,
                      ovwin::kMaxRecvBufferBytes, CSyslogMinitor::getRecvBufferSize());
        WriteErrorLog(line);
    }
    CSyslogTcp::setLogWriter(WriteErrorLog);
    CSyslogTcp::loadSettings();

    int result = CSyslogMinitor::accept(OnSyslogMessage);

    MapAcceptResult(result);
    return kWorkerGaveUp;
}

namespace {

// The message's delivery, in its sender's turn: it owns the records.
void DeliverInTurn(void* context) {
    auto* records = static_cast<PreparedMessage*>(context);
    DeliverRecords(*records);
    delete records;
}

}  // namespace

// The records are made here, beside other messages; their delivery follows the same sender's
// earlier messages'.
unsigned OnSyslogMessage(CSyslogMinitor* message) {
    if (message == nullptr) return kMessageDropped;
    CountReceived();
    char* text = nullptr;
    char* host = nullptr;
    {
        ovwin::ComApartment com;
        if (!com.ok()) {
            delete message;
            return kMessageDropped;
        }
        text = message->getMessage();
        host = message->getHost();
        try {
            auto* records =
                new PreparedMessage(PrepareForward(host != nullptr ? host : "", text != nullptr ? text : ""));
            CSyslogMinitor::deliverInTurn(DeliverInTurn, records);
        } catch (...) {
            // Out of memory while forwarding: this message is lost, the thread goes on.
        }
        std::free(host);
        std::free(text);
    }
    delete message;
    return 0;
}
