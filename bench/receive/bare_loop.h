// The comparison receiver: a plain blocking recvfrom loop on one thread, no datagram threads. What
// it reads is what the platform can deliver to one reader.
#pragma once

#include "control.h"
#include "receive_loop.h"

// Same wait and capacity as the library's loop, so that only the threads differ.
constexpr unsigned int kBareWaitMs = kReceiveWaitMs;
constexpr int kBareCapacity = kDatagramCapacity;

// Receives on the port, asking for a receive buffer of bufferBytes, until StopBareLoop; 0 then, 1
// when the port could not be bound.
int RunBareLoop(int port, int bufferBytes, BenchState* state);
void StopBareLoop();
