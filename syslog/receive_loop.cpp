#include "receive_loop.h"

#include <winsock2.h>

#include "backlog.h"
#include "datagram_threads.h"
#include "udp_socket.h"

int CSyslogMinitor::m_iSocketPort = OVSYSLOG_DEFAULT_PORT;
int CSyslogMinitor::m_iTrapStatus = 0;

namespace {

CUdpSocket g_socket;
volatile LONG g_listeningPort = 0;  // the bound port while accept runs, else 0
volatile LONG g_dropped = 0;        // datagrams the full backlog had no room for, since load

volatile LONG* TrapStatus(int& flag) { return reinterpret_cast<volatile LONG*>(&flag); }

bool StopRequested(int& flag) { return InterlockedCompareExchange(TrapStatus(flag), 0, 0) == 1; }

}  // namespace

// Reads as fast as the platform allows and never waits for forwarding: every datagram goes into
// the backlog, and only a full backlog drops one.
int CSyslogMinitor::accept(SyslogCallback callback) {
    int opened = g_socket.open(m_iSocketPort);
    if (opened != 0) return opened;
    InterlockedExchange(TrapStatus(m_iTrapStatus), 0);
    InterlockedExchange(&g_listeningPort, g_socket.localPort());

    char buffer[kDatagramCapacity];
    while (!StopRequested(m_iTrapStatus)) {
        std::uint32_t address = 0;
        std::uint16_t sourcePort = 0;
        int n = g_socket.receive(buffer, kDatagramCapacity, &address, &sourcePort, kReceiveWaitMs);
        if (n < 1) continue;  // nothing within the wait, an empty datagram, or the stop's wake-up
        turns::Ticket ticket = turns::Issue(backlog::NextPosition(), address);
        DatagramHandoff* handoff = NewHandoff(callback, buffer, n, address, sourcePort, ticket);
        if (handoff == nullptr || !QueueDatagram(handoff)) {
            FreeHandoff(handoff);
            InterlockedIncrement(&g_dropped);
        }
    }
    InterlockedExchange(&g_listeningPort, 0);
    g_socket.close();
    return 0;
}

void CSyslogMinitor::stopTrap() {
    InterlockedExchange(TrapStatus(m_iTrapStatus), 1);
    LONG port = InterlockedCompareExchange(&g_listeningPort, 0, 0);
    if (port != 0) WakeReceiver(static_cast<int>(port));
}

void CSyslogMinitor::setRadiusPort(int port) { m_iSocketPort = port; }

int CSyslogMinitor::getRadiusPort() { return m_iSocketPort; }

bool CSyslogMinitor::isListening() { return InterlockedCompareExchange(&g_listeningPort, 0, 0) != 0; }

long CSyslogMinitor::getPendingCount() { return PendingDatagrams(); }

unsigned long CSyslogMinitor::getDroppedCount() {
    return static_cast<unsigned long>(InterlockedCompareExchange(&g_dropped, 0, 0));
}
