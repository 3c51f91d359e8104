#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OVSyslog.h"
#include "ovwin/number_text.h"
#include "ovwin/registry_names.h"
#include "ovwin/registry_number.h"
#include "ovwin/registry_text.h"

namespace {

constexpr bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}
// The public header spells the layout out for other programs; it must say what the code reads.
static_assert(SameText(OVSYSLOG_REG_KEY, ovwin::kSyslogKey), "OVSYSLOG_REG_KEY");
static_assert(SameText(OVTRAP_REG_KEY, ovwin::kTrapKey), "OVTRAP_REG_KEY");
static_assert(SameText(OVSYSLOG_REG_PORT, ovwin::kPortValue), "OVSYSLOG_REG_PORT");
static_assert(SameText(OVSYSLOG_REG_STATUS, ovwin::kStatusValue), "OVSYSLOG_REG_STATUS");
static_assert(OVSYSLOG_DEFAULT_PORT == ovwin::kDefaultSyslogPort, "OVSYSLOG_DEFAULT_PORT");

// Written by setSyslogProperty and read when accept opens its socket, on the one thread that
// runs both.
unsigned long g_recvBufferBytes = ovwin::kDefaultRecvBufferBytes;
bool g_recvBufferRefused = false;
char g_refusedRecvBuffer[64];  // enough of the refused text for the error log to show it

// A refused size is no reason to stay down: the default still takes most bursts.
void TakeRecvBuffer() {
    ovwin::RegNumber stored = ovwin::ReadRegNumber(
        HKEY_LOCAL_MACHINE, ovwin::kSyslogKey, ovwin::kRecvBufferValue, ovwin::kMinRecvBufferBytes,
        ovwin::kMaxRecvBufferBytes, ovwin::kDefaultRecvBufferBytes);
    // Within the bounds, so it fits.
    g_recvBufferBytes = static_cast<unsigned long>(stored.value);
    g_recvBufferRefused = stored.outcome == ovwin::RegNumber::kRefused;
    if (g_recvBufferRefused)
        std::snprintf(g_refusedRecvBuffer, sizeof g_refusedRecvBuffer, "%s", stored.refused.c_str());
}

// A missing value reads as empty: both mean the default.
std::string ReadSetting(const char* name) {
    std::string text;
    ovwin::ReadRegText(HKEY_LOCAL_MACHINE, ovwin::kSyslogKey, name, &text);
    return text;
}

}  // namespace

bool CSyslogMinitor::setServiceStatus(int status) {
    char text[16];
    _itoa(status, text, 10);
    SetValueName(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, REG_SZ, OVSYSLOG_REG_STATUS, text);
    return true;
}

bool CSyslogMinitor::setSyslogProperty() {
    TakeRecvBuffer();
    std::string stored = ReadSetting(ovwin::kPortValue);
    const char* text = stored.c_str();
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

unsigned long CSyslogMinitor::getRecvBufferSize() { return g_recvBufferBytes; }

const char* CSyslogMinitor::getRefusedRecvBuffer() {
    return g_recvBufferRefused ? g_refusedRecvBuffer : nullptr;
}

const char* CSyslogMinitor::GetRegInfo(HKEY root, const char* subKey, const char* valueName) {
    return ovwin::GetRegInfo(root, subKey, valueName);
}

int CSyslogMinitor::SetValueName(HKEY root, const char* subKey, unsigned long type, const char* valueName,
                                 const char* data) {
    return ovwin::SetValueName(root, subKey, type, valueName, data);
}
