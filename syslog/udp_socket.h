// The receive loop's UDP socket.
#pragma once

#include <winsock2.h>

#include <cstdint>

#include "sender_address.h"

class CUdpSocket {
public:
    CUdpSocket() = default;
    virtual ~CUdpSocket();  // leaves the socket open: the loop closes it on a stop

    // The receive buffer the next open asks the system for.
    void setRecvBuffer(unsigned long bytes) { m_recvBufferBytes = bytes; }
    // 0, SYSLOG_E_STARTUP, SYSLOG_E_SOCKET or SYSLOG_E_BIND. Only the low 16 bits of port count.
    // IPv6 and IPv4 senders both reach it (IPv4 alone where the system has no IPv6).
    int open(int port);
    // Bytes read (0 for an empty datagram; a longer datagram is cut to capacity) or SYSLOG_E_WAIT
    // when nothing came within the wait. A wait of 0 blocks until a datagram arrives.
    int receive(char* buffer, int capacity, SenderAddress* address, std::uint16_t* port, unsigned int waitMs);
    int close();
    // The port the socket is bound to (the one the system chose for port 0); 0 when not bound.
    int localPort() const { return m_port; }

private:
    SOCKET m_hSocket = INVALID_SOCKET;
    int m_port = 0;
    unsigned int m_waitMs = 0;            // the receive time-out now set on the socket
    unsigned long m_recvBufferBytes = 0;  // 0: the system's own
};

// The socket library, started once per process: false when this first start-up failed (a later
// call does not try again).
bool StartSockets();
// A socket of the type that takes IPv6 and IPv4 alike where the system allows it, else IPv4; the
// family it got goes to *family.
SOCKET DualStackSocket(int type, int* family);
// Binds s to the wildcard address of its family and the low 16 bits of port; the bound port, or 0.
int BindWildcard(SOCKET s, int family, int port);
// What the system gave for a sender's address, in the receiver's form.
SenderAddress FromSockaddr(const sockaddr_storage& from);

// Sends an empty datagram to the loopback port, so that a read blocked on it returns at once.
void WakeReceiver(int port);
