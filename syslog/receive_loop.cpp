#include "receive_loop.h"

#include <winsock2.h>

#include <climits>

#include "datagram_threads.h"
#include "loop_control.h"
#include "ovwin/locks.h"
#include "tcp_listener.h"
#include "udp_socket.h"

int CSyslogMinitor::m_iSocketPort = OVSYSLOG_DEFAULT_PORT;
int CSyslogMinitor::m_iTrapStatus = 0;

namespace {

CUdpSocket g_socket;
// Never destroyed: its thread may still queue what it read while the process ends.
TcpListener& g_tcp = *new TcpListener;
LoopControl g_control;
volatile LONG g_listeningPort = 0;  // the bound port while accept runs, else 0
volatile LONG g_dropped = 0;        // datagrams the full backlog had no room for, since load

// A request between two reads is seen at once when datagrams flow; a read blocked on an idle
// socket is ended by an empty datagram of our own.
void WakeLoop() {
    LONG port = ovwin::AtomicRead(g_listeningPort);
    if (port != 0) WakeReceiver(static_cast<int>(port));
}

}  // namespace

// Reads as fast as the platform allows and never waits for forwarding: every datagram is queued
// for the datagram threads, and only the full backlog drops one. A pause is taken here, between
// two reads, so the loop never stops inside a read or holding anything another thread needs.
int CSyslogMinitor::accept(SyslogCallback callback) {
    g_socket.setRecvBuffer(getRecvBufferSize());
    int opened = g_socket.open(m_iSocketPort);
    if (opened != 0) return opened;
    TcpSettings tcp = CurrentTcpSettings();
    if (tcp.port != 0 && (opened = g_tcp.Open(tcp)) != 0) {
        g_socket.close();  // neither port is held by a receiver that does not run
        return opened;
    }
    g_control.Reset();
    InterlockedExchange(reinterpret_cast<volatile LONG*>(&m_iTrapStatus), 0);
    OpenDatagramThreads();
    if (tcp.port != 0 && !g_tcp.Start(callback, &g_control)) {
        CloseDatagramThreads();
        g_socket.close();
        return SYSLOG_E_SOCKET;
    }
    InterlockedExchange(&g_listeningPort, g_socket.localPort());

    char buffer[kDatagramCapacity];
    while (g_control.BeforeRead()) {
        SenderAddress address;
        std::uint16_t sourcePort = 0;
        int n = g_socket.receive(buffer, kDatagramCapacity, &address, &sourcePort, kReceiveWaitMs);
        if (n < 1) continue;  // nothing within the wait, an empty datagram, or a wake-up
        DatagramHandoff* handoff = NewHandoff(callback, buffer, n, address, sourcePort);
        if (handoff == nullptr || !QueueDatagram(handoff)) {
            FreeHandoff(handoff);
            InterlockedIncrement(&g_dropped);
        }
    }
    InterlockedExchange(&g_listeningPort, 0);
    g_socket.close();
    g_tcp.Stop();
    g_control.Ended();
    CloseDatagramThreads();
    return 0;
}

void CSyslogMinitor::stopTrap() {
    InterlockedExchange(reinterpret_cast<volatile LONG*>(&m_iTrapStatus), 1);
    g_control.RequestStop();
    WakeLoop();
}

void CSyslogMinitor::pauseTrap() {
    g_control.RequestPause();
    WakeLoop();
}

void CSyslogMinitor::continueTrap() { g_control.RequestContinue(); }

bool CSyslogMinitor::isPaused() { return g_control.Paused() && (!g_tcp.Running() || g_tcp.Resting()); }

void CSyslogMinitor::setRadiusPort(int port) { m_iSocketPort = port; }

int CSyslogMinitor::getRadiusPort() { return m_iSocketPort; }

bool CSyslogMinitor::isListening() { return ovwin::AtomicRead(g_listeningPort) != 0; }

long CSyslogMinitor::getPendingCount() {
    std::uint64_t pending = PendingDatagrams() + PendingStreamMessages() + g_tcp.Held();
    return pending > LONG_MAX ? LONG_MAX : static_cast<long>(pending);
}

unsigned long CSyslogMinitor::getDroppedCount() {
    return static_cast<unsigned long>(ovwin::AtomicRead(g_dropped));
}
