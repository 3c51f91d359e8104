#include "receive_loop.h"

#include <winsock2.h>

#include <cstdlib>

#include "datagram_threads.h"
#include "udp_socket.h"

int CSyslogMinitor::m_iSocketPort = OVSYSLOG_DEFAULT_PORT;
int CSyslogMinitor::m_iTrapStatus = 0;

namespace {

constexpr DWORD kOutOfMemoryPauseMs = 50;

CUdpSocket g_socket;

volatile LONG* TrapStatus(int& flag) { return reinterpret_cast<volatile LONG*>(&flag); }

}  // namespace

int CSyslogMinitor::accept(SyslogCallback callback) {
    int opened = g_socket.open(m_iSocketPort);
    if (opened != 0) return opened;
    InterlockedExchange(TrapStatus(m_iTrapStatus), 0);

    auto stopRequested = [] { return InterlockedCompareExchange(TrapStatus(m_iTrapStatus), 0, 0) == 1; };
    for (;;) {
        // At the bound the datagrams wait in the socket's buffer, not in the process.
        bool haveSlot = WaitForDatagramSlot(kReceiveWaitMs);
        if (!haveSlot) {
            if (stopRequested()) break;
            continue;
        }

        char* data = static_cast<char*>(std::malloc(kDatagramCapacity));
        auto* address = static_cast<std::uint32_t*>(std::malloc(sizeof(std::uint32_t)));
        std::uint16_t sourcePort = 0;
        int n = SYSLOG_E_WAIT;
        if (data != nullptr && address != nullptr)
            n = g_socket.receive(data, kDatagramCapacity, address, &sourcePort, kReceiveWaitMs);
        else
            Sleep(kOutOfMemoryPauseMs);  // out of memory: let the datagram threads give some back

        auto* handoff = n >= 1 && !stopRequested()
                            ? static_cast<DatagramHandoff*>(std::malloc(sizeof(DatagramHandoff)))
                            : nullptr;
        if (handoff == nullptr) {
            std::free(data);
            std::free(address);
            ReleaseDatagramSlot();
            if (stopRequested()) break;
            continue;
        }
        *handoff = DatagramHandoff{callback, data, n, address, sourcePort};
        DispatchDatagram(handoff);
    }
    g_socket.close();
    return 0;
}

void CSyslogMinitor::stopTrap() { InterlockedExchange(TrapStatus(m_iTrapStatus), 1); }

void CSyslogMinitor::setRadiusPort(int port) { m_iSocketPort = port; }

int CSyslogMinitor::getRadiusPort() { return m_iSocketPort; }
