// The receive loop's UDP socket.
#pragma once

#include <winsock2.h>

#include <cstdint>

class CUdpSocket {
public:
    CUdpSocket() = default;
    virtual ~CUdpSocket();  // leaves the socket open: the loop closes it on a stop

    // 0, SYSLOG_E_STARTUP, SYSLOG_E_SOCKET or SYSLOG_E_BIND. Only the low 16 bits of port count.
    int open(int port);
    // Bytes read (0 for an empty datagram; a longer datagram is cut to capacity) or SYSLOG_E_WAIT.
    // A wait of 0 blocks until a datagram arrives.
    int receive(char* buffer, int capacity, std::uint32_t* address, std::uint16_t* port,
                unsigned int waitMs);
    int close();

private:
    SOCKET m_hSocket = INVALID_SOCKET;
};

// Enlarged so that bursts wait in the socket while all datagram threads are busy.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
