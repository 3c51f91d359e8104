// The settings key's AuthPort: SYSLOGPORT when given, else the operator's value, else 514.
#include <winsock2.h>

#include <string>

#include "actions.h"
#include "port_value.h"
#include "ovwin/handles.h"
#include "ovwin/number_text.h"
#include "ovwin/registry_text.h"

using namespace ovsetup;

// Immediate: refuses a bad SYSLOGPORT before anything changes, and hands the deferred actions
// what to write, what to restore on rollback and which port the service will need.
extern "C" UINT __stdcall PreparePort(MSIHANDLE install) {
    std::string given = GetProperty(install, kPortProperty);
    int port = 0;
    if (!given.empty() && !ovwin::ParsePortText(given.c_str(), &port))
        return Fail(install,
                    "SYSLOGPORT=\"" + given + "\" is not a UDP port: give a whole number from 1 to 65535.");
    // As the service reads it: a REG_DWORD port is its number, not its bytes.
    std::string stored;
    DWORD storedType = REG_SZ;
    bool had = ovwin::ReadRegText(HKEY_LOCAL_MACHINE, kSettingsKey, kPortValue, &stored, &storedType);
    std::string write;
    if (!given.empty())
        write = std::to_string(port);
    else if (!had)
        write = kDefaultPort;
    std::string effective = write.empty() ? stored : write;

    MsiSetPropertyA(install, "WritePort", write.c_str());
    char hadAs = storedType == REG_DWORD ? kHadNumber : kHadValue;
    MsiSetPropertyA(install, "RestorePort", had ? (std::string(1, hadAs) + stored).c_str() : "");
    MsiSetPropertyA(install, "CheckPortFree", effective.c_str());
    Log(install, "OVSyslog: AuthPort " + (had ? "\"" + stored + "\"" : std::string("absent")) +
                     (write.empty() ? ", kept" : ", set to " + write));
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall WritePort(MSIHANDLE install) {
    std::string port = ActionData(install);
    return port.empty() ? ERROR_SUCCESS : SetPortValue(kPortValue, port.c_str());
}

// Rollback: puts back what PreparePort found.
extern "C" UINT __stdcall RestorePort(MSIHANDLE install) {
    return RestorePortValue(kPortValue, ActionData(install));
}

// Deferred, just before the service starts: a port held by another receiver fails the install
// with a message that says so, instead of the service manager's bare start failure.
extern "C" UINT __stdcall CheckPortFree(MSIHANDLE install) {
    std::string text = ActionData(install);
    int port = 0;
    if (!ovwin::ParsePortText(text.c_str(), &port)) return ERROR_SUCCESS;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return ERROR_SUCCESS;
    bool taken = false;
    {
        ovwin::UniqueSocket s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<u_short>(port));
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        taken = s && bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 &&
                WSAGetLastError() == WSAEADDRINUSE;
    }
    WSACleanup();
    if (!taken) return ERROR_SUCCESS;
    return Fail(install, "OVSyslog cannot start: UDP port " + std::to_string(port) +
                             " is in use by another program. Stop that program, or install with "
                             "SYSLOGPORT set to a free port.");
}
