#include "control.h"

#include <winsock2.h>
#include <process.h>

#include <cstdio>
#include <cstring>

#include "ovwin/handles.h"

using namespace ovwin;

namespace {

struct Channel {
    SOCKET socket;
    BenchState* state;
};

int FormatStats(BenchState* state, char* reply, int capacity) {
    TallySummary t = state->tally.Summarize();
    ProcessSample now = state->sampler.current();
    ProcessSample peak = state->sampler.peak();
    ProcessSample idle = state->sampler.idle();
    return std::snprintf(
        reply, capacity,
        "run=%u expected=%u received=%lld unique=%lld missing=%lld duplicates=%lld stale=%lld "
        "unparsed=%lld out_of_range=%lld live=%ld peak_live=%ld threads=%ld peak_threads=%ld "
        "idle_threads=%ld private=%llu peak_private=%llu idle_private=%llu",
        t.run, t.expected, t.received, t.unique, t.missing, t.duplicates, t.stale, t.unparsed, t.outOfRange,
        static_cast<long>(state->callbacks.live()), static_cast<long>(state->callbacks.peak()), now.threads,
        peak.threads, idle.threads, static_cast<unsigned long long>(now.privateBytes),
        static_cast<unsigned long long>(peak.privateBytes),
        static_cast<unsigned long long>(idle.privateBytes));
}

int Reset(BenchState* state, const char* args, char* reply, int capacity) {
    unsigned run = 0, expected = 0;
    if (std::sscanf(args, "%u %u", &run, &expected) != 2 || run == 0)
        return std::snprintf(reply, capacity, "ERROR usage: RESET <run, at least 1> <expected>");
    if (!state->tally.Reset(run, expected))
        return std::snprintf(reply, capacity, "ERROR at most %u datagrams a run", kMaxSequences);
    state->callbacks.ResetPeak();
    state->sampler.ResetPeaks();
    return std::snprintf(reply, capacity, "OK");
}

unsigned __stdcall Serve(void* arg) {
    Channel channel = *static_cast<Channel*>(arg);
    delete static_cast<Channel*>(arg);
    UniqueSocket socket(channel.socket);
    char request[kControlCapacity + 1];
    char reply[kControlCapacity];
    for (;;) {
        sockaddr_in from = {};
        int fromLength = sizeof from;
        int n = recvfrom(socket.get(), request, kControlCapacity, 0, reinterpret_cast<sockaddr*>(&from),
                         &fromLength);
        if (n == SOCKET_ERROR) continue;  // e.g. a reset from an earlier reply's unreachable port
        request[n] = '\0';
        int length = AnswerControl(channel.state, request, reply, sizeof reply);
        if (length > 0)
            sendto(socket.get(), reply, length < kControlCapacity ? length : kControlCapacity - 1, 0,
                   reinterpret_cast<sockaddr*>(&from), fromLength);
    }
}

}  // namespace

int AnswerControl(BenchState* state, const char* request, char* reply, int capacity) {
    if (std::strncmp(request, "RESET ", 6) == 0) return Reset(state, request + 6, reply, capacity);
    if (std::strcmp(request, "STATS") == 0) return FormatStats(state, reply, capacity);
    if (std::strcmp(request, "QUIT") == 0) {
        state->stop();
        return std::snprintf(reply, capacity, "BYE");
    }
    return std::snprintf(reply, capacity, "ERROR unknown request (RESET, STATS or QUIT)");
}

int StartControlChannel(BenchState* state) {
    UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (!socket) return -1;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(socket.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) return -1;
    int length = sizeof local;
    if (getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR) return -1;

    // The serving thread owns the socket from here on, and runs until the process ends.
    auto* channel = new Channel{socket.get(), state};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Serve, channel, 0, nullptr));
    if (thread == nullptr) {
        delete channel;
        return -1;
    }
    CloseHandle(thread);
    socket.release();
    return ntohs(local.sin_port);
}
