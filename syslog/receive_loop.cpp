#include "receive_loop.h"

#include <winsock2.h>
#include <process.h>

#include <cstdlib>

#include "message.h"
#include "udp_socket.h"

int CSyslogMinitor::m_iSocketPort = OVSYSLOG_DEFAULT_PORT;
int CSyslogMinitor::m_iTrapStatus = 0;

namespace {

constexpr DWORD kOutOfMemoryPauseMs = 50;

CUdpSocket g_socket;
HANDLE g_lastThread = nullptr;  // touched only by the loop thread
// One count per datagram thread that may still start; the loop waits on it at the bound.
HANDLE g_threadSlots = CreateSemaphoreA(nullptr, kMaxDatagramThreads, kMaxDatagramThreads, nullptr);

volatile LONG* TrapStatus(int& flag) { return reinterpret_cast<volatile LONG*>(&flag); }

void ReleaseSlot() { ReleaseSemaphore(g_threadSlots, 1, nullptr); }

unsigned RunDatagram(DatagramHandoff* handoff) {
    SyslogCallback callback = handoff->callback;
    char* data = handoff->data;
    int length = handoff->length;
    std::uint32_t* address = handoff->address;

    if (length < 1) {
        std::free(address);
        std::free(data);
        std::free(handoff);
        return static_cast<unsigned>(SYSLOG_E_NODATA);
    }

    CSyslogMinitor* message = new CSyslogMessage;
    in_addr sender;
    sender.s_addr = *address;
    int result = message->parse(data, length, inet_ntoa(sender));

    std::free(address);
    std::free(data);
    std::free(handoff);

    if (result != 0) {
        delete message;
        return static_cast<unsigned>(result);
    }
    // The callback owns the object and its two text blocks from here on.
    return callback(message);
}

// Starts the datagram thread, or frees the record when it cannot.
void StartDatagramThread(DatagramHandoff* handoff) {
    if (g_lastThread != nullptr) CloseHandle(g_lastThread);
    g_lastThread = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, kDatagramThreadStack, DatagramThread, handoff, STACK_SIZE_PARAM_IS_A_RESERVATION,
        nullptr));
    if (g_lastThread == nullptr) {
        std::free(handoff->address);
        std::free(handoff->data);
        std::free(handoff);
        ReleaseSlot();
    }
}

}  // namespace

unsigned __stdcall DatagramThread(void* handoff) {
    unsigned result = RunDatagram(static_cast<DatagramHandoff*>(handoff));
    ReleaseSlot();
    return result;
}

int CSyslogMinitor::accept(SyslogCallback callback) {
    int opened = g_socket.open(m_iSocketPort);
    if (opened != 0) return opened;
    InterlockedExchange(TrapStatus(m_iTrapStatus), 0);

    auto stopRequested = [] { return InterlockedCompareExchange(TrapStatus(m_iTrapStatus), 0, 0) == 1; };
    for (;;) {
        // At the bound the datagrams wait in the socket's buffer, not in the process.
        bool haveSlot = WaitForSingleObject(g_threadSlots, kReceiveWaitMs) == WAIT_OBJECT_0;
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
            ReleaseSlot();
            if (stopRequested()) break;
            continue;
        }
        *handoff = DatagramHandoff{callback, data, n, address, sourcePort};
        StartDatagramThread(handoff);
    }
    g_socket.close();
    return 0;
}

void CSyslogMinitor::stopTrap() { InterlockedExchange(TrapStatus(m_iTrapStatus), 1); }

void CSyslogMinitor::setRadiusPort(int port) { m_iSocketPort = port; }

int CSyslogMinitor::getRadiusPort() { return m_iSocketPort; }
