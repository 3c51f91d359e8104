#include <cstdlib>
#include <cstring>

#include "OVSyslog.h"
#include "ovwin/number_text.h"
#include "ovwin/registry_text.h"

bool CSyslogMinitor::setServiceStatus(int status) {
    char text[16];
    _itoa(status, text, 10);
    SetValueName(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, REG_SZ, OVSYSLOG_REG_STATUS, text);
    return true;
}

bool CSyslogMinitor::setSyslogProperty() {
    const char* text = GetRegInfo(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, OVSYSLOG_REG_PORT);
    if (ovwin::IsBlankText(text)) {
        setRadiusPort(OVSYSLOG_DEFAULT_PORT);
        return true;
    }
    // A port nobody configured must not be bound: the caller refuses to run instead.
    int port = 0;
    if (!ovwin::ParsePortText(text, &port)) return false;
    setRadiusPort(port);
    return true;
}

const char* CSyslogMinitor::GetRegInfo(HKEY root, const char* subKey, const char* valueName) {
    return ovwin::GetRegInfo(root, subKey, valueName);
}

int CSyslogMinitor::SetValueName(HKEY root, const char* subKey, unsigned long type,
                                 const char* valueName, const char* data) {
    return ovwin::SetValueName(root, subKey, type, valueName, data);
}
