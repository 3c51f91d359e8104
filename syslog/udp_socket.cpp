#include "udp_socket.h"

#include <ws2tcpip.h>

#include <cstring>

#include "OVSyslog.h"

namespace {

// Started once per process and never cleaned up; kept even when the start-up failed, so that it is
// tried only once.
WSADATA* g_startup = nullptr;

}  // namespace

CUdpSocket::~CUdpSocket() = default;

bool StartSockets() {
    if (g_startup != nullptr) return true;
    g_startup = new WSADATA{};
    return WSAStartup(MAKEWORD(2, 2), g_startup) == 0;
}

SOCKET DualStackSocket(int type, int* family) {
    SOCKET s = socket(AF_INET6, type, 0);
    if (s != INVALID_SOCKET) {
        DWORD v6only = 0;
        if (setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6only), sizeof v6only) ==
            0) {
            *family = AF_INET6;
            return s;
        }
        closesocket(s);
    }
    *family = AF_INET;
    return socket(AF_INET, type, 0);
}

int BindWildcard(SOCKET s, int family, int port) {
    sockaddr_storage local = {};
    int length = 0;
    u_short netPort = htons(static_cast<u_short>(port & 0xFFFF));
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&local);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_any;
        in6->sin6_port = netPort;
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&local);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_ANY);
        in4->sin_port = netPort;
        length = sizeof *in4;
    }
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), length) == SOCKET_ERROR) return 0;
    length = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR) return 0;
    // Both families keep the port at the same place.
    return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
}

SenderAddress FromSockaddr(const sockaddr_storage& from) {
    if (from.ss_family == AF_INET6) {
        SenderAddress address;
        std::memcpy(address.bytes, &reinterpret_cast<const sockaddr_in6*>(&from)->sin6_addr, 16);
        return address;
    }
    return MappedIPv4(reinterpret_cast<const sockaddr_in*>(&from)->sin_addr.s_addr);
}

int CUdpSocket::open(int port) {
    if (!StartSockets()) return SYSLOG_E_STARTUP;

    int family = AF_INET;
    m_hSocket = DualStackSocket(SOCK_DGRAM, &family);
    if (m_hSocket == INVALID_SOCKET) return SYSLOG_E_SOCKET;
    m_waitMs = 0;

    // A burst waits here while the one reader catches up. Under Wine the host's
    // net.core.rmem_max caps what the socket really gets.
    int size = static_cast<int>(m_recvBufferBytes);
    if (size > 0)
        setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);

    m_port = BindWildcard(m_hSocket, family, port);
    if (m_port == 0) {
        close();  // the next open makes a new socket; this one would only leak
        return SYSLOG_E_BIND;
    }
    return 0;
}

// A blocking read with a receive time-out: under Wine a select before each read, or reads that
// end in would-block, cost several times as much as the read itself.
int CUdpSocket::receive(char* buffer, int capacity, SenderAddress* address, std::uint16_t* port,
                        unsigned int waitMs) {
    if (waitMs != m_waitMs) {
        DWORD timeout = waitMs;
        setsockopt(m_hSocket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof timeout);
        m_waitMs = waitMs;
    }

    sockaddr_storage from = {};
    int fromLength = sizeof from;
    int n = recvfrom(m_hSocket, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    *address = FromSockaddr(from);
    *port = ntohs(reinterpret_cast<const sockaddr_in*>(&from)->sin_port);
    if (n == SOCKET_ERROR) {
        // The buffer then holds the datagram's first capacity bytes: keep them.
        return WSAGetLastError() == WSAEMSGSIZE ? capacity : SYSLOG_E_WAIT;
    }
    return n;
}

int CUdpSocket::close() {
    int result = closesocket(m_hSocket);
    m_hSocket = INVALID_SOCKET;
    m_port = 0;
    return result;
}

void WakeReceiver(int port) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<u_short>(port));
    sendto(s, "", 0, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    closesocket(s);
}
