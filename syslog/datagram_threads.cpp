#include "datagram_threads.h"

#include <winsock2.h>
#include <process.h>

#include <cstring>

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
    char sender[kSenderTextSize];
    FormatSender(*handoff->address, sender, sizeof sender);
    int result = message->parse(handoff->data, handoff->length, sender);
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
        HANDLE thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, kDatagramThreadStack, DatagramThread, &lanes,
                                                    STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (thread == nullptr) return false;
        CloseHandle(thread);
        return true;
    }
    void Handle(void* datagram) override { HandleDatagram(static_cast<DatagramHandoff*>(datagram)); }
};

// Never destroyed: pool threads may still wait on them while the process ends.
Lanes& NewLanes(std::size_t maxThreads, std::uint64_t maxCount, std::uint64_t maxBytes) {
    LanesLimits limits;
    limits.maxThreads = maxThreads;
    limits.maxCount = maxCount;
    limits.maxBytes = maxBytes;
    limits.lingerMs = kDatagramThreadLingerMs;
    limits.laneWindow = kLaneWindow;
    return *new Lanes(*new WindowsThreads, limits);
}

Lanes& TheLanes() {
    static Lanes& lanes = NewLanes(kMaxDatagramThreads, kBacklogMaxCount, kBacklogMaxBytes);
    return lanes;
}

// The messages of TCP connections have lanes of their own: what they cannot take waits in the
// connections' sockets, and a TCP flood never fills the room that UDP drops without.
Lanes& StreamLanes() {
    static Lanes& lanes = NewLanes(kMaxStreamThreads, kStreamBacklogMaxCount, kStreamBacklogMaxBytes);
    return lanes;
}

SenderKey SenderOf(const SenderAddress& address) {
    SenderKey key;
    std::memcpy(&key.high, address.bytes, 8);
    std::memcpy(&key.low, address.bytes + 8, 8);
    return key;
}

}  // namespace

void OpenStreamThreads() { StreamLanes().Open(); }

void CloseStreamThreads() { StreamLanes().Close(); }

bool QueueStreamMessage(DatagramHandoff* handoff, std::uint64_t connection) {
    return StreamLanes().Push({handoff, SenderKey(kStreamSenderMark, connection),
                               static_cast<std::uint32_t>(HandoffBytes(handoff->length))});
}

std::uint64_t PendingStreamMessages() { return StreamLanes().Pending(); }

void OpenDatagramThreads() { TheLanes().Open(); }

void CloseDatagramThreads() { TheLanes().Close(); }

bool QueueDatagram(DatagramHandoff* handoff) {
    return TheLanes().Push(
        {handoff, SenderOf(*handoff->address), static_cast<std::uint32_t>(HandoffBytes(handoff->length))});
}

std::uint64_t PendingDatagrams() { return TheLanes().Pending(); }

void CSyslogMinitor::deliverInTurn(SyslogTurnStep step, void* context) {
    if (!Lanes::InTurn(step, context)) step(context);
}
