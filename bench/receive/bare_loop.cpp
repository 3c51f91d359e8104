#include "bare_loop.h"

#include <winsock2.h>

#include <cstdio>

#include "ovwin/handles.h"

using namespace ovwin;

namespace {

volatile LONG g_stop = 0;

}  // namespace

void StopBareLoop() { InterlockedExchange(&g_stop, 1); }

int RunBareLoop(int port, int bufferBytes, BenchState* state) {
    UniqueSocket s(socket(AF_INET, SOCK_DGRAM, 0));
    if (!s) return 1;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferBytes),
               sizeof bufferBytes);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<u_short>(port));
    if (bind(s.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) return 1;
    // A blocking read with a time-out, as the library's loop reads: the fastest read under Wine.
    DWORD wait = kBareWaitMs;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);

    static char buffer[kBareCapacity + 1];
    while (InterlockedCompareExchange(&g_stop, 0, 0) == 0) {
        sockaddr_in from = {};
        int fromLength = sizeof from;
        int n = recvfrom(s.get(), buffer, kBareCapacity, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 1) continue;
        buffer[n] = '\0';
        state->tally.Count(buffer);
    }
    return 0;
}
