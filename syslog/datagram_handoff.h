// The record the receive loop makes for each datagram and the datagram thread frees. The loop's
// thread allocates it and hands it over; the datagram thread that handles it frees it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "OVSyslog.h"
#include "sender_address.h"

struct DatagramHandoff {
    SyslogCallback callback;
    char* data;              // length bytes
    int length;              // bytes received, at least 1
    SenderAddress* address;  // an IPv4 sender mapped into IPv6
    std::uint16_t sourcePort;
};

// One allocation holds the record, the address and the data at the datagram's own length; null
// when there is no memory for it.
DatagramHandoff* NewHandoff(SyslogCallback callback, const char* data, int length,
                            const SenderAddress& address, std::uint16_t sourcePort);
void FreeHandoff(DatagramHandoff* handoff);
// What a datagram of this length holds of memory, for the bounds on what is read and not handled.
std::size_t HandoffBytes(int length);
