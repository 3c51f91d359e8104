// The benchmark program's control channel: a loopback UDP socket of its own, served on its own
// thread, so that the driver's questions never touch the port under test.
//   "RESET <run> <expected>"  -> "OK" or "ERROR ..."  (between runs only)
//   "STATS"                   -> one line of name=value pairs
//   "QUIT"                    -> "BYE", then the receiving ends
#pragma once

#include "gauge.h"
#include "sampler.h"
#include "tally.h"

struct BenchState {
    Tally tally;
    Gauge callbacks;  // datagram threads inside the receiver callback
    ProcessSampler sampler;
    void (*stop)() = nullptr;
};

constexpr int kControlCapacity = 512;

// Binds 127.0.0.1 on a port the system picks and serves it on a new thread; returns the port, or
// -1 when it could not.
int StartControlChannel(BenchState* state);

// The answer to one request.
int AnswerControl(BenchState* state, const char* request, char* reply, int capacity);
