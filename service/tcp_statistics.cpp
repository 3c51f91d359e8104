#include "tcp_statistics.h"

#include <cstdint>
#include <cstdio>

#include "OVSyslog.h"
#include "ovwin/registry_number.h"

namespace {

struct Counter {
    const char* name;
    unsigned long long SyslogTcpCounters::*value;
};

constexpr Counter kCounters[] = {
    {"TcpConnections", &SyslogTcpCounters::connections},
    {"TcpAccepted", &SyslogTcpCounters::accepted},
    {"TcpRefused", &SyslogTcpCounters::refused},
    {"TcpFramingErrors", &SyslogTcpCounters::framingErrors},
    {"TcpBytes", &SyslogTcpCounters::bytes},
    {"TcpHeldPeak", &SyslogTcpCounters::heldPeak},
};

}  // namespace

bool WriteTcpCounters(HKEY statistics) {
    // Without TCP they would say nothing, or what an earlier run with TCP did: they are left out.
    if (CSyslogTcp::getPort() == 0) {
        for (const Counter& c : kCounters) RegDeleteValueA(statistics, c.name);
        return true;
    }
    SyslogTcpCounters counters = {};
    CSyslogTcp::getCounters(&counters);
    bool ok = true;
    for (const Counter& c : kCounters) {
        std::uint64_t value = counters.*c.value;
        ok = RegSetValueExA(statistics, c.name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value) == ERROR_SUCCESS &&
             ok;
    }
    return ok;
}

void PrintTcpCounters(HKEY statistics) {
    for (const Counter& c : kCounters) {
        std::uint64_t value = 0;
        if (ovwin::ReadRegStoredNumber(statistics, nullptr, c.name, REG_QWORD, &value))
            std::printf("%s : %llu\n", c.name, static_cast<unsigned long long>(value));
    }
}
