// The comparison receiver: a plain blocking recvfrom loop on one thread, no datagram threads. What
// it reads is what the platform can deliver to one reader.
#pragma once

#include "control.h"

// Same wait, capacity and receive buffer as the library's loop, so that only the threads differ.
constexpr unsigned int kBareWaitMs = 2000;
constexpr int kBareCapacity = 4096;
constexpr int kBareReceiveBufferBytes = 8 * 1024 * 1024;

// Receives on the port until StopBareLoop; 0 then, 1 when the port could not be bound.
int RunBareLoop(int port, BenchState* state);
void StopBareLoop();
