// The receive loop and its datagram threads.
#pragma once

#include <cstdint>

#include "OVSyslog.h"

constexpr int kDatagramCapacity = 4096;        // longer datagrams are cut to this
constexpr unsigned int kReceiveWaitMs = 2000;  // a read gives up after this, and looks at the stop flag
constexpr long kMaxDatagramThreads = 128;
constexpr unsigned kDatagramThreadStack = 64 * 1024;  // 128 of them fit a 32-bit address space

// Made by the loop for each datagram and freed by the datagram thread that handles it. One
// allocation holds the record, the address and the data, which is the datagram's own length.
struct DatagramHandoff {
    SyslogCallback callback;
    char* data;              // length bytes
    int length;              // bytes received, at least 1
    std::uint32_t* address;  // sender's IPv4 address, network byte order
    std::uint16_t sourcePort;
};

// Runs datagrams from the backlog until none comes within the linger time.
unsigned __stdcall DatagramThread(void* unused);
