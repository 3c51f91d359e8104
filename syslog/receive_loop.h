// The receive loop: reads each datagram as it comes and queues it for the datagram threads.
#pragma once

#include "OVSyslog.h"

constexpr int kDatagramCapacity = 4096;        // longer datagrams are cut to this
constexpr unsigned int kReceiveWaitMs = 2000;  // a read gives up after this, and looks at its requests
