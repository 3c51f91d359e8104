// receive_bench library|bare PORT [BUFFER]: receives a flood on PORT, through the receiver library
// or through a bare loop, and answers the driver's questions on a control port that it prints.
// BUFFER is the bare loop's receive buffer in bytes, by default the library's default.
// receive_bench roundtrip: prints what one round trip to the wineserver costs here.
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>

#include "OVSyslog.h"
#include "ovwin/handles.h"
#include "ovwin/registry_names.h"
#include "bare_loop.h"
#include "control.h"

using namespace ovwin;

namespace {

BenchState* g_state = nullptr;

unsigned int OnMessage(CSyslogMinitor* message) {
    g_state->callbacks.Enter();
    char* host = message->getHost();
    char* text = message->getMessage();
    g_state->tally.Count(text);
    std::free(host);
    std::free(text);
    delete message;
    g_state->callbacks.Leave();
    return 0;
}

int RunLibrary(int port) {
    CSyslogMinitor::setRadiusPort(port);
    int result = CSyslogMinitor::accept(OnMessage);
    if (result != 0) {
        std::fprintf(stderr, "receive_bench: the library cannot receive on UDP port %d (result 0x%08X)\n",
                     port, static_cast<unsigned>(result));
        return 1;
    }
    return 0;
}

int RunBare(int port, int bufferBytes) {
    if (RunBareLoop(port, bufferBytes, g_state) != 0) {
        std::fprintf(stderr, "receive_bench: cannot bind UDP port %d (error %d)\n", port, WSAGetLastError());
        return 1;
    }
    return 0;
}

// Every read and most of a forward are one or more round trips to the one wineserver, so its cost
// bounds every figure of the benchmarks; it differs several times over between machines.
int RunRoundTrip() {
    UniqueHandleT event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event) return 1;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    constexpr int kCalls = 20000;
    double runs[5];
    for (double& micros : runs) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (int i = 0; i < kCalls; ++i) ResetEvent(event.get());
        QueryPerformanceCounter(&end);
        micros = static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                 static_cast<double>(frequency.QuadPart) / kCalls;
    }
    std::sort(runs, runs + 5);
    std::printf("receive_bench: round trip %.1f us (median of 5 runs of %d)\n", runs[2], kCalls);
    return 0;
}

bool ParseNumber(const char* text, long min, long max, int* number) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < min || value > max) return false;
    *number = static_cast<int>(value);
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: receive_bench library|bare PORT [BUFFER]  (PORT 1 to 65535, BUFFER bytes)\n"
                 "       receive_bench roundtrip\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "roundtrip") == 0) return RunRoundTrip();
    int port = 0;
    int bufferBytes = static_cast<int>(ovwin::kDefaultRecvBufferBytes);
    if (argc < 3 || argc > 4 || !ParseNumber(argv[2], 1, 65535, &port)) return Usage();
    bool library = std::strcmp(argv[1], "library") == 0;
    if (!library && std::strcmp(argv[1], "bare") != 0) return Usage();
    // The library's loop asks for its default: nothing here loads the settings.
    const long maxBuffer = static_cast<long>(ovwin::kMaxRecvBufferBytes);
    if (argc == 4 && (library || !ParseNumber(argv[3], 1, maxBuffer, &bufferBytes))) return Usage();

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "receive_bench: the socket library did not start\n");
        return 1;
    }
    static BenchState state;
    g_state = &state;
    state.stop = library ? CSyslogMinitor::stopTrap : StopBareLoop;
    if (!state.tally.ready() || !state.sampler.Start()) {
        std::fprintf(stderr, "receive_bench: cannot set up the counters\n");
        return 1;
    }
    int control = StartControlChannel(&state);
    if (control < 0) {
        std::fprintf(stderr, "receive_bench: cannot open the control channel\n");
        return 1;
    }
    std::printf("receive_bench: %s receiving on UDP port %d, control port %d\n", argv[1], port, control);
    std::fflush(stdout);
    int result = library ? RunLibrary(port) : RunBare(port, bufferBytes);
    std::printf("receive_bench: stopped\n");
    std::fflush(stdout);
    return result;
}
