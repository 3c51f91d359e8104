#include "udp_socket.h"

#include "OVSyslog.h"

namespace {

// Started once per process and never cleaned up; kept even when the start-up failed, so that it is
// tried only once.
WSADATA* g_startup = nullptr;

}  // namespace

CUdpSocket::~CUdpSocket() = default;

int CUdpSocket::open(int port) {
    if (g_startup == nullptr) {
        g_startup = new WSADATA{};
        if (WSAStartup(MAKEWORD(2, 2), g_startup) != 0) return SYSLOG_E_STARTUP;
    }

    m_hSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_hSocket == INVALID_SOCKET) return SYSLOG_E_SOCKET;
    m_waitMs = 0;

    // A burst waits here while the one reader catches up. Under Wine the host's
    // net.core.rmem_max caps what the socket really gets.
    int size = static_cast<int>(CSyslogMinitor::getRecvBufferSize());
    setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);

    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    if (bind(m_hSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
        close();  // the next open makes a new socket; this one would only leak
        return SYSLOG_E_BIND;
    }
    int length = sizeof local;
    getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&local), &length);
    m_port = ntohs(local.sin_port);
    return 0;
}

// A blocking read with a receive time-out: under Wine a select before each read, or reads that
// end in would-block, cost several times as much as the read itself.
int CUdpSocket::receive(char* buffer, int capacity, std::uint32_t* address, std::uint16_t* port,
                        unsigned int waitMs) {
    if (waitMs != m_waitMs) {
        DWORD timeout = waitMs;
        setsockopt(m_hSocket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        m_waitMs = waitMs;
    }

    sockaddr_in from = {};
    int fromLength = sizeof from;
    int n = recvfrom(m_hSocket, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    *address = from.sin_addr.s_addr;
    *port = ntohs(from.sin_port);
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
