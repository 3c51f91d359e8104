// The receive loop and its datagram threads.
#pragma once

#include <cstdint>

#include "OVSyslog.h"

constexpr int kDatagramCapacity = 4096;      // longer datagrams are cut to this
constexpr unsigned int kReceiveWaitMs = 2000;  // bounds how long a stop request waits
constexpr long kMaxDatagramThreads = 128;
constexpr unsigned kDatagramThreadStack = 64 * 1024;  // 128 of them fit a 32-bit address space

// Allocated by the loop for each datagram; the datagram thread frees it and both blocks.
struct DatagramHandoff {
    SyslogCallback callback;
    char* data;              // kDatagramCapacity bytes
    int length;              // bytes received, at least 1
    std::uint32_t* address;  // sender's IPv4 address, network byte order
    std::uint16_t sourcePort;
};

// Runs the datagram it is started with, then those handed to it while it waits.
unsigned __stdcall DatagramThread(void* handoff);
