#include "port_value.h"

#include <cstring>

#include "actions.h"
#include "ovwin/handles.h"
#include "ovwin/number_text.h"

namespace ovsetup {

UINT SetPortValue(const char* name, const char* text, DWORD type) {
    ovwin::UniqueHkey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    unsigned number = 0;
    LONG error;
    if (type == REG_DWORD && ovwin::ParseUnsignedText(text, &number)) {
        DWORD value = number;
        error = RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value);
    } else {
        error = RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                               static_cast<DWORD>(std::strlen(text) + 1));
    }
    return error == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

UINT RestorePortValue(const char* name, const std::string& before) {
    if (!before.empty() && before[0] == kHadValue) return SetPortValue(name, before.c_str() + 1);
    if (!before.empty() && before[0] == kHadNumber) return SetPortValue(name, before.c_str() + 1, REG_DWORD);
    ovwin::UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.get(), name);
    return ERROR_SUCCESS;
}

}  // namespace ovsetup
