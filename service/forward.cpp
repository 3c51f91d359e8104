#include "forward.h"

#include <rpc.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "event_record.h"
#include "ovwin/handles.h"
#include "suite.h"

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

}  // namespace

int SendEventRecord(const char* host, const char* destination, const char* text) {
    UUID uuid;
    if (CoCreateGuid(&uuid) != S_OK) return 0;
    RpcString eventId;
    UuidToStringA(&uuid, eventId.put());

    // Asked anew for every record.
    std::string local = NewLocalServerId();
    EventRecord record = BuildEventRecord(local.c_str(), host, eventId.c_str(), text);

    int result = 0;
    for (int attempt = 0; attempt < kDeliveryAttempts; ++attempt) {
        result = OrvaneDeliver(destination != nullptr ? destination : "", record.data());
        if (result == kDelivered) break;
        Sleep(static_cast<DWORD>(std::rand() % kRetryWaitModulusMs));
    }
    return result;
}

int ForwardEvent(const char* host, const char* text) {
    ComPtr localSystem;
    Create(kLocalSystemClass, kLocalSystemInterface, localSystem);
    int result = SendEventRecord(host, LocalServerId(localSystem).c_str(), text);

    ComPtr serverList;
    if (Create(kServerListClass, kServerListInterface, serverList)) {
        long count = 0;
        CallEntry(serverList.get(), kEntryGetCount, &count);
        for (long i = 0; i < count; ++i) {
            UniqueBstr id;
            CallEntry(serverList.get(), kEntryGetServer, i, id.put());
            result = SendEventRecord(host, ToAnsi(id.get()).c_str(), text);
        }
    }
    serverList.reset();
    localSystem.reset();
    return result;
}
