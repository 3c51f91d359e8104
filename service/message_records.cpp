#include "message_records.h"

#include <rpc.h>

#include <string>

#include "OVSyslog.h"
#include "event_record.h"
#include "forwarding.h"
#include "ovwin/handles.h"
#include "suite.h"

using namespace ovwin;

namespace {

class RpcString {
public:
    ~RpcString() {
        if (m_s != nullptr) RpcStringFreeA(&m_s);
    }
    RPC_CSTR* put() { return &m_s; }
    const char* c_str() const { return reinterpret_cast<const char*>(m_s); }

private:
    RPC_CSTR m_s = nullptr;
};

// A null string or a failed conversion counts as empty text.
std::string ToAnsi(BSTR wide) {
    if (wide == nullptr) return {};
    UINT length = SysStringLen(wide);
    std::vector<char> buffer(2 * static_cast<size_t>(length) + 2, '\0');
    int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), buffer.data(),
                                static_cast<int>(buffer.size() - 1), nullptr, nullptr);
    if (n <= 0) return {};
    return std::string(buffer.data(), static_cast<size_t>(n)).c_str();  // cut at an inner NUL
}

bool Create(const CLSID& clsid, const IID& iid, ComPtr<>& object) {
    return SUCCEEDED(CoCreateInstance(clsid, nullptr, kSuiteClassContext, iid, object.put())) && object;
}

// A component that cannot be created gives an empty identifier.
std::string LocalServerId(const ComPtr<>& localSystem) {
    if (!localSystem) return {};
    UniqueBstr id;
    CallEntry(localSystem.get(), kEntryGetLocalServerId, id.put());
    return ToAnsi(id.get());
}

std::string NewLocalServerId() {
    ComPtr localSystem;
    Create(kLocalSystemClass, kLocalSystemInterface, localSystem);
    return LocalServerId(localSystem);
}

PreparedRecord PrepareRecord(const char* host, const char* destination, const char* text) {
    PreparedRecord prepared;
    prepared.destination = destination != nullptr ? destination : "";
    UUID uuid;
    if (CoCreateGuid(&uuid) != S_OK) return prepared;
    RpcString eventId;
    UuidToStringA(&uuid, eventId.put());
    // Asked anew for every record.
    std::string local = NewLocalServerId();
    prepared.record = BuildEventRecord(local.c_str(), host, eventId.c_str(), text);
    prepared.made = true;
    return prepared;
}

}  // namespace

// A refused record waits out its retries in the delivery queue, and one refused at every attempt
// is spooled for its destination.
int DeliverRecords(const PreparedMessage& prepared) {
    CDeliveryQueue* queue = DeliveryQueue();
    std::vector<OutgoingRecord> records;
    for (const PreparedRecord& p : prepared)
        if (p.made) records.push_back({p.destination, p.record});
    // Every caller starts the forwarding first; without it nothing could be kept.
    if (queue == nullptr || records.empty()) return 0;
    bool accepted = queue->Deliver(std::move(records));
    return accepted && prepared.back().made ? kRecordAccepted : 0;
}

int SendEventRecord(const char* host, const char* destination, const char* text) {
    return DeliverRecords({PrepareRecord(host, destination, text)});
}

// Every record is made before the first is delivered, so that the component creations, which
// cost most, can run beside another message's delivery.
PreparedMessage PrepareForward(const char* host, const char* text) {
    PreparedMessage records;
    {
        ComPtr localSystem;
        Create(kLocalSystemClass, kLocalSystemInterface, localSystem);
        records.push_back(PrepareRecord(host, LocalServerId(localSystem).c_str(), text));
    }
    ComPtr serverList;
    if (Create(kServerListClass, kServerListInterface, serverList)) {
        long count = 0;
        CallEntry(serverList.get(), kEntryGetCount, &count);
        for (long i = 0; i < count; ++i) {
            UniqueBstr id;
            CallEntry(serverList.get(), kEntryGetServer, i, id.put());
            records.push_back(PrepareRecord(host, ToAnsi(id.get()).c_str(), text));
        }
    }
    serverList.reset();
    return records;
}

int ForwardEvent(const char* host, const char* text) { return DeliverRecords(PrepareForward(host, text)); }
