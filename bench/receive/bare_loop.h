// The comparison receiver: a plain blocking recvfrom loop on one thread, no datagram threads. What
// it reads is what the platform can deliver to one reader.
#pragma once

#include "control.h"
#include "receive_loop.h"
#include "udp_socket.h"

// Same wait, capacity and receive buffer as the library's loop, so that only the threads differ.
constexpr unsigned int kBareWaitMs = kReceiveWaitMs;
constexpr int kBareCapacity = kDatagramCapacity;
constexpr int kBareReceiveBufferBytes = kReceiveBufferBytes;

// Receives on the port until StopBareLoop; 0 then, 1 when the port could not be bound.
int RunBareLoop(int port, BenchState* state);
void StopBareLoop();
