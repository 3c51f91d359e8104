#include "datagram_threads.h"

#include <winsock2.h>
#include <process.h>

#include "com_count.h"
#include "lanes.h"
#include "message.h"

namespace {

unsigned HandleDatagram(DatagramHandoff* handoff) {
    SyslogCallback callback = handoff->callback;
    if (handoff->length < 1) {
        FreeHandoff(handoff);
        return static_cast<unsigned>(SYSLOG_E_NODATA);
    }
    CSyslogMinitor* message = new CSyslogMessage;
    in_addr sender;
    sender.s_addr = *handoff->address;
    int result = message->parse(handoff->data, handoff->length, inet_ntoa(sender));
    FreeHandoff(handoff);

    if (result != 0) {
        delete message;
        return static_cast<unsigned>(result);
    }
    // The callback owns the object and its two text blocks from here on.
    return callback(message);
}

unsigned __stdcall DatagramThread(void* lanes) {
    static_cast<Lanes*>(lanes)->Work();
    // Each parse initialised COM here and left it so for the next datagram: give them all back.
    UninitializeCounted();
    return 0;
}

class WindowsThreads : public LanesPlatform {
public:
    // Threads are never joined: the handle is let go at once.
    bool StartThread(Lanes& lanes) override {
        HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(
            nullptr, kDatagramThreadStack, DatagramThread, &lanes, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (thread == nullptr) return false;
        CloseHandle(thread);
        return true;
    }
    void Handle(void* datagram) override { HandleDatagram(static_cast<DatagramHandoff*>(datagram)); }
};

// Never destroyed: pool threads may still wait on it while the process ends.
Lanes& TheLanes() {
    static Lanes& lanes = *new Lanes(*new WindowsThreads, [] {
        LanesLimits limits;
        limits.maxThreads = kMaxDatagramThreads;
        limits.maxCount = kBacklogMaxCount;
        limits.maxBytes = kBacklogMaxBytes;
        limits.lingerMs = kDatagramThreadLingerMs;
        limits.laneWindow = kLaneWindow;
        return limits;
    }());
    return lanes;
}

}  // namespace

void OpenDatagramThreads() { TheLanes().Open(); }

void CloseDatagramThreads() { TheLanes().Close(); }

bool QueueDatagram(DatagramHandoff* handoff) {
    return TheLanes().Push({handoff, *handoff->address, static_cast<std::uint32_t>(HandoffBytes(handoff->length))});
}

std::uint64_t PendingDatagrams() { return TheLanes().Pending(); }

void CSyslogMinitor::deliverInTurn(SyslogTurnStep step, void* context) {
    if (!Lanes::InTurn(step, context)) step(context);
}
