// The settings key's TcpPort: TCPPORT when given (0 turns TCP off), else whatever the operator
// set, else none (no TCP).
#include <string>

#include "actions.h"
#include "ovwin/handles.h"
#include "ovwin/number_text.h"
#include "ovwin/registry_text.h"

using namespace ovsetup;

namespace {

constexpr const char* kTcpPortProperty = "TCPPORT";
constexpr const char* kTcpPortValue = "TcpPort";

UINT SetTcpPort(const char* text, DWORD type = REG_SZ) {
    ovwin::UniqueHkey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    unsigned number = 0;
    LONG error;
    if (type == REG_DWORD && ovwin::ParseUnsignedText(text, &number)) {
        DWORD value = number;
        error = RegSetValueExA(key.get(), kTcpPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value);
    } else {
        error = RegSetValueExA(key.get(), kTcpPortValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                               static_cast<DWORD>(strlen(text) + 1));
    }
    return error == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

// Immediate: refuses a bad TCPPORT before anything changes, and hands the deferred actions what
// to write and what to restore on rollback.
extern "C" UINT __stdcall PrepareTcpPort(MSIHANDLE install) {
    std::string given = GetProperty(install, kTcpPortProperty);
    unsigned long port = 0;
    if (!given.empty() && !ovwin::ParseUnsignedText(given.c_str(), ovwin::kMaxPort, &port))
        return Fail(install, "TCPPORT=\"" + given +
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
    return port.empty() ? ERROR_SUCCESS : SetTcpPort(port.c_str());
}

// Rollback: puts back what PrepareTcpPort found.
extern "C" UINT __stdcall RestoreTcpPort(MSIHANDLE install) {
    std::string before = ActionData(install);
    if (!before.empty() && before[0] == kHadValue) return SetTcpPort(before.c_str() + 1);
    if (!before.empty() && before[0] == kHadNumber) return SetTcpPort(before.c_str() + 1, REG_DWORD);
    ovwin::UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.get(), kTcpPortValue);
    return ERROR_SUCCESS;
}
