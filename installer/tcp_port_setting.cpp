// The settings key's TcpPort: TCPPORT when given (0 turns TCP off), else whatever the operator
// set, else none (no TCP).
#include <string>

#include "actions.h"
#include "port_value.h"
#include "ovwin/handles.h"
#include "ovwin/number_text.h"
#include "ovwin/registry_text.h"

using namespace ovsetup;

namespace {

constexpr const char* kTcpPortProperty = "TCPPORT";
constexpr const char* kTcpPortValue = "TcpPort";

}  // namespace

// Immediate: refuses a bad TCPPORT before anything changes, and hands the deferred actions what
// to write and what to restore on rollback.
extern "C" UINT __stdcall PrepareTcpPort(MSIHANDLE install) {
    std::string given = GetProperty(install, kTcpPortProperty);
    unsigned long port = 0;
    if (!given.empty() && !ovwin::ParseUnsignedText(given.c_str(), ovwin::kMaxPort, &port))
        return Fail(install,
                    "TCPPORT=\"" + given +
                        "\" is not a TCP port: give a whole number from 1 to 65535, or 0 for no TCP.");
    std::string stored;
    DWORD storedType = REG_SZ;
    bool had = ovwin::ReadRegText(HKEY_LOCAL_MACHINE, kSettingsKey, kTcpPortValue, &stored, &storedType);
    std::string write = given.empty() ? "" : std::to_string(port);
    MsiSetPropertyA(install, "WriteTcpPort", write.c_str());
    char hadAs = storedType == REG_DWORD ? kHadNumber : kHadValue;
    MsiSetPropertyA(install, "RestoreTcpPort", had ? (std::string(1, hadAs) + stored).c_str() : "");
    Log(install, "OVSyslog: TcpPort " + (had ? "\"" + stored + "\"" : std::string("absent")) +
                     (write.empty() ? ", kept" : ", set to " + write));
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall WriteTcpPort(MSIHANDLE install) {
    std::string port = ActionData(install);
    return port.empty() ? ERROR_SUCCESS : SetPortValue(kTcpPortValue, port.c_str());
}

// Rollback: puts back what PrepareTcpPort found.
extern "C" UINT __stdcall RestoreTcpPort(MSIHANDLE install) {
    return RestorePortValue(kTcpPortValue, ActionData(install));
}
