#include "tcp_settings.h"

#include <cstdio>
#include <string>

#include "OVSyslog.h"
#include "ovwin/number_text.h"
#include "ovwin/registry_names.h"
#include "ovwin/registry_text.h"

namespace {

// Loaded on the worker's thread before accept, which reads them on the same thread.
TcpSettings g_settings = {0, kDefaultTcpMaxConnections, kDefaultTcpIdleSeconds};
void (*volatile g_logWriter)(const char*) = nullptr;

std::string ReadSetting(const char* name) {
    std::string text;
    ovwin::ReadRegText(HKEY_LOCAL_MACHINE, ovwin::kSyslogKey, name, &text);
    return text;
}

void Refused(const char* name, const std::string& text, unsigned low, unsigned high, const char* instead) {
    char line[192];
    std::snprintf(line, sizeof line, "Syslog properties : %s %.40s is not from %u to %u, %s !", name,
                  text.c_str(), low, high, instead);
    WriteTcpLog(line);
}

// A missing or empty value means the default; any other text must be a number in its range.
unsigned ReadBounded(const char* name, unsigned low, unsigned high, unsigned fallback) {
    std::string text = ReadSetting(name);
    if (ovwin::IsBlankText(text.c_str())) return fallback;
    unsigned long value = 0;
    if (ovwin::ParseUnsignedText(text.c_str(), high, &value) && value >= low)
        return static_cast<unsigned>(value);
    char instead[32];
    std::snprintf(instead, sizeof instead, "%u used", fallback);
    Refused(name, text, low, high, instead);
    return fallback;
}

}  // namespace

TcpSettings CurrentTcpSettings() { return g_settings; }

void WriteTcpLog(const char* line) {
    if (void (*write)(const char*) = g_logWriter) write(line);
}

void CSyslogTcp::loadSettings() {
    std::string port = ReadSetting(kTcpPortValue);
    unsigned long number = 0;
    g_settings.port = 0;
    if (!ovwin::IsBlankText(port.c_str())) {
        // A TCP port nobody meant must not be opened; UDP runs on without it.
        if (ovwin::ParseUnsignedText(port.c_str(), ovwin::kMaxPort, &number))
            g_settings.port = static_cast<int>(number);
        else
            Refused(kTcpPortValue, port, 0, ovwin::kMaxPort, "no TCP");
    }
    g_settings.maxConnections =
        ReadBounded(kTcpMaxConnectionsValue, 1, kMostTcpMaxConnections, kDefaultTcpMaxConnections);
    g_settings.idleSeconds =
        ReadBounded(kTcpIdleSecondsValue, 1, kMostTcpIdleSeconds, kDefaultTcpIdleSeconds);
}

void CSyslogTcp::setPort(int port) { g_settings.port = port; }

int CSyslogTcp::getPort() { return g_settings.port; }

void CSyslogTcp::setLimits(unsigned maxConnections, unsigned idleSeconds) {
    g_settings.maxConnections = maxConnections;
    g_settings.idleSeconds = idleSeconds;
}

void CSyslogTcp::setLogWriter(void (*write)(const char* line)) { g_logWriter = write; }
