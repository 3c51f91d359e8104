// syslogcat [port]: receives syslog on the port (default 514) and prints "host<TAB>text" lines.
#include <cstdio>
#include <cstdlib>

#include "OVSyslog.h"

namespace {

unsigned int PrintMessage(CSyslogMinitor* message) {
    char* host = message->getHost();
    char* text = message->getMessage();
    // One write per line, so that lines of concurrent datagram threads never mix.
    char line[640];
    std::snprintf(line, sizeof line, "%s\t%s\n", host, text);
    std::fputs(line, stdout);
    std::fflush(stdout);
    std::free(host);
    std::free(text);
    delete message;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int port = OVSYSLOG_DEFAULT_PORT;
    if (argc > 1) {
        char* end = nullptr;
        long value = std::strtol(argv[1], &end, 10);
        if (*argv[1] == '\0' || *end != '\0' || value < 1 || value > 65535) {
            std::fprintf(stderr, "syslogcat: '%s' is not a UDP port (1 to 65535)\n", argv[1]);
            return 2;
        }
        port = static_cast<int>(value);
    }
    CSyslogMinitor::setRadiusPort(port);
    std::fprintf(stderr, "syslogcat: receiving on UDP port %d\n", port);
    int result = CSyslogMinitor::accept(PrintMessage);
    std::fprintf(stderr, "syslogcat: cannot receive on UDP port %d (result 0x%08X)\n", port,
                 static_cast<unsigned>(result));
    return 1;
}
